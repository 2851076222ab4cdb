// Where the card's init finds it: keys "Base" and "Nops" of section
// "I2C Card", hexadecimal, read afresh at every init.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/library/card_test_support.h"

namespace card_test {
namespace {

// The card's set-up as the trace shows it, for the given card section.
class Configuration : public CardTest {
 protected:
  void configure_card(const test_kit::Section& card_section) {
    env.configure({{"I2C Device", {{"Default", "1"}}}, card_section});
  }
  void init_with(const test_kit::Section& card_section) {
    configure_card(card_section);
    if (!library) {
      library.emplace();
    }
    ASSERT_EQ(0, card().I2C_Init());
  }
};

TEST_F(Configuration, WithoutItsKeysTheCardSitsAt300WithNops100) {
  init_with({"I2C Card", {}});
  const Trace trace = finish();
  EXPECT_TRUE(same_accesses(Accesses(0x300, 0x100).init().lines(), trace));
}

TEST_F(Configuration, BaseIsHexadecimalWithOrWithoutPrefix) {
  init_with({"I2C Card", {{"Base", "378"}, {"Nops", "0"}}});
  init_with({"I2C Card", {{"Base", "0x2F0"}, {"Nops", "0"}}});
  init_with({"I2C Card", {{"Base", "0X2e0"}, {"Nops", "0"}}});
  // Only the low 16 bits of a port number are kept.
  init_with({"I2C Card", {{"Base", "10300"}, {"Nops", "0"}}});
  Accesses expected378(0x378), expected2f0(0x2F0), expected2e0(0x2E0), expected300(0x300);
  Trace expected = expected378.init().lines();
  for (auto* more : {&expected2f0, &expected2e0, &expected300}) {
    const auto& lines = more->init().lines();
    expected.insert(expected.end(), lines.begin(), lines.end());
  }
  EXPECT_TRUE(same_accesses(expected, finish()));
}

TEST_F(Configuration, ValuesThatAreNotHexadecimalKeepTheSettings) {
  init_with({"I2C Card", {{"Base", "378"}, {"Nops", "2"}}});
  init_with({"I2C Card", {{"Base", "zz"}, {"Nops", "zz"}}});
  init_with({"I2C Card", {{"Base", ""}, {"Nops", ""}}});
  // The default applies only to a missing key.
  init_with({"I2C Card", {{"Base", "-"}, {"Nops", "g1"}}});
  Trace expected;
  for (int init = 0; init < 4; ++init) {
    const Trace lines = Accesses(0x378, 2).init().lines();
    expected.insert(expected.end(), lines.begin(), lines.end());
  }
  EXPECT_TRUE(same_accesses(expected, finish()));
}

TEST_F(Configuration, EveryInitReadsTheFileAgain) {
  init_with({"I2C Card", {{"Base", "378"}, {"Nops", "0"}}});
  init_with({"I2C Card", {{"Base", "300"}, {"Nops", "1"}}});
  Trace expected = Accesses(0x378, 0).init().lines();
  const Trace second = Accesses(0x300, 1).init().lines();
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_TRUE(same_accesses(expected, finish()));
}

}  // namespace
}  // namespace card_test
