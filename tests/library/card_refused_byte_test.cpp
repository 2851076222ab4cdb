// The card against a slave that refuses a data byte (the bench's "NACK
// Byte" fault): the send stops at the refused byte, counts it, and puts
// nothing more into S0.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "tests/library/card_test_support.h"

namespace card_test {
namespace {

const test_kit::Ini kThirdByteRefused{{"Simulation", {{"NACK Byte", "3"}}}};

TEST_F(CardTest, SendStopsAtTheRefusedThirdByteAndCountsIt) {
  load_and_init("0", kThirdByteRefused);
  ASSERT_EQ(0, card().I2C_Start());
  ASSERT_EQ(0, card().I2C_Address(0xA0));
  const std::array<std::uint8_t, 5> bytes{0x10, 0x21, 0x32, 0x43, 0x54};
  EXPECT_EQ(3, card().I2C_Send(5, bytes.data()));
  EXPECT_EQ(0, card().I2C_Stop());
  const Trace trace = finish_with_values();

  Accesses expected;
  expected.init().start().address(0x47, 0xA0).pin_wait().data_bytes({0x10, 0x21, 0x32}).pin_wait().stop();
  EXPECT_TRUE(same_accesses(expected.lines(), harness::without_read_values(trace)));

  // The status read that ended the PIN wait after the third byte showed
  // LRB, the ones before not.
  const auto pin_clear = [&](Trace::const_iterator from) {
    return std::find_if(from, trace.cend(), [](const std::string& line) {
      return line.rfind("R 0301 ", 0) == 0 && line.size() == 9 && line[7] < '8';
    });
  };
  const auto third = std::find(trace.begin(), trace.end(), "W 0300 32");
  ASSERT_NE(third, trace.end());
  ASSERT_NE(pin_clear(third), trace.cend());
  EXPECT_EQ("R 0301 08", *pin_clear(third)) << "PIN clear, LRB set";
  const auto second = std::find(trace.begin(), trace.end(), "W 0300 21");
  ASSERT_NE(second, trace.end());
  EXPECT_EQ("R 0301 00", *pin_clear(second)) << "PIN clear, LRB clear";
  // Nothing of the fourth and fifth byte reached S0; the stop's own S0
  // write is the only one after the refused byte.
  std::vector<std::string> s0_writes_after;
  std::copy_if(third + 1, trace.end(), std::back_inserter(s0_writes_after),
               [](const std::string& line) { return line.rfind("W 0300", 0) == 0; });
  EXPECT_EQ(s0_writes_after, std::vector<std::string>{"W 0300 C2"});
}

TEST_F(CardTest, EepromKeepsOnlyTheBytesBeforeTheRefusedOne) {
  load_and_init("0", kThirdByteRefused);
  ASSERT_EQ(0, card().I2C_Start());
  ASSERT_EQ(0, card().I2C_Address(0xA0));
  const std::array<std::uint8_t, 4> bytes{0x60, 0xAA, 0xBB, 0xCC};
  ASSERT_EQ(3, card().I2C_Send(4, bytes.data()));
  ASSERT_EQ(0, card().I2C_Stop());

  // Word address, then two bytes read back: one written, one still erased.
  ASSERT_EQ(0, card().I2C_Start());
  ASSERT_EQ(0, card().I2C_Address(0xA0));
  const std::uint8_t word_address = 0x60;
  ASSERT_EQ(1, card().I2C_Send(1, &word_address));
  std::array<std::uint8_t, 2> back{};
  ASSERT_EQ(2, card().I2C_Read(2, back.data()));
  EXPECT_EQ(0, card().I2C_Stop());
  EXPECT_EQ(0xAA, back[0]);
  EXPECT_EQ(0xFF, back[1]) << "the refused byte was programmed";
}

}  // namespace
}  // namespace card_test
