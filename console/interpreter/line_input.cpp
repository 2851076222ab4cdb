// Reading the console's input lines, with or without line editing.
#include "console/interpreter/line_input.h"

#include <unistd.h>

#include <cstdio>

#include "console/interpreter/line_editor.h"
#include "console/interpreter/plain_reader.h"

namespace line_input {
namespace {

bool editing = false;

}  // namespace

void open(const char* program_name) {
  // Editing needs the terminal on both sides: with output going to a file,
  // libedit's cursor movements would end up in that file.
  editing = isatty(STDIN_FILENO) == 1 && isatty(STDOUT_FILENO) == 1 &&
            line_editor::open(program_name);
}

void close() {
  if (editing) line_editor::close();
  editing = false;
}

Outcome read_line(const char* prompt, char* buffer, std::size_t capacity,
                  std::size_t& length) {
  if (editing) return line_editor::read_line(prompt, buffer, capacity, length);
  std::fputs(prompt, stdout);
  std::fflush(stdout);
  return plain_reader::read_line(STDIN_FILENO, buffer, capacity, length);
}

}  // namespace line_input
