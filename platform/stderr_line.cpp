#include "platform/stderr_line.h"

#include <unistd.h>

#include <string>

#include "platform/file_utilities.h"

namespace portio {

void stderr_line(std::string_view text) {
  std::string line = "tarnwick: ";
  line.append(text);
  line.push_back('\n');
  // Nowhere is left to report a failure to.
  file_utilities::write_all(STDERR_FILENO, line);
}

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace portio
