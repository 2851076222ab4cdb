// The manual pages: clean for both man page checkers, rendered by man, and
// in step with the header and the console they describe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/packaging/packaging_support.h"
#include "tests/support/files.h"
#include "tests/support/program.h"

namespace {

using Outcome = test_kit::Run;
using test_kit::read_file;
using packaging_test::Scratch;

const std::vector<std::string> pages{SOURCE_DIR "/man/sondrel.1", SOURCE_DIR "/man/tarnwick.3",
                                     SOURCE_DIR "/man/tarnwick-detect.1",
                                     SOURCE_DIR "/man/tarnwick-eeprom.1",
                                     SOURCE_DIR "/man/tarnwick-i2c.3",
                                     SOURCE_DIR "/man/tarnwick-transfer.1",
                                     SOURCE_DIR "/man/tarnwick-get.1",
                                     SOURCE_DIR "/man/tarnwick-set.1"};

// The utilities' pages and the programs they describe.
struct UtilityPage {
  std::string page;
  std::string program;
  std::string name_line;
};
const std::vector<UtilityPage> utility_pages{
    {pages[2], DETECT_PROGRAM, "tarnwick-detect - scan an I2C bus and print the addresses that answer"},
    {pages[3], EEPROM_PROGRAM, "tarnwick-eeprom - dump, read, program and verify a 24C01 to 24C512 serial EEPROM"},
    {pages[5], TRANSFER_PROGRAM, "tarnwick-transfer - send I2C messages in one transfer, as i2ctransfer does"},
    {pages[6], GET_PROGRAM, "tarnwick-get - read a register of an I2C chip, as i2cget does"},
    {pages[7], SET_PROGRAM, "tarnwick-set - write a register of an I2C chip, as i2cset does"},
};

// Plain text of a page as man shows it, without bold and underline.
std::string rendered(const std::string& page) {
  const Outcome outcome = test_kit::run_program({{"man", "--warnings", "-E", "ascii", "-l", page}, "", {"MANWIDTH=200", "MAN_KEEP_FORMATTING", "MANPAGER=cat",
                                    "PAGER=cat"}, ""});
  EXPECT_EQ(outcome.status(), 0) << page << "\n" << outcome.err;
  EXPECT_EQ(outcome.err, "") << page << ": warnings of man";
  std::string text;
  for (char c : outcome.out) {
    if (c == '\b') {
      if (!text.empty()) text.pop_back();
      continue;
    }
    text += c;
  }
  return text;
}

// The lines of `text` from the heading `name` up to the next heading.
std::vector<std::string> section(const std::string& text, const std::string& name) {
  std::istringstream stream(text);
  std::vector<std::string> lines;
  bool inside = false;
  for (std::string line; std::getline(stream, line);) {
    const bool heading = !line.empty() && line[0] != ' ';
    if (heading) inside = line == name;
    else if (inside) lines.push_back(line);
  }
  return lines;
}

// One blank between words, none around '*'.
std::string normalized(const std::string& declaration) {
  std::string text;
  for (const std::string& word : packaging_test::split_words(declaration)) {
    if (!text.empty() && text.back() != '*' && word[0] != '*') text += ' ';
    text += word;
  }
  return text;
}

// The leading run of characters of `line` from `first` on that `keep` accepts.
template <typename Keep>
std::string run_of(const std::string& line, std::size_t first, Keep keep) {
  std::size_t last = first;
  while (last < line.size() && keep(static_cast<unsigned char>(line[last]))) ++last;
  return line.substr(first, last - first);
}

TEST(ManPages, PassMandocLintWithoutAWarning) {
  for (const std::string& page : pages) {
    const Outcome outcome = test_kit::run_program({{"mandoc", "-T", "lint", "-W", "warning", page}});
    EXPECT_EQ(outcome.status(), 0) << page;
    EXPECT_EQ(outcome.out + outcome.err, "") << page;
  }
}

TEST(ManPages, RenderWithManWithoutAWarning) {
  EXPECT_NE(rendered(pages[0]).find("sondrel - interactive I2C bus console"), std::string::npos);
  EXPECT_NE(rendered(pages[1]).find("I2C_SelectInterface"), std::string::npos);
  EXPECT_NE(rendered(pages[4]).find("tarnwick_transfer"), std::string::npos);
  for (const UtilityPage& utility : utility_pages) {
    EXPECT_NE(rendered(utility.page).find(utility.name_line), std::string::npos) << utility.page;
  }
}

TEST(ManPages, TheUtilityPagesDescribeEveryOptionOfTheirHelpAndTheirVersion) {
  Scratch scratch;
  for (const UtilityPage& utility : utility_pages) {
    const std::string text = rendered(utility.page);
    std::string options;
    for (const std::string& line : section(text, "OPTIONS")) options += line + "\n";
    const Outcome help = test_kit::run_program({{utility.program, "--help"}, scratch.path(), scratch.environment(), ""});
    std::istringstream help_lines(help.out);
    int described = 0;
    for (std::string line; std::getline(help_lines, line);) {
      // Option lines start "  -x" or "  --word".
      if (line.rfind("  -", 0) != 0) continue;
      const std::string option = run_of(line, 2, [](unsigned char c) { return c == '-' || std::isalpha(c); });
      EXPECT_NE(options.find("       " + option), std::string::npos)
          << utility.page << " has no entry for " << option;
      ++described;
    }
    EXPECT_GE(described, 4) << help.out;
    const Outcome version = test_kit::run_program({{utility.program, "--version"}, scratch.path(), scratch.environment(), ""});
    EXPECT_NE(version.out.find("Tarnwick " TARNWICK_VERSION ")"), std::string::npos);
    EXPECT_NE(text.find("Tarnwick " TARNWICK_VERSION), std::string::npos) << utility.page;
  }
}

TEST(ManPages, TheLibraryPageDeclaresTheTenFunctionsAsTheHeaderDoes) {
  std::set<std::string> in_header;
  std::istringstream header(read_file(SOURCE_DIR "/include/tarnwick.h"));
  for (std::string line; std::getline(header, line);) {
    const auto api = line.find("TARNWICK_API ");
    if (api == 0) in_header.insert(normalized(line.substr(api + 13)));
  }
  std::set<std::string> in_page;
  for (const std::string& line : section(rendered(pages[1]), "SYNOPSIS")) {
    if (line.find("I2C_") != std::string::npos && line.find(");") != std::string::npos) {
      in_page.insert(normalized(line));
    }
  }
  EXPECT_EQ(in_header.size(), 10u);
  EXPECT_EQ(in_page, in_header);
}

TEST(ManPages, TheTransferPageDeclaresTheThreeFunctionsAsTheHeaderDoes) {
  std::set<std::string> in_header;
  std::istringstream header(read_file(SOURCE_DIR "/include/tarnwick/i2c.h"));
  for (std::string line; std::getline(header, line);) {
    const auto api = line.find("TARNWICK_I2C_API ");
    if (api == 0) in_header.insert(normalized(line.substr(api + 17)));
  }
  std::set<std::string> in_page;
  for (const std::string& line : section(rendered(pages[4]), "SYNOPSIS")) {
    if (line.find("tarnwick_") != std::string::npos && line.find(");") != std::string::npos) {
      in_page.insert(normalized(line));
    }
  }
  EXPECT_EQ(in_header.size(), 3u);
  EXPECT_EQ(in_page, in_header);
}

TEST(ManPages, TheConsolePageDescribesEveryCommandOfTheConsolesHelp) {
  Scratch scratch;
  scratch.write("I2C.INI", "[I2C Card]\nNops = 0\n");
  const Outcome help = test_kit::run_program({{SONDREL_PROGRAM}, scratch.path(), scratch.environment(), "help\n"});
  // Help lines read "Word      : what it does" or "Help ou ? : ...".
  std::set<std::string> commands{"delay"};
  std::istringstream help_lines(help.out);
  for (std::string line; std::getline(help_lines, line);) {
    if (line.empty() || !std::isupper(static_cast<unsigned char>(line[0]))) continue;
    std::string word = line.substr(0, 1) + run_of(line, 1, [](unsigned char c) {
                         return std::islower(c) != 0;
                       });
    if (word.size() < 2 || line.find(" : ") == std::string::npos) continue;
    std::transform(word.begin(), word.end(), word.begin(), ::tolower);
    commands.insert(word);
  }
  ASSERT_GE(commands.size(), 12u) << help.out;

  // Entries are tagged at the indent of 7 blanks.
  std::set<std::string> described;
  for (const std::string& line : section(rendered(pages[0]), "COMMANDS")) {
    if (line.rfind("       ", 0) != 0 || line.size() < 8 || line[7] == ' ') continue;
    described.insert(run_of(line, 7, [](unsigned char c) { return std::islower(c) || c == '?'; }));
  }
  for (const std::string& command : commands) {
    if (command == "list" || command == "a" || command == "the") continue;
    EXPECT_TRUE(described.count(command)) << command << " has no entry under COMMANDS";
  }
}

TEST(ManPages, TheConsolePageShowsTheVersionTheConsolePrints) {
  Scratch scratch;
  const Outcome version = test_kit::run_program({{SONDREL_PROGRAM, "--version"}, scratch.path(), scratch.environment(), ""});
  ASSERT_EQ(version.status(), 0);
  std::string line = version.out.substr(0, version.out.find('\n'));
  EXPECT_NE(rendered(pages[0]).find(line), std::string::npos) << line;
}

}  // namespace
