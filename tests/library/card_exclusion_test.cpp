// Slot 0 of the bus semaphores keeps the card to one transaction at a time
// across processes: a second host's start and init wait 100 ms and give up.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/library/card_test_support.h"

namespace card_test {
namespace {

// A second host of the library, in its own process with its own bench and
// trace: on "open" it loads the library, opens the card's bus and holds it
// until told to "close". It is forked before this process loads the library,
// so it shares nothing of this process's load.
test_kit::Child holder_of_the_card(const harness::Environment& env) {
  const std::string ini = env.file("holder.ini");
  test_kit::write_ini(ini, {{"I2C Device", {{"Default", "1"}}},
                           {"I2C Card", {{"Nops", "0"}}},
                           {"Port IO", {{"Trace", env.file("holder.trace")}}}});
  return test_kit::Child([ini](test_kit::Channel& parent) {
    if (parent.receive() != "open") {
      return 2;
    }
    setenv("I2C_INI", ini.c_str(), 1);
    harness::Library library;
    library->I2C_Init();
    parent.send("start " + std::to_string(library->I2C_Start()));
    if (parent.receive() != "close") {
      return 2;
    }
    parent.send("stop " + std::to_string(library->I2C_Stop()));
    return 0;
  });
}

TEST_F(CardTest, StartFailsWhileAnotherProcessHasTheBusOpen) {
  auto holder = holder_of_the_card(env);
  load_and_init();
  holder.send("open");
  ASSERT_EQ("start 0", holder.receive().value_or("(no answer)"));

  EXPECT_EQ(2, card().I2C_Start());
  EXPECT_EQ(-1, card().I2C_Address(0xA0)) << "the failed start opened the bus";

  holder.send("close");
  EXPECT_EQ("stop 0", holder.receive().value_or("(no answer)"));
  EXPECT_EQ(0, holder.exit_status());

  EXPECT_EQ(0, card().I2C_Start());
  EXPECT_EQ(0, card().I2C_Stop());
  Accesses expected;
  expected.init().start().pin_wait().stop();
  EXPECT_TRUE(same_accesses(expected.lines(), finish()));
}

TEST_F(CardTest, InitWhileAnotherProcessHasTheBusOpenChangesNothing) {
  auto holder = holder_of_the_card(env);
  load_and_init();
  holder.send("open");
  ASSERT_EQ("start 0", holder.receive().value_or("(no answer)"));

  // New settings that this init must not take up.
  env.configure({{"I2C Device", {{"Default", "1"}}},
                 {"I2C Card", {{"Base", "378"}, {"Nops", "1"}}}});
  EXPECT_EQ(0, card().I2C_Init());

  holder.send("close");
  EXPECT_EQ("stop 0", holder.receive().value_or("(no answer)"));
  EXPECT_EQ(0, holder.exit_status());

  // Still at 0x300 without delays, and still closed from before.
  EXPECT_EQ(-1, card().I2C_Address(0xA0));
  EXPECT_EQ(0, card().I2C_Start());
  EXPECT_EQ(0, card().I2C_Stop());
  Accesses expected;
  expected.init().start().pin_wait().stop();
  EXPECT_TRUE(same_accesses(expected.lines(), finish()));
}

TEST_F(CardTest, AHolderThatDiesGivesTheCardBack) {
  {
    auto holder = holder_of_the_card(env);
    holder.send("open");
    ASSERT_EQ("start 0", holder.receive().value_or("(no answer)"));
    // The destructor kills the holder in the middle of its transaction.
  }
  load_and_init();
  EXPECT_EQ(0, card().I2C_Start());
  EXPECT_EQ(0, card().I2C_Stop());
}

}  // namespace
}  // namespace card_test
