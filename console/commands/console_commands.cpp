// Commands about the console itself: display, help, adapter, the end.
#include <cstdio>

#include "console/commands/actions.h"
#include "console/interpreter/console_state.h"
#include "console/interpreter/error_codes.h"
#include "tarnwick.h"

namespace commands {
namespace {

namespace error = console::error;

constexpr const char* help_text =
    "***************************\n"
    "**     Sondrel Help      **\n"
    "***************************\n"
    "List of commands : (commands are not case sensitive)\n"
    "Start     : Make a start condition on the bus.\n"
    "Close     : Make a close condition on the bus.\n"
    "Address x : Select slave at address 'x'.\n"
    "Write x,y,z,... : Send the data x,y,z,.. to the slave.\n"
    "Read n    : Read n bytes from the slave.\n"
    "Search    : Search all slaves on the bus ans prints its addresses\n"
    "Mode x    : Use decimal(0) or hexadecimal(1) mode to print data on screen.\n"
    "Help ou ? : Shaw this page.\n"
    "Info      : Print informations of  I2C driver in use\n"
    "Select    : Select which interface to use (1:internal, 2:parallel)\n"
    "Quit      : Close the bus and quit Sondrel.\n"
    "A command must be followed by space :\n"
    "   example : address 10 ( address10 will generate an error )\n"
    "The arguments must be separated by ',' :\n"
    "   example : write 0,5,10,1\n"
    "A line could have many commands separated bye ';' :\n"
    "   example : start ;address 10;write 1,2,5\n"
    "\n";

}  // namespace

std::int16_t delay(const console::Arguments& arguments, console::Console&) {
  return arguments.count == 1 ? error::none : error::syntax;
}

std::int16_t help(const console::Arguments& arguments, console::Console&) {
  if (arguments.count != 0) return error::syntax;
  std::fputs(help_text, stdout);
  return error::none;
}

std::int16_t quit(const console::Arguments& arguments, console::Console& state) {
  if (arguments.count != 0) return error::syntax;
  close(console::Arguments{}, state);  // a closed bus is no error here
  state.end_requested = true;
  return error::none;
}

std::int16_t mode(const console::Arguments& arguments, console::Console& state) {
  if (arguments.count != 1) return error::syntax;
  switch (arguments.bytes[0]) {
    case 0:
      state.mode = console::DisplayMode::decimal;
      std::fputs("Decimal mode\n", stdout);
      return error::none;
    case 1:
      state.mode = console::DisplayMode::hexadecimal;
      std::fputs("Hexadecimal mode\n", stdout);
      return error::none;
    default:
      return error::syntax;
  }
}

std::int16_t info(const console::Arguments& arguments, console::Console&) {
  if (arguments.count != 0) return error::syntax;
  // The library shows its box on its own channel; what was printed here
  // comes first.
  std::fflush(stdout);
  I2C_Info();
  return error::none;
}

std::int16_t select(const console::Arguments& arguments, console::Console& state) {
  if (state.bus_open) return error::bus_already_opened;
  if (arguments.count != 1) return error::syntax;
  I2C_SelectInterface(static_cast<std::int16_t>(static_cast<std::uint16_t>(arguments.bytes[0])));
  return I2C_Init() == 0 ? error::none : error::interface_error;
}

}  // namespace commands
