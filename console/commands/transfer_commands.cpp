// Moving data bytes to and from the addressed slave.
#include <algorithm>
#include <array>

#include "console/commands/actions.h"
#include "console/commands/number_display.h"
#include "console/interpreter/console_state.h"
#include "console/interpreter/error_codes.h"
#include "tarnwick.h"

namespace commands {
namespace {

namespace error = console::error;

// The bytes the last READ received, in bus order.
std::uint8_t read_count = 0;
std::array<std::uint8_t, console::max_arguments> read_buffer{};

std::int16_t transfer_limit(unsigned asked) {
  return static_cast<std::int16_t>(std::min<unsigned>(asked, console::max_arguments));
}

// The library answers with the number of bytes moved. Nothing moved, or an
// answer that cannot be a count (negative, or more than was asked), means
// no byte can be trusted to have moved.
bool moved_some(std::int16_t moved, std::int16_t asked) {
  return moved > 0 && moved <= asked;
}

}  // namespace

std::int16_t write() {
  if (!console::bus_open()) return error::bus_not_opened;
  if (console::argument_count() == 0) return error::syntax;
  const std::int16_t count = transfer_limit(console::argument_count());
  const std::int16_t sent = I2C_Send(count, console::argument_bytes());
  if (!moved_some(sent, count)) return error::no_ack;
  number_display::print_transfer("Sent to slave : ", console::argument_bytes(), sent);
  return error::none;
}

std::int16_t read() {
  if (console::argument_count() != 1) return error::syntax;
  if (console::argument(0) == 0) return error::syntax;
  if (!console::bus_open()) return error::bus_not_opened;
  const std::int16_t count = transfer_limit(console::argument(0));
  const std::int16_t received = I2C_Read(count, read_buffer.data());
  if (!moved_some(received, count)) {
    read_count = 0;
    return error::no_ack;
  }
  read_count = static_cast<std::uint8_t>(received);
  number_display::print_transfer("Read from slave : ", read_buffer.data(), read_count);
  return error::none;
}

}  // namespace commands
