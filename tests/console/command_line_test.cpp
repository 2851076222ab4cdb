// Splitting console lines into command words and numbers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/interpreter/command_line.h"

namespace {

using namespace std::string_literals;
using console::DisplayMode;

std::vector<int> numbers_after_word(const std::string& line,
                                    DisplayMode mode = DisplayMode::decimal,
                                    bool* too_many = nullptr) {
  command_line::Cursor cursor{line.data(), line.size(), 0};
  char text[command_line::word_capacity];
  command_line::Word word{text, 0, false};
  EXPECT_TRUE(command_line::next_word(cursor, word)) << line;
  const command_line::Arguments arguments = command_line::parse_arguments(cursor, mode);
  if (too_many != nullptr) *too_many = arguments.too_many;
  return {arguments.bytes.begin(), arguments.bytes.begin() + arguments.count};
}

// The words of a line, each as the interpreter would take it after the
// arguments, following the ';' scanner.
std::vector<std::string> words_of(const std::string& line) {
  std::vector<std::string> words;
  command_line::Cursor cursor{line.data(), line.size(), 0};
  char text[command_line::word_capacity];
  command_line::Word word{text, 0, false};
  while (command_line::next_word(cursor, word)) {
    words.emplace_back(word.overlong ? "<overlong>" : std::string(word.text, word.length));
    command_line::parse_arguments(cursor, DisplayMode::decimal);
    if (command_line::next_command(cursor) != 0) break;
  }
  return words;
}

using Words = std::vector<std::string>;
using Numbers = std::vector<int>;

TEST(CommandLineSplit, WordsEndOnlyAtWhiteSpaceSoPunctuationStaysInTheWord) {
  EXPECT_EQ(words_of("START ;ADDRESS 10;WRITE 1,2,5"), (Words{"START", "ADDRESS", "WRITE"}));
  EXPECT_EQ(words_of("START;ADDRESS 10"), (Words{"START;ADDRESS"}));
  EXPECT_EQ(words_of("ADDRESS10"), (Words{"ADDRESS10"}));
  EXPECT_EQ(words_of("WRITE,1"), (Words{"WRITE,1"}));
  EXPECT_EQ(words_of("START ;;CLOSE"), (Words{"START", ";CLOSE"}));
  EXPECT_EQ(words_of("  \t ADDRESS 10"), (Words{"ADDRESS"}));
  EXPECT_EQ(words_of("START\r"), (Words{"START"}));
}

TEST(CommandLineSplit, BlankOrEmptyRestsHoldNoCommand) {
  EXPECT_EQ(words_of(""), Words{});
  EXPECT_EQ(words_of("   \t "), Words{});
  EXPECT_EQ(words_of("START ;"), (Words{"START"}));
  EXPECT_EQ(words_of("START ;   "), (Words{"START"}));
}

TEST(CommandLineSplit, ALongWordIsMarkedOverlongAndNothingIsStoredPastTheBuffer) {
  char text[command_line::word_capacity + 4];
  std::fill(std::begin(text), std::end(text), '#');
  command_line::Word word{text, 0, false};
  const std::string line = std::string(40, 'X') + " 1";
  command_line::Cursor cursor{line.data(), line.size(), 0};
  ASSERT_TRUE(command_line::next_word(cursor, word));
  EXPECT_TRUE(word.overlong);
  EXPECT_EQ(word.length, command_line::max_word_length);
  EXPECT_EQ(text[command_line::max_word_length], '\0');
  EXPECT_EQ(std::string(text + command_line::word_capacity, 4), "####");
  EXPECT_EQ(cursor.position, 40u);

  const std::string fifteen(15, 'Q');
  EXPECT_EQ(words_of(fifteen), Words{fifteen});
  EXPECT_EQ(words_of(fifteen + "Q"), Words{"<overlong>"});
}

TEST(CommandLineSplit, NulAndControlBytesAreOrdinaryCharacters) {
  EXPECT_EQ(words_of("START\0;CLOSE"s), Words{"START\0;CLOSE"s});
  EXPECT_EQ(words_of("\0START ;CLOSE"s), (Words{"\0START"s, "CLOSE"}));
  EXPECT_EQ(numbers_after_word("WRITE 1,\0 2,3"s), (Numbers{1, 3}));
  EXPECT_EQ(numbers_after_word("WRITE 1\0002"s), (Numbers{1}));
  EXPECT_EQ(numbers_after_word("WRITE \x01,\x7F,\xFF,4"s), (Numbers{4}));
}

TEST(CommandLineSplit, UpperCasingTouchesOnlyTheLetters) {
  std::string line = "start ;address 0xa0;write 1,b\xE9z{}`@\0"s;
  command_line::upper_case(line.data(), line.size());
  EXPECT_EQ(line, "START ;ADDRESS 0XA0;WRITE 1,B\xE9Z{}`@\0"s);
}

TEST(CommandLineArguments, FieldsWithoutANumberAddNone) {
  EXPECT_EQ(numbers_after_word("WRITE 1,X,3"), (Numbers{1, 3}));
  EXPECT_EQ(numbers_after_word("WRITE ,5"), (Numbers{5}));
  EXPECT_EQ(numbers_after_word("WRITE 1,,2"), (Numbers{1, 2}));
  EXPECT_EQ(numbers_after_word("WRITE"), Numbers{});
  EXPECT_EQ(numbers_after_word("WRITE ;1,2"), Numbers{});
  EXPECT_EQ(numbers_after_word("WRITE + 5,- 6,-,7"), (Numbers{7}));
}

TEST(CommandLineArguments, WhatFollowsANumberInItsFieldIsIgnored) {
  EXPECT_EQ(numbers_after_word("ADDRESS 10 20"), (Numbers{10}));
  EXPECT_EQ(numbers_after_word("WRITE 1 2"), (Numbers{1}));
  EXPECT_EQ(numbers_after_word("WRITE 7X,8"), (Numbers{7, 8}));
  EXPECT_EQ(numbers_after_word("WRITE\t\t9 ,  10"), (Numbers{9, 10}));
}

TEST(CommandLineArguments, EachNumberKeepsItsLowEightBits) {
  EXPECT_EQ(numbers_after_word("WRITE 256,-1,+255,257,4294967297,99999999999"),
            (Numbers{0, 255, 255, 1, 1, 99999999999 % 4294967296 % 256}));
  EXPECT_EQ(numbers_after_word("WRITE FFFF,-1,100", DisplayMode::hexadecimal),
            (Numbers{0xFF, 0xFF, 0x00}));
}

TEST(CommandLineArguments, TheModeChoosesDecimalOrHexadecimal) {
  EXPECT_EQ(numbers_after_word("ADDRESS 0XA0"), (Numbers{0}));
  EXPECT_EQ(numbers_after_word("ADDRESS 0XA0", DisplayMode::hexadecimal), (Numbers{0xA0}));
  EXPECT_EQ(numbers_after_word("ADDRESS A0", DisplayMode::hexadecimal), (Numbers{0xA0}));
  EXPECT_EQ(numbers_after_word("ADDRESS A0"), Numbers{});
  EXPECT_EQ(numbers_after_word("READ 100", DisplayMode::hexadecimal), (Numbers{0}));
  EXPECT_EQ(numbers_after_word("WRITE 0X,0XG", DisplayMode::hexadecimal), (Numbers{0, 0}));
}

TEST(CommandLineArguments, TheCursorStopsOnTheSemicolonThatEndsTheCommand) {
  const std::string line = "WRITE 1,2;READ 3";
  command_line::Cursor cursor{line.data(), line.size(), 0};
  char text[command_line::word_capacity];
  command_line::Word word{text, 0, false};
  ASSERT_TRUE(command_line::next_word(cursor, word));
  command_line::parse_arguments(cursor, DisplayMode::decimal);
  EXPECT_EQ(line[cursor.position], ';');
  EXPECT_EQ(command_line::next_command(cursor), 0);
  EXPECT_EQ(line.substr(cursor.position), "READ 3");
}

TEST(CommandLineArguments, NineteenNumbersFitAndATwentiethIsFlagged) {
  std::string nineteen = "WRITE 1";
  for (int n = 2; n <= 19; ++n) nineteen += "," + std::to_string(n);
  bool too_many = true;
  Numbers expected;
  for (int n = 1; n <= 19; ++n) expected.push_back(n);
  EXPECT_EQ(numbers_after_word(nineteen + ",X,", DisplayMode::decimal, &too_many), expected);
  EXPECT_FALSE(too_many);
  EXPECT_EQ(numbers_after_word(nineteen + ",20", DisplayMode::decimal, &too_many), expected);
  EXPECT_TRUE(too_many);
}

}  // namespace
