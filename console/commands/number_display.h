// Numbers as the console shows them, in the display mode given: the one in
// force when the command runs.
#pragma once

#include <cstdint>

#include "console/interpreter/console_state.h"

namespace number_display {

// One data byte followed by a blank.
void print_byte(std::uint8_t byte, console::DisplayMode mode);
// Every byte of a transfer on one line after its caption.
void print_transfer(const char* caption, const std::uint8_t* bytes, std::int16_t count,
                    console::DisplayMode mode);
// "Address : ..." for the address just accepted.
void print_address(std::uint8_t address, console::DisplayMode mode);
// "Slave at ..." for a slave that answered its address.
void print_slave(std::uint8_t address, console::DisplayMode mode);

}  // namespace number_display
