// The console at a terminal: prompt before input, line editing, recall of
// earlier lines, Ctrl-C and Ctrl-D.
#include <gtest/gtest.h>

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

TEST(ConsoleTerminal, ControlDOnAnEmptyLineEndsTheInputAndClosesTheBus) {
  Workspace workspace{fast_card};
  Console console(workspace, Console::Input::terminal);
  ASSERT_TRUE(at_prompt(console, "I2C (0) >")) << console.output_so_far();
  console.send("start\r");
  ASSERT_TRUE(console.wait_for("Bus opened")) << console.output_so_far();
  ASSERT_TRUE(at_prompt(console, "I2C (0) >")) << console.output_so_far();
  console.send(std::string(1, control_d));
  const Ending ending = console.finish();
  EXPECT_NE(ending.output.find("Bus closed"), std::string::npos) << ending.output;
  EXPECT_EQ(ending.exit_status, 0);
}

}  // namespace
