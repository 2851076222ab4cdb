// The console's line loop: prompt, read a line, run its commands.
#pragma once

#include <cstddef>

#include "console/interpreter/console_state.h"

namespace interpreter {

// Size of the line buffer: the longest line and its terminating zero.
inline constexpr std::size_t line_capacity = 1024;

// Runs lines until QUIT, the end of the input or an end signal, then closes
// an open bus. `state` is the console's, kept from command to command and
// left as the last command left it; a console just started passes a fresh
// one. `line` holds line_capacity bytes and `word` room for the command
// word. Returns the exit status: 0, or 128 + the ending signal.
int run(console::Console& state, char* line, char* word);

}  // namespace interpreter
