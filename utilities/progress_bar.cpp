#include "utilities/progress_bar.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace progress_bar {

namespace {

constexpr unsigned kWidth = 40;

}  // namespace

bool wanted() { return ::isatty(STDERR_FILENO) == 1; }

void show(unsigned done, unsigned total) {
  if (total == 0) return;
  const unsigned filled = done * kWidth / total;
  const std::string bar = std::string(filled, '#') + std::string(kWidth - filled, ' ');
  std::fprintf(stderr, "\r[%s] %3u%%  %u/%u bytes", bar.c_str(), done * 100 / total, done, total);
  if (done >= total) std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace progress_bar
