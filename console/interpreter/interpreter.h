// The console's line loop: prompt, read a line, run its commands.
#pragma once

#include <cstddef>

namespace interpreter {

// Size of the line buffer: the longest line and its terminating zero.
inline constexpr std::size_t line_capacity = 1024;

// Runs lines until QUIT, the end of the input or an end signal, then closes
// an open bus. `line` holds line_capacity bytes and `word` room for the
// command word. Returns the exit status: 0, or 128 + the ending signal.
int run(char* line, char* word);

}  // namespace interpreter
