// The example hosts of examples/, built from this tree, dump the bench's
// EEPROM through each adapter, and fail clearly when there is nothing to dump.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/packaging/packaging_support.h"
#include "tests/support/files.h"
#include "tests/support/program.h"

namespace {

using packaging_test::dump_text;
using packaging_test::eeprom_image;
using Outcome = test_kit::Run;
using packaging_test::prepare_eeprom_bench;
using packaging_test::Scratch;

// The Custom adapter wired as the Philips adapter is, so the bench's
// parallel port carries its bus.
const std::string custom_as_philips =
    "[I2C para Gen]\n" + test_kit::custom_wired_like_philips_text();

std::vector<std::string> c_host(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{EEPROM_DUMP_EXAMPLE};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

std::vector<std::string> python_host(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{PYTHON3, SOURCE_DIR "/examples/eeprom_dump.py"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

Outcome run_host(const Scratch& scratch, const std::vector<std::string>& argv) {
  auto environment = scratch.environment();
  environment.push_back("TARNWICK_LIBRARY=" TARNWICK_LIBRARY);
  return test_kit::run_program({argv, scratch.path(), environment, ""});
}

class ExampleHosts : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "python" && packaging_test::tree_is_sanitized()) {
      GTEST_SKIP() << "the system's Python cannot load a sanitizer build";
    }
  }

  std::vector<std::string> host(const std::vector<std::string>& arguments) const {
    return GetParam() == "c" ? c_host(arguments) : python_host(arguments);
  }
};

TEST_P(ExampleHosts, DumpTheBenchEepromThroughEachAdapter) {
  const std::string expected = dump_text(eeprom_image());
  for (const char* adapter : {"1", "2", "3"}) {
    Scratch scratch;
    prepare_eeprom_bench(scratch, custom_as_philips);
    const Outcome outcome = run_host(scratch, host({adapter}));
    EXPECT_EQ(outcome.status(), 0) << "adapter " << adapter << ": " << outcome.err;
    EXPECT_EQ(outcome.out, expected) << "adapter " << adapter;
  }
}

TEST_P(ExampleHosts, WithoutArgumentsUseTheAdapterOfTheConfiguration) {
  Scratch scratch;
  prepare_eeprom_bench(scratch, "[I2C Device]\nDefault = 2\n");
  const Outcome outcome = run_host(scratch, host({}));
  EXPECT_EQ(outcome.status(), 0) << outcome.err;
  EXPECT_EQ(outcome.out, dump_text(eeprom_image()));
  EXPECT_NE(outcome.err.find("In use : Philips adapter"), std::string::npos) << outcome.err;
}

TEST_P(ExampleHosts, ABusWithoutEepromEndsWithOneMessageAndStatusOne) {
  Scratch scratch;
  scratch.write("I2C.INI", "[Simulation]\nDevices = LM75@90\n");
  const Outcome outcome = run_host(scratch, host({"1"}));
  EXPECT_EQ(outcome.status(), 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_NE(outcome.err.find("no EEPROM acknowledges address A0 (bus result 3)"),
            std::string::npos)
      << outcome.err;
}

TEST_P(ExampleHosts, AnAdapterHeldByAnotherProgramIsReportedNotDumped) {
  Scratch scratch;
  prepare_eeprom_bench(scratch);
  // A console holds the card's bus open while the host tries it.
  auto environment = scratch.environment();
  environment.push_back("TARNWICK_LIBRARY=" TARNWICK_LIBRARY);
  const std::string holder = scratch.file("hold.sh");
  scratch.write("hold.sh",
                "( printf 'start\\n'; while [ ! -e " + scratch.file("done") +
                    " ]; do sleep 0.05; done ) | " SONDREL_PROGRAM " > " +
                    scratch.file("holder.out") + " 2>&1 &\n"
                    "tries=0\n"
                    "until grep -q 'Bus opened' " + scratch.file("holder.out") +
                    " 2>/dev/null || [ $tries -gt 600 ]; do sleep 0.05; tries=$((tries+1)); done\n"
                    "\"$@\"\nstatus=$?\ntouch " +
                    scratch.file("done") + "\nwait\nexit $status\n");
  std::vector<std::string> argv{"sh", holder};
  for (const std::string& word : host({"1"})) argv.push_back(word);
  const Outcome outcome = test_kit::run_program({argv, scratch.path(), environment, ""});
  EXPECT_EQ(outcome.status(), 1) << outcome.err;
  EXPECT_EQ(outcome.out, "");
  EXPECT_NE(outcome.err.find("the bus could not be opened (bus result 2)"), std::string::npos)
      << outcome.err;
}

TEST_P(ExampleHosts, RefuseAnInterfaceThatIsNotANumber) {
  Scratch scratch;
  prepare_eeprom_bench(scratch);
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{{"card"}, {"1", "2"}}) {
    const Outcome outcome = run_host(scratch, host(arguments));
    EXPECT_EQ(outcome.status(), 2) << arguments[0];
    EXPECT_NE(outcome.err.find("usage: eeprom_dump"), std::string::npos) << outcome.err;
  }
}

TEST(PythonHost, ALibraryThatCannotBeLoadedIsOneLineAndStatusOne) {
  if (packaging_test::tree_is_sanitized()) GTEST_SKIP() << "the system's Python cannot load a sanitizer build";
  Scratch scratch;
  prepare_eeprom_bench(scratch);
  auto environment = scratch.environment();
  environment.push_back("TARNWICK_LIBRARY=" + scratch.file("libtarnwick.so.4"));
  const Outcome outcome = test_kit::run_program({python_host({}), scratch.path(), environment, ""});
  EXPECT_EQ(outcome.status(), 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err.rfind("eeprom_dump.py: cannot load TARNWICK_LIBRARY=" +
                                  scratch.file("libtarnwick.so.4") + ": ",
                              0),
            0u)
      << outcome.err;
  EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
}

INSTANTIATE_TEST_SUITE_P(Languages, ExampleHosts, ::testing::Values("c", "python"),
                         [](const auto& info) { return info.param; });

}  // namespace
