// README's commands for installing and for the example hosts, run exactly
// as they are written there, in a checkout-like directory whose build tree
// is this one and whose home is a scratch directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/packaging/packaging_support.h"
#include "tests/support/files.h"
#include "tests/support/program.h"

namespace {

namespace fs = std::filesystem;
using packaging_test::dump_text;
using packaging_test::eeprom_image;
using Outcome = test_kit::Run;
using packaging_test::prepare_eeprom_bench;
using test_kit::read_file;
using packaging_test::Scratch;

std::vector<std::string> readme_lines() {
  std::istringstream text(read_file(SOURCE_DIR "/README.md"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  return lines;
}

// The lines of the first ```sh block after the line `heading`.
std::vector<std::string> shell_block_after(const std::vector<std::string>& lines,
                                           const std::string& heading) {
  std::vector<std::string> block;
  bool below_heading = false, inside = false;
  for (const std::string& line : lines) {
    if (inside) {
      if (line == "```") return block;
      block.push_back(line);
    } else if (below_heading && line == "```sh") {
      inside = true;
    } else if (line == heading) {
      below_heading = true;
    }
  }
  return {};
}

// The README line that starts with `start`, or "".
std::string line_starting(const std::vector<std::string>& lines, const std::string& start) {
  for (const std::string& line : lines) {
    if (line.rfind(start, 0) == 0) return line;
  }
  return "";
}

TEST(ReadmeCommands, InstallIntoAPrefixOfOnesOwnThenTheExamplesWorkAsWritten) {
  if (packaging_test::tree_is_sanitized()) {
    GTEST_SKIP() << "README's hosts are built without the sanitizers' runtime";
  }
  const auto lines = readme_lines();
  const std::string install =
      line_starting(lines, "cmake --install build/default --prefix ~/opt/tarnwick");
  ASSERT_NE(install, "") << "README no longer installs into ~/opt/tarnwick";
  const auto examples = shell_block_after(lines, "### Examples");
  // The export line, the C host by pkg-config and by CMake, the Python
  // host found and named.
  ASSERT_EQ(examples.size(), 5u) << "README's example commands changed: look at this test";

  // A checkout of its own: the examples of the source tree, this build tree
  // as build/default, a home of its own for ~.
  Scratch scratch;
  const std::string checkout = scratch.file("checkout");
  fs::create_directories(checkout + "/build");
  fs::create_directories(scratch.file("home"));
  fs::create_symlink(SOURCE_DIR "/examples", checkout + "/examples");
  fs::create_symlink(BUILD_DIR, checkout + "/build/default");
  std::string script = "set -e\n" + install + "\n";
  for (const std::string& line : examples) script += line + "\n";
  scratch.write("readme.sh", script);

  prepare_eeprom_bench(scratch);
  auto environment = scratch.environment();
  environment.push_back("HOME=" + scratch.file("home"));
  for (const char* name : {"PKG_CONFIG_PATH", "CMAKE_PREFIX_PATH", "TARNWICK_LIBRARY"}) {
    environment.push_back(name);
  }
  const Outcome outcome = test_kit::run_program({{"bash", scratch.file("readme.sh")}, checkout, environment, ""});
  ASSERT_EQ(outcome.status(), 0) << "script:\n" << script << "\nerrors:\n" << outcome.err;
  // Four dumps of the bench's EEPROM, among what the install and the build
  // print.
  const std::string dump = dump_text(eeprom_image());
  int dumps = 0;
  for (auto at = outcome.out.find(dump); at != std::string::npos;
       at = outcome.out.find(dump, at + dump.size())) {
    ++dumps;
  }
  EXPECT_EQ(dumps, 4) << outcome.out;
  EXPECT_TRUE(fs::exists(scratch.file("home/opt/tarnwick/share/doc/Tarnwick/examples/bus.gtkw")));
}

}  // namespace
