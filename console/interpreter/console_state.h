// What a command action is given: the numbers typed after its word, and the
// console's state that lasts from command to command (the display mode, the
// slave address in force, whether this console has the bus open, whether
// QUIT was given). The interpreter owns both and hands them to each action.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace console {

// One command takes at most this many numbers.
inline constexpr std::size_t max_arguments = 19;

enum class DisplayMode : std::uint8_t { decimal = 0, hexadecimal = 1 };

// The numbers of one command in the order typed, each the low 8 bits of
// what was written; only the first `count` of them were typed.
struct Arguments {
  std::array<std::uint8_t, max_arguments> bytes{};
  std::uint8_t count = 0;  // at most max_arguments
};

// A console as it starts: decimal mode, address 0, bus closed.
struct Console {
  DisplayMode mode = DisplayMode::decimal;
  std::uint8_t address = 0;    // the slave that ADDRESS last selected
  bool bus_open = false;       // opened by START, and not closed since
  bool end_requested = false;  // by QUIT: no further command runs
};

}  // namespace console
