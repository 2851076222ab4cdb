// The port delay: Nops reads of base port + 2 after every register access,
// seen in the port trace of the card's set-up.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/support/tarnwick_harness.h"

namespace {

const std::vector<std::string> kCardSetUp{"W 0301 80", "W 0300 55", "W 0301 A0", "W 0300 1C",
                                          "W 0301 C1"};

std::vector<std::string> set_up_with_delay(int reads) {
  std::vector<std::string> expected;
  for (const auto& access : kCardSetUp) {
    expected.push_back(access);
    expected.insert(expected.end(), static_cast<std::size_t>(reads), "R 0302");
  }
  return expected;
}

std::vector<std::string> card_set_up_trace(const harness::Ini& card_section) {
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
