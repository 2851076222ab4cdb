// Sondrel: a console in which a person drives an I2C bus through the
// Tarnwick library, one line of commands at a time.
#include <cstdio>
#include <cstdlib>

#include "console/interpreter/command_line.h"
#include "console/interpreter/end_signals.h"
#include "console/interpreter/interpreter.h"
#include "console/interpreter/line_input.h"
#include "library/frame/tarnwick.h"

int main() {
  char* line = static_cast<char*>(std::malloc(interpreter::line_capacity));
  char* word = static_cast<char*>(std::malloc(command_line::word_capacity));
  if (line == nullptr || word == nullptr) {
    std::fputs("sondrel: not enough memory for the command line buffers\n", stderr);
    std::free(line);
    std::free(word);
    return 1;
  }
  end_signals::install();

  // The library chose its adapter when it was loaded; a failing init shows
  // again, and is reported, at SELECT.
  I2C_Init();

  std::fputs("Sondrel  Version 4.00\n", stdout);
  std::fputs("Copyright (c) the Sondrel developers\n", stdout);
  std::fputs("Type '?' or 'help' for help\n\n", stdout);

  line_input::open("sondrel");
  const int status = interpreter::run(line, word);
  line_input::close();

  std::free(line);
  std::free(word);
  return status;
}
