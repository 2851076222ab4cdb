// The console at a terminal: prompt before input, line editing, recall of
// earlier lines, Ctrl-C and Ctrl-D.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/console/sondrel_process.h"

namespace {

using sondrel_test::Console;
using sondrel_test::Ending;
using sondrel_test::Workspace;

const std::string fast_card = "[I2C Card]\nNops = 0\n[Simulation]\nEEPROM Write Time = 0\n";
const std::string up_arrow = "\x1b[A";
const std::string left_arrow = "\x1b[D";
constexpr char control_c = '\x03';
constexpr char control_d = '\x04';

// The prompt is up and the line editor listens to the keys.
bool at_prompt(Console& console, const std::string& prompt) {
  return console.wait_for(prompt) && console.wait_for_line_editor();
}

TEST(ConsoleTerminal, PromptComesBeforeInputAndLinesCanBeEditedAndRecalled) {
  Workspace workspace{fast_card};
  Console console(workspace, Console::Input::terminal);
  ASSERT_TRUE(console.wait_for("Type '?' or 'help' for help")) << console.output_so_far();
  ASSERT_TRUE(at_prompt(console, "I2C (0) >")) << console.output_so_far();

  // "sxtart", back to the stray x, delete it.
  console.send("sxtart" + left_arrow + left_arrow + left_arrow + left_arrow + left_arrow +
               std::string(1, control_d) + "\r");
  ASSERT_TRUE(console.wait_for("Bus opened")) << console.output_so_far();
  ASSERT_TRUE(at_prompt(console, "I2C (0) >")) << console.output_so_far();
  console.send("address 160\r");
  ASSERT_TRUE(at_prompt(console, "I2C (160) >")) << console.output_so_far();

  console.send(up_arrow + up_arrow + "\r");  // "start" again
  ASSERT_TRUE(console.wait_for("ERROR : Bus already opened.")) << console.output_so_far();

  console.send(std::string(1, control_c));
  const Ending ending = console.finish();
  EXPECT_NE(ending.output.find("Bus closed"), std::string::npos) << ending.output;
  EXPECT_EQ(ending.exit_status, 130);
}

// "Bus closed" stands on a line of its own: a line end before it, and the
// line ends after it.
bool on_a_line_of_its_own(const std::string& output, const std::string& text) {
  const auto at = output.find(text);
  if (at == std::string::npos || at == 0 || output[at - 1] != '\n') return false;
  const auto after = at + text.size();
  return after < output.size() && (output[after] == '\r' || output[after] == '\n');
}

struct EndKey {
  const char* name;
  std::string typed;  // on the line before the key
  char key;
  int exit_status;
};

const EndKey end_keys[] = {
    {"ControlCAfterAPartlyTypedLine", "addr", control_c, 130},
    {"ControlCOnAnEmptyLine", "", control_c, 130},
    {"ControlDOnAnEmptyLine", "", control_d, 0},
};

// Names the case in test listings instead of its bytes.
void PrintTo(const EndKey& end, std::ostream* out) { *out << end.name; }

class ConsoleTerminalEnd : public ::testing::TestWithParam<EndKey> {};

TEST_P(ConsoleTerminalEnd, EndsTheLineClosesTheBusAndSaysSoOnALineOfItsOwn) {
  const EndKey& end = GetParam();
  Workspace workspace{fast_card};
  Console console(workspace, Console::Input::terminal);
  ASSERT_TRUE(at_prompt(console, "I2C (0) >")) << console.output_so_far();
  console.send("start\r");
  ASSERT_TRUE(console.wait_for("Bus opened")) << console.output_so_far();
  ASSERT_TRUE(at_prompt(console, "I2C (0) >")) << console.output_so_far();
  if (!end.typed.empty()) {
    console.send(end.typed);
    ASSERT_TRUE(console.wait_for(end.typed)) << console.output_so_far();
  }
  console.send(std::string(1, end.key));
  const Ending ending = console.finish();
  EXPECT_TRUE(on_a_line_of_its_own(ending.output, "Bus closed")) << ending.output;
  EXPECT_EQ(ending.exit_status, end.exit_status);
}

INSTANTIATE_TEST_SUITE_P(Keys, ConsoleTerminalEnd, ::testing::ValuesIn(end_keys),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
