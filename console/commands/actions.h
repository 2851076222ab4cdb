// The actions of the console's commands. Each reads the argument frame and
// the rest of the console state, may call the bus library and print its
// outcome, and returns an error code (console/interpreter/error_codes.h);
// the interpreter prints the error line.
#pragma once

#include <cstdint>

namespace commands {

std::int16_t start();    // START: open the bus
std::int16_t close();    // CLOSE: close the bus; also run at the end
std::int16_t address();  // ADDRESS x: select a slave
std::int16_t write();    // WRITE x,y,...: send bytes to the slave
std::int16_t read();     // READ n: receive bytes from the slave
std::int16_t search();   // SEARCH: probe the slave addresses
std::int16_t delay();    // DELAY x: takes one value, does nothing
std::int16_t help();     // HELP and ?: the help text
std::int16_t quit();     // QUIT: close the bus and end the program
std::int16_t mode();     // MODE 0|1: decimal or hexadecimal display
std::int16_t info();     // INFO: the library's information
std::int16_t select();   // SELECT n: choose the adapter and initialise it

}  // namespace commands
