// The actions of the console's commands. Each is given the numbers typed
// after its word and the console's state, may call the bus library and
// print its outcome, and returns an error code
// (console/interpreter/error_codes.h); the interpreter prints the error line.
// All have the one form, so that one command table holds them.
#pragma once

#include <cstdint>

#include "console/interpreter/console_state.h"

namespace commands {

// START: open the bus
std::int16_t start(const console::Arguments& arguments, console::Console& state);
// CLOSE: close the bus; also run at the end
std::int16_t close(const console::Arguments& arguments, console::Console& state);
// ADDRESS x: select a slave
std::int16_t address(const console::Arguments& arguments, console::Console& state);
// WRITE x,y,...: send bytes to the slave
std::int16_t write(const console::Arguments& arguments, console::Console& state);
// READ n: receive bytes from the slave
std::int16_t read(const console::Arguments& arguments, console::Console& state);
// SEARCH: probe the slave addresses
std::int16_t search(const console::Arguments& arguments, console::Console& state);
// DELAY x: takes one value, does nothing
std::int16_t delay(const console::Arguments& arguments, console::Console& state);
// HELP and ?: the help text
std::int16_t help(const console::Arguments& arguments, console::Console& state);
// QUIT: close the bus and end the program
std::int16_t quit(const console::Arguments& arguments, console::Console& state);
// MODE 0|1: decimal or hexadecimal display
std::int16_t mode(const console::Arguments& arguments, console::Console& state);
// INFO: the library's information
std::int16_t info(const console::Arguments& arguments, console::Console& state);
// SELECT n: choose the adapter and initialise it
std::int16_t select(const console::Arguments& arguments, console::Console& state);

}  // namespace commands
