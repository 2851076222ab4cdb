// Sondrel: a console in which a person drives an I2C bus through the
// Tarnwick library, one line of commands at a time.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "console/interpreter/command_line.h"
#include "console/interpreter/console_state.h"
#include "console/interpreter/end_signals.h"
#include "console/interpreter/interpreter.h"
#include "console/interpreter/line_input.h"
#include "tarnwick.h"

namespace {

constexpr const char* kUsage =
    "Usage: sondrel [--help | --version]\n"
    "Drives an I2C bus through the Tarnwick library: reads command lines such as\n"
    "'start ;address 160;write 0,1,2' from standard input (type 'help' at the\n"
    "prompt for the commands). The adapter and its settings come from I2C.INI in\n"
    "the current directory, or from the file named by I2C_INI.\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n"
    "See sondrel(1) and tarnwick(3).\n";

constexpr const char* kVersion = "Sondrel 4.00 (Tarnwick 4.11)\n";

// The console takes no arguments beyond these two; both are answered before
// the adapter is initialised, so they touch neither the bus nor I2C.INI.
// Gives the exit status when the program should end here.
std::optional<int> answer_arguments(int argc, char** argv) {
  if (argc < 2) return std::nullopt;
  const char* first = argv[1];
  if (argc == 2 && std::strcmp(first, "--help") == 0) {
    std::fputs(kUsage, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (argc == 2 && std::strcmp(first, "--version") == 0) {
    std::fputs(kVersion, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  const bool known = std::strcmp(first, "--help") == 0 || std::strcmp(first, "--version") == 0;
  std::fprintf(stderr, "sondrel: unexpected argument '%s' (try 'sondrel --help')\n",
               known ? argv[2] : first);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (const auto status = answer_arguments(argc, argv)) return *status;

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
  console::Console state;
  const int status = interpreter::run(state, line, word);
  line_input::close();

  std::free(line);
  std::free(word);
  return status;
}
