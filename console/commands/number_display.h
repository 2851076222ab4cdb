// Numbers as the console shows them, in the display mode in force.
#pragma once

#include <cstdint>

namespace number_display {

// One data byte followed by a blank.
void print_byte(std::uint8_t byte);
// Every byte of a transfer on one line after its caption.
void print_transfer(const char* caption, const std::uint8_t* bytes, std::int16_t count);
// "Address : ..." for the address just accepted.
void print_address(std::uint8_t address);
// "Slave at ..." for a slave that answered its address.
void print_slave(std::uint8_t address);

}  // namespace number_display
