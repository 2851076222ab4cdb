// Line editing and recall of earlier lines at a terminal, through libedit.
#pragma once

#include <cstddef>

#include "console/interpreter/line_reading.h"

namespace line_editor {

// Sets up editing on standard input and output; false when libedit
// cannot work there.
bool open(const char* program_name);
void close();

// libedit draws the prompt itself, so that it knows where the line starts
// when it redraws it.
line_reading::Outcome read_line(const char* prompt, char* buffer,
                              std::size_t capacity, std::size_t& length);

}  // namespace line_editor
