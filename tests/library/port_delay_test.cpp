// The port delay: Nops reads of base port + 2 after every register access,
// seen in the port trace of the card's set-up.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/oracle/card_registers.h"
#include "tests/support/tarnwick_harness.h"

namespace {

// The card's set-up at 0x300, each access followed by `reads` of 0x302.
std::vector<std::string> set_up_with_delay(int reads) {
  return oracle::card::Accesses(0x300, reads).init().lines();
}

std::vector<std::string> card_set_up_trace(const test_kit::Ini& card_section) {
  harness::Environment env;
  env.configure(card_section);
  harness::Library library;
  EXPECT_EQ(0, library->I2C_Init());
  library.unload();
  return harness::without_read_values(env.trace());
}

struct DelayCase {
  const char* nops;
  int reads;
};

std::ostream& operator<<(std::ostream& out, const DelayCase& c) {
  return out << "Nops=" << c.nops << " -> " << c.reads << " reads";
}

class PortDelay : public ::testing::TestWithParam<DelayCase> {};

TEST_P(PortDelay, ReadsBasePortPlusTwoNopsTimesAfterEachAccess) {
  const auto trace = card_set_up_trace({{"I2C Card", {{"Nops", GetParam().nops}}}});
  EXPECT_EQ(set_up_with_delay(GetParam().reads), trace) << "Nops = " << GetParam().nops;
}

INSTANTIATE_TEST_SUITE_P(Nops, PortDelay,
                         ::testing::Values(DelayCase{"0", 0}, DelayCase{"1", 1},
                                           DelayCase{"3", 3}, DelayCase{"10", 16},
                                           // Negative as a 16-bit count: no delay.
                                           DelayCase{"8000", 0}, DelayCase{"FFFF", 0},
                                           DelayCase{"7FFF", 0x7FFF}));

TEST(PortDelay, DefaultsToHexadecimal100WhenTheKeyIsMissing) {
  const auto trace = card_set_up_trace({});
  EXPECT_EQ(set_up_with_delay(0x100), trace);
}

}  // namespace
