// Reading the console's input lines, with or without line editing.
#include "console/interpreter/line_input.h"

#include <unistd.h>

#include <cstdio>

#include "console/interpreter/line_editor.h"
#include "console/interpreter/plain_reader.h"

namespace line_input {
namespace {

bool editing = false;
// Output on a terminal: the cursor stands after the prompt (and what was
// typed) when the input ends there.
bool output_at_terminal = false;

}  // namespace

void open(const char* program_name) {
  // Editing needs the terminal on both sides: with output going to a file,
  // libedit's cursor movements would end up in that file.
  output_at_terminal = isatty(STDOUT_FILENO) == 1;
  editing = isatty(STDIN_FILENO) == 1 && output_at_terminal && line_editor::open(program_name);
}

void close() {
  if (editing) line_editor::close();
  editing = false;
}

line_reading::Outcome read_line(const char* prompt, char* buffer, std::size_t capacity,
                                std::size_t& length) {
  using line_reading::Outcome;
  Outcome outcome = Outcome::ended;
  if (editing) {
    outcome = line_editor::read_line(prompt, buffer, capacity, length);
  } else {
    std::fputs(prompt, stdout);
    std::fflush(stdout);
    outcome = plain_reader::read_line(STDIN_FILENO, buffer, capacity, length);
  }
  // Ctrl-C or Ctrl-D leave the cursor on the prompt's line; what the end
  // prints ("Bus closed") goes on a line of its own. A pipe or a file gets
  // exactly what it always got.
  if (outcome == Outcome::ended && output_at_terminal) std::fputs("\n", stdout);
  return outcome;
}

}  // namespace line_input
