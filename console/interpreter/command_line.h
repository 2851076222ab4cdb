// Splitting a console line into commands and their arguments.
//
// A line holds commands separated by ';'; a command is a word, then numbers
// separated by ','. The line's length is kept apart from its text, so every
// byte of it, a NUL included, is an ordinary character.
#pragma once

#include <cstddef>
#include <cstdint>

#include "console/interpreter/console_state.h"

namespace command_line {

// The longest command word that is kept; longer words match no command.
inline constexpr std::size_t max_word_length = 15;

// The line being split and where the next scan begins.
struct Cursor {
  const char* text;
  std::size_t length;
  std::size_t position = 0;

  bool at_end() const { return position >= length; }
  char here() const { return text[position]; }
};

// Raises 'a' to 'z' to 'A' to 'Z'; every other byte stays as it is.
void upper_case(char* text, std::size_t length);

// Room for the command word: max_word_length characters and a zero.
inline constexpr std::size_t word_capacity = max_word_length + 1;

struct Word {
  char* text;          // word_capacity bytes, zero-terminated
  std::size_t length;  // of the stored text
  bool overlong;       // more characters followed; they were not stored
};

// Skips white space, then takes the run of non-white-space characters as
// the command word and leaves the cursor just after it. False when nothing
// but white space is left.
bool next_word(Cursor& cursor, Word& word);

// The numbers kept, as the command's action is given them, and whether a
// number beyond max_arguments was written.
struct Arguments : console::Arguments {
  bool too_many = false;
};

// Converts the numbers that follow the command word, one per ','-separated
// field, in the given mode; a field that does not begin with a number adds
// none. The cursor ends on the ';' or the end of the line.
Arguments parse_arguments(Cursor& cursor, console::DisplayMode mode);

// Moves to the next ','; then past it and the blanks after it: 0.
// A ';' or the end of the line comes first: -1, the cursor left there.
std::int16_t next_argument(Cursor& cursor);

// Moves past the next ';' and the blanks after it: 0. No ';': -1.
std::int16_t next_command(Cursor& cursor);

}  // namespace command_line
