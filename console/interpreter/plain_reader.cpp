// Line reading straight from a file descriptor.
#include "console/interpreter/plain_reader.h"

#include <unistd.h>

#include <array>
#include <cerrno>

#include "console/interpreter/end_signals.h"

namespace plain_reader {
namespace {

// Input read ahead of the current line. Nothing else reads the descriptor.
std::array<char, 4096> chunk;
std::size_t chunk_start = 0;
std::size_t chunk_end = 0;

enum class Fill { more, ended };

Fill fill(int fd) {
  for (;;) {
    if (!end_signals::wait_for_input(fd)) return Fill::ended;
    const ssize_t got = ::read(fd, chunk.data(), chunk.size());
    if (got > 0) {
      chunk_start = 0;
      chunk_end = static_cast<std::size_t>(got);
      return Fill::more;
    }
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    return Fill::ended;  // end of file, or an error that ends the input alike
  }
}

}  // namespace

line_reading::Outcome read_line(int fd, char* buffer, std::size_t capacity,
                              std::size_t& length) {
  length = 0;
  buffer[0] = '\0';
  if (end_signals::received() != 0) return line_reading::Outcome::ended;
  bool anything_read = false;
  bool overlong = false;
  for (;;) {
    if (chunk_start == chunk_end && fill(fd) == Fill::ended) {
      // An end signal drops a half-read line; the end of the input does not.
      if (end_signals::received() != 0 || !anything_read) {
        length = 0;
        buffer[0] = '\0';
        return line_reading::Outcome::ended;
      }
      break;
    }
    anything_read = true;
    const char c = chunk[chunk_start++];
    if (c == '\n') break;
    // A line too long for the buffer is read to its end all the same, so
    // that its tail is never taken for the next line.
    if (length + 1 < capacity) {
      buffer[length++] = c;
    } else {
      overlong = true;
    }
  }
  buffer[length] = '\0';
  if (overlong) {
    length = 0;
    buffer[0] = '\0';
    return line_reading::Outcome::overlong;
  }
  return line_reading::Outcome::line;
}

}  // namespace plain_reader
