#include "utilities/tool_options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tool_options {

std::optional<long> number(const char* text, long low, long high) {
  if (text == nullptr || *text == '\0') return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 0);
  if (errno != 0 || *end != '\0' || end == text || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

std::optional<int> adapter(const char* text) {
  const auto value = number(text, 1, 3);
  if (!value) return std::nullopt;
  return static_cast<int>(*value);
}

int usage_error(const char* program, const std::string& what) {
  std::fprintf(stderr, "%s: %s (try '%s --help')\n", program, what.c_str(), program);
  return 2;
}

void print_version(const char* program) {
  std::printf("%s %s (Tarnwick %s)\n", program, TARNWICK_VERSION, TARNWICK_VERSION);
}

std::optional<int> help_or_version(const char* word, const char* program, const char* help) {
  if (std::strcmp(word, "--help") == 0) {
    std::fputs(help, stdout);
    return 0;
  }
  if (std::strcmp(word, "--version") == 0) {
    print_version(program);
    return 0;
  }
  return std::nullopt;
}

}  // namespace tool_options
