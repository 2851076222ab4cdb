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

std::int16_t write(const console::Arguments& arguments, console::Console& state) {
  if (!state.bus_open) return error::bus_not_opened;
  if (arguments.count == 0) return error::syntax;
  const std::int16_t count = transfer_limit(arguments.count);
  const std::int16_t sent = I2C_Send(count, arguments.bytes.data());
  if (!moved_some(sent, count)) return error::no_ack;
  number_display::print_transfer("Sent to slave : ", arguments.bytes.data(), sent, state.mode);
  return error::none;
}

std::int16_t read(const console::Arguments& arguments, console::Console& state) {
  if (arguments.count != 1) return error::syntax;
  if (arguments.bytes[0] == 0) return error::syntax;
  if (!state.bus_open) return error::bus_not_opened;
  const std::int16_t count = transfer_limit(arguments.bytes[0]);
  // The bytes received, in bus order.
  std::array<std::uint8_t, console::max_arguments> received_bytes{};
  const std::int16_t received = I2C_Read(count, received_bytes.data());
  if (!moved_some(received, count)) return error::no_ack;
  number_display::print_transfer("Read from slave : ", received_bytes.data(), received,
                                 state.mode);
  return error::none;
}

}  // namespace commands
