// Option words shared by the utilities: numbers as C's strtol reads them
// with base 0 (160, 0xA0, 0240), the adapter option, and the usage error.
#pragma once

#include <optional>
#include <string>

namespace tool_options {

// The number `text` spells, when it is one whole number in [low, high].
std::optional<long> number(const char* text, long low, long high);

// "-i N": 1 card, 2 Philips, 3 Custom. Nothing when N is not one of them.
std::optional<int> adapter(const char* text);

// Prints "PROGRAM: WHAT (try 'PROGRAM --help')" on standard error; returns
// the exit status of a bad command line, 2.
int usage_error(const char* program, const std::string& what);

// Prints "PROGRAM 4.11.0 (Tarnwick 4.11.0)"-style version line.
void print_version(const char* program);

// "--help" prints `help` and "--version" the version line; either gives the
// exit status 0. Nothing for any other word.
std::optional<int> help_or_version(const char* word, const char* program, const char* help);

}  // namespace tool_options
