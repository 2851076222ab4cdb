// Numbers as the console shows them, in the display mode in force.
#include "console/commands/number_display.h"

#include <cstdio>

namespace number_display {
namespace {

bool hexadecimal(console::DisplayMode mode) {
  return mode == console::DisplayMode::hexadecimal;
}

}  // namespace

void print_byte(std::uint8_t byte, console::DisplayMode mode) {
  const unsigned value = byte;
  std::printf(hexadecimal(mode) ? "%X " : "%u ", value);
}

void print_transfer(const char* caption, const std::uint8_t* bytes, std::int16_t count,
                    console::DisplayMode mode) {
  std::fputs(caption, stdout);
  for (std::int16_t i = 0; i < count; ++i) print_byte(bytes[i], mode);
  std::fputs("\n", stdout);
}

void print_address(std::uint8_t address, console::DisplayMode mode) {
  const unsigned value = address;
  std::printf(hexadecimal(mode) ? "Address : %X\n" : "Address : %u\n", value);
}

void print_slave(std::uint8_t address, console::DisplayMode mode) {
  const unsigned value = address;
  std::printf(hexadecimal(mode) ? "Slave at 0x%.2X\n" : "Slave at %u\n", value);
}

}  // namespace number_display
