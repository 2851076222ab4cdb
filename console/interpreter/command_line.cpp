// Splitting a console line into commands and their arguments.
#include "console/interpreter/command_line.h"

#include <optional>
#include <string_view>

#include "platform/scan.h"

namespace command_line {
namespace {

// The command word ends at the white space of the C locale; the scanners
// between fields skip only the blank itself.
constexpr bool is_white_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

constexpr char blank = ' ';

void skip_blanks(Cursor& cursor) {
  while (!cursor.at_end() && cursor.here() == blank) ++cursor.position;
}

std::optional<std::int32_t> number_at(const Cursor& cursor,
                                      console::DisplayMode mode) {
  const std::string_view rest(cursor.text + cursor.position,
                              cursor.length - cursor.position);
  return mode == console::DisplayMode::hexadecimal ? scan::hexadecimal(rest)
                                                   : scan::decimal(rest);
}

}  // namespace

void upper_case(char* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] >= 'a' && text[i] <= 'z') text[i] = static_cast<char>(text[i] - 0x20);
  }
}

bool next_word(Cursor& cursor, Word& word) {
  while (!cursor.at_end() && is_white_space(cursor.here())) ++cursor.position;
  word.length = 0;
  word.overlong = false;
  word.text[0] = '\0';
  if (cursor.at_end()) return false;
  for (; !cursor.at_end() && !is_white_space(cursor.here()); ++cursor.position) {
    if (word.length < max_word_length) {
      word.text[word.length++] = cursor.here();
    } else {
      word.overlong = true;
    }
  }
  word.text[word.length] = '\0';
  return true;
}

Arguments parse_arguments(Cursor& cursor, console::DisplayMode mode) {
  Arguments arguments{};
  std::size_t numbers = 0;
  do {
    // The conversion reads ahead without moving the cursor; the scanner
    // then finds the field's end from the field's start.
    if (const auto number = number_at(cursor, mode)) {
      if (numbers < console::max_arguments) {
        arguments.bytes[numbers] = static_cast<std::uint8_t>(*number);
      } else {
        arguments.too_many = true;
      }
      ++numbers;
    }
  } while (next_argument(cursor) == 0);
  arguments.count = static_cast<std::uint8_t>(
      numbers < console::max_arguments ? numbers : console::max_arguments);
  return arguments;
}

std::int16_t next_argument(Cursor& cursor) {
  while (!cursor.at_end() && cursor.here() != ',') {
    if (cursor.here() == ';') return -1;
    ++cursor.position;
  }
  if (cursor.at_end()) return -1;
  ++cursor.position;
  skip_blanks(cursor);
  return 0;
}

std::int16_t next_command(Cursor& cursor) {
  while (!cursor.at_end() && cursor.here() != ';') ++cursor.position;
  if (cursor.at_end()) return -1;
  ++cursor.position;
  skip_blanks(cursor);
  return 0;
}

}  // namespace command_line
