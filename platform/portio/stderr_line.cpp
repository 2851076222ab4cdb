#include "platform/portio/stderr_line.h"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace portio {

void stderr_line(std::string_view text) {
  std::string line = "tarnwick: ";
  line.append(text);
  line.push_back('\n');
  const char* rest = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    const ssize_t done = ::write(STDERR_FILENO, rest, left);
    if (done < 0) {
      if (errno == EINTR) continue;
      return;  // nowhere left to report to
    }
    rest += done;
    left -= static_cast<std::size_t>(done);
  }
}

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace portio
