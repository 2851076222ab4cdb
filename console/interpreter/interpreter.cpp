// The console's line loop: prompt, read a line, run its commands.
#include "console/interpreter/interpreter.h"

#include <cstdio>
#include <string_view>

#include "console/commands/actions.h"
#include "console/interpreter/command_line.h"
#include "console/interpreter/command_table.h"
#include "console/interpreter/console_state.h"
#include "console/interpreter/end_signals.h"
#include "console/interpreter/error_codes.h"
#include "console/interpreter/line_input.h"

namespace interpreter {
namespace {

// The prompt names the current address in the display mode.
void format_prompt(const console::Console& state, char* prompt, std::size_t size) {
  const unsigned address = state.address;
  if (state.mode == console::DisplayMode::hexadecimal) {
    std::snprintf(prompt, size, "I2C (0x%x) >", address);
  } else {
    std::snprintf(prompt, size, "I2C (%u) >", address);
  }
}

const console::Command* find_command(const command_line::Word& word) {
  if (word.overlong) return nullptr;
  const std::string_view typed(word.text, word.length);
  for (const console::Command& command : console::command_table) {
    if (command.word == typed) return &command;
  }
  return nullptr;
}

// Runs the commands of one line in turn. An error of one command does not
// stop those after it; a word that names no command drops the rest.
void run_commands(console::Console& state, command_line::Cursor cursor, char* word_buffer) {
  command_line::Word word{word_buffer, 0, false};
  for (;;) {
    if (!command_line::next_word(cursor, word)) return;
    const command_line::Arguments arguments =
        command_line::parse_arguments(cursor, state.mode);
    const console::Command* command = find_command(word);
    if (command == nullptr) {
      console::error::report(console::error::syntax);
      return;
    }
    std::int16_t code = console::error::none;
    if (arguments.too_many) {
      // Refused before the command's own checks: no number typed is lost
      // silently, and nothing reaches the bus.
      code = console::error::syntax;
    } else {
      code = command->action(arguments, state);
    }
    if (code != console::error::none) console::error::report(code);
    if (state.end_requested) return;
    if (command_line::next_command(cursor) != 0) return;
  }
}

}  // namespace

int run(console::Console& state, char* line, char* word) {
  char prompt[32];
  int status = 0;
  while (!state.end_requested) {
    format_prompt(state, prompt, sizeof prompt);
    std::size_t length = 0;
    const line_reading::Outcome outcome =
        line_input::read_line(prompt, line, line_capacity, length);
    if (outcome == line_reading::Outcome::ended) {
      // As a CLOSE without arguments; a closed bus is no error here.
      commands::close(console::Arguments{}, state);
      const int signal_number = end_signals::received();
      if (signal_number != 0) status = 128 + signal_number;
      break;
    }
    if (outcome == line_reading::Outcome::overlong) {
      console::error::report(console::error::syntax);
      continue;
    }
    command_line::upper_case(line, length);
    run_commands(state, command_line::Cursor{line, length, 0}, word);
  }
  std::fflush(stdout);
  return status;
}

}  // namespace interpreter
