// The console's line handling against the bench: the input is what a person
// (or a script, or line noise) feeds the console on its standard input,
// every byte allowed. The console reads it line by line, upper-cases,
// splits and converts it, and runs the commands on the library, until QUIT
// or the end of the input.
//
// Besides what the sanitizers watch (no byte past the line buffer, the
// command word or the argument frame), the end of every session must leave
// the bus closed and both bus slots free, as a console that quits does.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "console/interpreter/command_line.h"
#include "console/interpreter/console_state.h"
#include "console/interpreter/interpreter.h"
#include "console/interpreter/plain_reader.h"
#include "sim/bench/sim_bench.h"
#include "tarnwick.h"
#include "tests/fuzz/fuzz_environment.h"

namespace {

// Room in the pipe for the largest input, so that writing it never waits
// for the console to read.
constexpr int kPipeSize = 1 << 20;

char line[interpreter::line_capacity];
char word[command_line::word_capacity];

// The console's standard input becomes a pipe holding `data`, then its end.
void feed_standard_input(const std::uint8_t* data, std::size_t size) {
  int ends[2];
  if (::pipe(ends) != 0) fuzz_environment::fail("cannot make a pipe");
  ::fcntl(ends[1], F_SETPIPE_SZ, kPipeSize);
  std::size_t written = 0;
  while (written < size) {
    const ssize_t done = ::write(ends[1], data + written, size - written);
    if (done <= 0) fuzz_environment::fail("cannot fill the console's input");
    written += static_cast<std::size_t>(done);
  }
  ::close(ends[1]);
  ::dup2(ends[0], STDIN_FILENO);
  ::close(ends[0]);
}

// After QUIT the console leaves the rest of its input unread; so would the
// program, whose input ends with it.
void drop_unread_input() {
  std::size_t length = 0;
  while (plain_reader::read_line(STDIN_FILENO, line, sizeof line, length) !=
         line_reading::Outcome::ended) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char*** argv) {
  fuzz_environment::set_up(
      *argv, std::string("[I2C Device]\nDefault = 1\n[I2C Card]\nNops = 1\n"
                         "[I2C para]\nNops = 1\n[I2C para Gen]\nNops = 1\n") +
                 fuzz_environment::custom_wiring);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > static_cast<std::size_t>(kPipeSize)) return -1;  // not kept in the corpus

  // A console just started: its state fresh, the adapter of "Default"
  // initialised once, on a bench fresh from power-up.
  console::Console state;
  SimBenchRestart();
  I2C_SelectInterface(1);
  I2C_Init();

  feed_standard_input(data, size);
  interpreter::run(state, line, word);
  drop_unread_input();

  if (state.bus_open) fuzz_environment::fail("the session ended with the bus open");
  for (const int slot : {0, 1}) {
    if (fuzz_environment::slot_held(slot)) {
      fuzz_environment::fail("the session ended with bus slot " + std::to_string(slot) + " held");
    }
  }
  return 0;
}
