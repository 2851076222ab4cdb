// Whole files and their lines, for tests that write configuration files and
// read back what the programs under test wrote.
#pragma once

#include <string>
#include <vector>

namespace test_kit {

// The bytes of the file; empty when it is missing.
std::string read_file(const std::string& path);
// Replaces the file with `text`; throws std::runtime_error when it cannot.
void write_file(const std::string& path, const std::string& text);

// The lines of `text` without their '\n'. A '\r' before it stays, so that a
// line end the program should not have written shows, unless the caller
// reads files that may hold either line end and asks for it to go.
std::vector<std::string> lines_of(const std::string& text, bool drop_carriage_returns = false);
// lines_of(read_file(path), true).
std::vector<std::string> read_lines(const std::string& path);

// Names in `directory` that begin with `prefix`.
std::vector<std::string> names_starting_with(const std::string& directory,
                                             const std::string& prefix);

}  // namespace test_kit
