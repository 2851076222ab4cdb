// The console's state: one instance for the whole run.
#include "console/interpreter/console_state.h"

#include <algorithm>
#include <array>

namespace console {
namespace {

std::uint8_t argument_total = 0;
std::array<std::uint8_t, max_arguments> argument_slots{};
DisplayMode mode = DisplayMode::decimal;
std::uint8_t address_in_force = 0;
bool bus_is_open = false;
bool end_is_requested = false;

}  // namespace

std::uint8_t argument_count() { return argument_total; }

std::uint8_t argument(std::size_t index) {
  return index < argument_slots.size() ? argument_slots[index] : 0;
}

const std::uint8_t* argument_bytes() { return argument_slots.data(); }

void set_arguments(const std::uint8_t* bytes, std::uint8_t count) {
  const std::size_t kept = std::min<std::size_t>(count, max_arguments);
  std::copy_n(bytes, kept, argument_slots.begin());
  argument_total = static_cast<std::uint8_t>(kept);
}

DisplayMode display_mode() { return mode; }
void set_display_mode(DisplayMode new_mode) { mode = new_mode; }

std::uint8_t current_address() { return address_in_force; }
void set_current_address(std::uint8_t address) { address_in_force = address; }

bool bus_open() { return bus_is_open; }
void set_bus_open(bool open) { bus_is_open = open; }

void request_end() { end_is_requested = true; }
bool end_requested() { return end_is_requested; }

void reset() {
  argument_total = 0;
  argument_slots.fill(0);
  mode = DisplayMode::decimal;
  address_in_force = 0;
  bus_is_open = false;
  end_is_requested = false;
}

}  // namespace console
