// sondrel's command line: --help and --version answer and leave, touching
// neither the bus nor the configuration file; anything else is refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/packaging/packaging_support.h"
#include "tests/support/files.h"
#include "tests/support/program.h"

namespace {

using Outcome = test_kit::Run;
using test_kit::read_file;
using packaging_test::Scratch;

// The Philips adapter writes its record into I2C.INI at every init, and the
// trace shows every port access: both must stay untouched.
const std::string watched_configuration =
    "[I2C Device]\nDefault = 2\n[Port IO]\nTrace = ports.log\n";

Outcome run_sondrel(const Scratch& scratch, const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{SONDREL_PROGRAM};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return test_kit::run_program({argv, scratch.path(), scratch.environment(), "start\nquit\n"});
}

TEST(ConsoleArguments, VersionPrintsOneLineAndLeavesBusAndFileAlone) {
  Scratch scratch;
  scratch.write("I2C.INI", watched_configuration);
  const Outcome outcome = run_sondrel(scratch, {"--version"});
  EXPECT_EQ(outcome.status(), 0);
  EXPECT_EQ(outcome.out, "Sondrel 4.00 (Tarnwick 4.11)\n");
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(read_file(scratch.file("I2C.INI")), watched_configuration);
  EXPECT_EQ(read_file(scratch.file("ports.log")), "") << "the port layer was started";
}

TEST(ConsoleArguments, HelpPrintsTheUsageAndLeavesBusAndFileAlone) {
  Scratch scratch;
  scratch.write("I2C.INI", watched_configuration);
  const Outcome outcome = run_sondrel(scratch, {"--help"});
  EXPECT_EQ(outcome.status(), 0);
  EXPECT_EQ(outcome.out.rfind("Usage: sondrel [--help | --version]\n", 0), 0u) << outcome.out;
  for (const char* part : {"--help", "--version", "I2C.INI", "I2C_INI", "sondrel(1)"}) {
    EXPECT_NE(outcome.out.find(part), std::string::npos) << part << " missing in:\n"
                                                         << outcome.out;
  }
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(read_file(scratch.file("I2C.INI")), watched_configuration);
  EXPECT_EQ(read_file(scratch.file("ports.log")), "");
}

TEST(ConsoleArguments, AnyOtherArgumentIsOneLineOnStandardErrorAndStatusTwo) {
  const std::vector<std::vector<std::string>> refused{
      {"-h"}, {"--Version"}, {"help"}, {""}, {"--help", "--version"}, {"--version", "x"}};
  for (const auto& arguments : refused) {
    Scratch scratch;
    scratch.write("I2C.INI", watched_configuration);
    const Outcome outcome = run_sondrel(scratch, arguments);
    const std::string shown = arguments.back();
    EXPECT_EQ(outcome.status(), 2) << shown;
    EXPECT_EQ(outcome.out, "") << shown;
    EXPECT_EQ(outcome.err, "sondrel: unexpected argument '" + shown +
                               "' (try 'sondrel --help')\n");
    EXPECT_EQ(read_file(scratch.file("I2C.INI")), watched_configuration) << shown;
  }
}

TEST(ConsoleArguments, WithoutArgumentsTheConsoleRunsItsSession) {
  Scratch scratch;
  scratch.write("I2C.INI", "[I2C Card]\nNops = 0\n");
  const Outcome outcome = run_sondrel(scratch, {});
  EXPECT_EQ(outcome.status(), 0) << outcome.err;
  EXPECT_EQ(outcome.out,
            "Sondrel  Version 4.00\nCopyright (c) the Sondrel developers\n"
            "Type '?' or 'help' for help\n\n"
            "I2C (0) >Bus opened\nI2C (0) >Bus closed\n");
}

}  // namespace
