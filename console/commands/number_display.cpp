// Numbers as the console shows them, in the display mode in force.
#include "console/commands/number_display.h"

#include <cstdio>

#include "console/interpreter/console_state.h"

namespace number_display {
namespace {

bool hexadecimal() {
  return console::display_mode() == console::DisplayMode::hexadecimal;
}

}  // namespace

void print_byte(std::uint8_t byte) {
  const unsigned value = byte;
  std::printf(hexadecimal() ? "%X " : "%u ", value);
}

void print_transfer(const char* caption, const std::uint8_t* bytes, std::int16_t count) {
  std::fputs(caption, stdout);
  for (std::int16_t i = 0; i < count; ++i) print_byte(bytes[i]);
  std::fputs("\n", stdout);
}

void print_address(std::uint8_t address) {
  const unsigned value = address;
  std::printf(hexadecimal() ? "Address : %X\n" : "Address : %u\n", value);
}

void print_slave(std::uint8_t address) {
  const unsigned value = address;
  std::printf(hexadecimal() ? "Slave at 0x%.2X\n" : "Slave at %u\n", value);
}

}  // namespace number_display
