// Line reading straight from a file descriptor, for input that is not a
// terminal (or goes without line editing).
#pragma once

#include <cstddef>

#include "console/interpreter/line_reading.h"

namespace plain_reader {

line_reading::Outcome read_line(int fd, char* buffer, std::size_t capacity,
                              std::size_t& length);

}  // namespace plain_reader
