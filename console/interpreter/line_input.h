// Reading the console's input lines.
//
// When standard input and output are both a terminal, lines are read
// through libedit: they can be edited, and earlier lines recalled with the
// arrow keys. Otherwise standard input is read as it comes, byte for byte,
// and libedit is not involved. Either way the prompt is on the terminal
// before the console waits, and an end signal ends the wait.
#pragma once

#include <cstddef>

#include "console/interpreter/line_reading.h"

namespace line_input {

// Chooses terminal editing or plain reading; call once, before read_line.
void open(const char* program_name);
// Gives the terminal back as it was.
void close();

// Shows `prompt`, then reads one line into `buffer` (capacity bytes, the
// line at most capacity - 1 of them, zero-terminated) and sets `length`.
// A last line without its line end counts as a line. When the input ends
// (or an end signal comes) and standard output is a terminal, the line on
// the screen is ended first.
line_reading::Outcome read_line(const char* prompt, char* buffer, std::size_t capacity,
                                std::size_t& length);

}  // namespace line_input
