// Opening and closing the bus, and choosing the slave on it.
#include <cstdio>

#include "console/commands/actions.h"
#include "console/commands/number_display.h"
#include "console/interpreter/console_state.h"
#include "console/interpreter/error_codes.h"
#include "tarnwick.h"

namespace commands {
namespace {

namespace error = console::error;

// The address byte goes to the library widened without sign.
std::int16_t address_slave(std::uint8_t address) {
  return I2C_Address(static_cast<std::int16_t>(static_cast<std::uint16_t>(address)));
}

// SEARCH probes the 7-bit addresses 2 to 99, in write direction.
constexpr unsigned first_probe = 4;
constexpr unsigned probe_limit = 200;
constexpr unsigned probe_step = 2;

}  // namespace

std::int16_t start(const console::Arguments& arguments, console::Console& state) {
  if (arguments.count != 0) return error::syntax;
  if (state.bus_open) return error::bus_already_opened;
  if (I2C_Start() != 0) {
    // A card that flagged a bus error right after its START counts its bus
    // as open and keeps its lock; the stop gives that lock back. The
    // console's own bus stays closed either way.
    I2C_Stop();
    return error::interface_busy;
  }
  state.bus_open = true;
  std::fputs("Bus opened\n", stdout);
  return error::none;
}

std::int16_t close(const console::Arguments& arguments, console::Console& state) {
  if (arguments.count != 0) return error::syntax;
  if (!state.bus_open) return error::bus_already_closed;
  I2C_Stop();
  state.bus_open = false;
  std::fputs("Bus closed\n", stdout);
  return error::none;
}

std::int16_t address(const console::Arguments& arguments, console::Console& state) {
  if (!state.bus_open) return error::bus_not_opened;
  if (arguments.count != 1) return error::syntax;
  const std::uint8_t wanted = arguments.bytes[0];
  if (address_slave(wanted) != 0) {
    // Leave the slave that was in force addressed, as it was.
    address_slave(state.address);
    return error::no_ack_from_slave;
  }
  state.address = wanted;
  number_display::print_address(wanted, state.mode);
  return error::none;
}

std::int16_t search(const console::Arguments& arguments, console::Console& state) {
  if (!state.bus_open) return error::bus_not_opened;
  if (arguments.count != 0) return error::syntax;
  std::int16_t found = 0;
  for (unsigned probe = first_probe; probe < probe_limit; probe += probe_step) {
    const auto address = static_cast<std::uint8_t>(probe);
    if (address_slave(address) == 0) {
      ++found;
      number_display::print_slave(address, state.mode);
    }
  }
  std::printf("%d slaves on bus\n", found);
  address_slave(state.address);
  return error::none;
}

}  // namespace commands
