// One line on standard error, as the port layer and the bus locks report,
// written with a single write so that lines of several processes sharing a
// terminal never interleave mid-line.
#pragma once

#include <string_view>

namespace portio {

// Writes "tarnwick: " + text + "\n" to standard error.
void stderr_line(std::string_view text);

// True when standard error is a terminal (a person is watching).
bool stderr_is_terminal();

}  // namespace portio
