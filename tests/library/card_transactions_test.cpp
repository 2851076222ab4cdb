// Whole transactions through the card, register access by register access,
// with and without port delays between the accesses.
#include <gtest/gtest.h>

#include <array>

#include "tests/library/card_test_support.h"

namespace card_test {
namespace {

class Transactions : public CardTest, public ::testing::WithParamInterface<int> {
 protected:
  int nops() const { return GetParam(); }
  void load_card() { load_and_init(std::to_string(nops())); }
};

TEST_P(Transactions, WriteOfTwoBytesToA0) {
  load_card();
  const std::array<std::uint8_t, 2> bytes{0x12, 0x34};
  EXPECT_EQ(0, card().I2C_Start());
  EXPECT_EQ(0, card().I2C_Address(0xA0));
  EXPECT_EQ(2, card().I2C_Send(2, bytes.data()));
  EXPECT_EQ(0, card().I2C_Stop());

  Accesses expected(0x300, nops());
  expected.init();
  // start: interface on, bus free?, placeholder address, START, bus error?
  expected.write_s1(0x40).read_s1().write_s0(0xC0).write_s1(0xC5).byte_started().read_s1();
  // address: STOP+START chain, address byte, PIN wait, LRB
  expected.write_s1(0x47).write_s0(0xA0).byte_started().pin_wait().read_s1();
  // send: PIN wait, then per byte: byte, PIN wait, LRB
  expected.pin_wait().write_s0(0x12).byte_started().pin_wait().read_s1().write_s0(0x34).byte_started().pin_wait().read_s1();
  // stop: PIN wait, STOP, S0 after it, bus error?, interface off
  expected.pin_wait().write_s1(0xC2).write_s0(0xC2).read_s1().write_s1(0x00);
  EXPECT_TRUE(same_accesses(expected.lines(), finish()));
}

TEST_P(Transactions, ReadOfTwoBytesFromA1) {
  load_card();
  std::array<std::uint8_t, 2> buffer{};
  EXPECT_EQ(0, card().I2C_Start());
  EXPECT_EQ(0, card().I2C_Address(0xA1));
  EXPECT_EQ(2, card().I2C_Read(2, buffer.data()));
  EXPECT_EQ(0, card().I2C_Stop());

  Accesses expected(0x300, nops());
  expected.init();
  expected.write_s1(0x40).read_s1().write_s0(0xC0).write_s1(0xC5).byte_started().read_s1();
  // address: as for writing, then a dummy read of S0 starts the first byte
  expected.write_s1(0x47).write_s0(0xA1).byte_started().pin_wait().read_s1().read_s0().byte_started();
  // read: PIN wait, then per byte: PIN wait, S0
  expected.pin_wait().pin_wait().read_s0().byte_started().pin_wait().read_s0().byte_started();
  // stop: PIN wait, read termination (ACK off, one more byte, PIN wait), STOP
  expected.pin_wait().write_s1(0x40).read_s0().byte_started().pin_wait();
  expected.write_s1(0xC2).write_s0(0xC2).read_s1().write_s1(0x00);
  EXPECT_TRUE(same_accesses(expected.lines(), finish()));
}

INSTANTIATE_TEST_SUITE_P(Nops, Transactions, ::testing::Values(0, 1),
                         [](const auto& info) { return "Nops" + std::to_string(info.param); });

TEST_F(CardTest, StopLeavesTheInterfaceOffAndTheNextStartWorksFromThere) {
  load_and_init();
  for (int transaction = 0; transaction < 2; ++transaction) {
    EXPECT_EQ(0, card().I2C_Start()) << "transaction " << transaction;
    EXPECT_EQ(0, card().I2C_Address(0x90)) << "transaction " << transaction;
    EXPECT_EQ(0, card().I2C_Stop()) << "transaction " << transaction;
  }
  Accesses one;
  one.start().address(0x47, 0x90).pin_wait().stop();
  Accesses expected;
  expected.init().start().address(0x47, 0x90).pin_wait().stop();
  expected.start().address(0x47, 0x90).pin_wait().stop();
  const Trace trace = finish();
  EXPECT_TRUE(same_accesses(expected.lines(), trace));
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ("W 0301 00", trace.back()) << "the last access leaves the interface off";
}

}  // namespace
}  // namespace card_test
