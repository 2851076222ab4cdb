// The console's state that the command actions read and change: the
// argument frame of the command being run, the display mode, the current
// slave address and whether this console has the bus open.
#pragma once

#include <cstddef>
#include <cstdint>

namespace console {

// One command takes at most this many numbers.
inline constexpr std::size_t max_arguments = 19;

enum class DisplayMode : std::uint8_t { decimal = 0, hexadecimal = 1 };

// The argument frame, filled anew by the interpreter for every command.
std::uint8_t argument_count();
// Slot `index` (below max_arguments): the low 8 bits of that number.
std::uint8_t argument(std::size_t index);
// All max_arguments slots, in the order typed.
const std::uint8_t* argument_bytes();
void set_arguments(const std::uint8_t* bytes, std::uint8_t count);

DisplayMode display_mode();
void set_display_mode(DisplayMode mode);

std::uint8_t current_address();
void set_current_address(std::uint8_t address);

bool bus_open();
void set_bus_open(bool open);

// Asked by QUIT: no further command runs and the program ends.
void request_end();
bool end_requested();

// Back to the state at start-up: no arguments, decimal mode, address 0, bus
// closed, no end asked. For a host that runs the line loop more than once
// in one process (the fuzz target of the line handling).
void reset();

}  // namespace console
