// How the card's operations follow one another inside a transaction: which
// START command an address uses, when a read is terminated, and how send
// and read turn the direction of the last address.
#include <gtest/gtest.h>

#include <array>

#include "tests/library/card_test_support.h"

namespace card_test {
namespace {

class Sequencing : public CardTest {
 protected:
  void SetUp() override { load_and_init("0", {{"Simulation", {{"Devices", devices}}}}); }
  // Checks the trace after init against the accesses of the test's steps.
  void expect_steps(const Accesses& steps) {
    Trace expected = Accesses().init().lines();
    expected.insert(expected.end(), steps.lines().begin(), steps.lines().end());
    EXPECT_TRUE(same_accesses(expected, finish()));
  }

  std::string devices = "24C02@A0 PCF8574@40 24C02@F0";
  std::array<std::uint8_t, 8> buffer{};
  const std::array<std::uint8_t, 5> bytes{0x00, 0x11, 0x22, 0x33, 0x44};
};

TEST_F(Sequencing, SendStraightAfterStartGoesToThePlaceholderAddress) {
  ASSERT_EQ(0, card().I2C_Start());
  // The START went out with 0xC0, which nothing on the bench answers: the
  // first byte is refused, counted, and the rest never written.
  EXPECT_EQ(1, card().I2C_Send(3, bytes.data()));
  Accesses steps;
  steps.start().pin_wait().data_bytes({0x00});
  expect_steps(steps);
}

TEST_F(Sequencing, ReadStraightAfterStartReaddressesF1WithTheChain) {
  ASSERT_EQ(0, card().I2C_Start());
  EXPECT_EQ(2, card().I2C_Read(2, buffer.data()));
  Accesses steps;
  steps.start().pin_wait().address(kChain, 0xF1).received_bytes(2);
  expect_steps(steps);
}

TEST_F(Sequencing, AddressAfterAddressUsesTheChain) {
  ASSERT_EQ(0, card().I2C_Start());
  EXPECT_EQ(0, card().I2C_Address(0xA0));
  EXPECT_EQ(0, card().I2C_Address(0x40));
  Accesses steps;
  steps.start().address(kChain, 0xA0).address(kChain, 0x40);
  expect_steps(steps);
}

// The dummy read after a read address has the slave sending already; it
// must be refused a byte before the bus sees the next STOP or START.
TEST_F(Sequencing, AddressRightAfterAReadAddressFirstNacksTheByteUnderWay) {
  ASSERT_EQ(0, card().I2C_Start());
  EXPECT_EQ(0, card().I2C_Address(0xA1));
  EXPECT_EQ(0, card().I2C_Address(0xA0));
  Accesses steps;
  steps.start().address(kChain, 0xA1).read_termination().address(kChain, 0xA0);
  expect_steps(steps);
}

TEST_F(Sequencing, RefusedReadAddressLeavesNothingToTerminate) {
  ASSERT_EQ(0, card().I2C_Start());
  EXPECT_EQ(3, card().I2C_Address(0xB1));
  EXPECT_EQ(0, card().I2C_Stop());
  Accesses steps;
  steps.start().write_s1(kChain).write_s0(0xB1).byte_started().pin_wait().read_s1().pin_wait().stop();
  expect_steps(steps);
}

TEST_F(Sequencing, AddressAfterDataUsesTheRepeatedStart) {
  ASSERT_EQ(0, card().I2C_Start());
  EXPECT_EQ(0, card().I2C_Address(0xA0));
  EXPECT_EQ(1, card().I2C_Send(1, bytes.data()));
  EXPECT_EQ(0, card().I2C_Address(0xA1));
  Accesses steps;
  steps.start().address(kChain, 0xA0).pin_wait().data_bytes({0x00});
  steps.address(kRepeated, 0xA1);
  expect_steps(steps);
}

TEST_F(Sequencing, ReadAfterSendTurnsToReadingByRepeatedStart) {
  ASSERT_EQ(0, card().I2C_Start());
  ASSERT_EQ(0, card().I2C_Address(0xA0));
  EXPECT_EQ(1, card().I2C_Send(1, bytes.data()));
  EXPECT_EQ(2, card().I2C_Read(2, buffer.data()));
  Accesses steps;
  steps.start().address(kChain, 0xA0).pin_wait().data_bytes({0x00});
  steps.pin_wait().address(kRepeated, 0xA1).received_bytes(2);
  expect_steps(steps);
}

TEST_F(Sequencing, SendAfterReadTerminatesTheReadThenTurnsToWriting) {
  ASSERT_EQ(0, card().I2C_Start());
  ASSERT_EQ(0, card().I2C_Address(0xA1));
  EXPECT_EQ(1, card().I2C_Read(1, buffer.data()));
  EXPECT_EQ(2, card().I2C_Send(2, bytes.data()));
  Accesses steps;
  steps.start().address(kChain, 0xA1).pin_wait().received_bytes(1);
  steps.pin_wait().read_termination().address(kRepeated, 0xA0).data_bytes({0x00, 0x11});
  expect_steps(steps);
}

TEST_F(Sequencing, StopAfterAReadNacksOneMoreByteBeforeTheStop) {
  ASSERT_EQ(0, card().I2C_Start());
  ASSERT_EQ(0, card().I2C_Address(0xA1));
  EXPECT_EQ(3, card().I2C_Read(3, buffer.data()));
  EXPECT_EQ(0, card().I2C_Stop());
  Accesses steps;
  steps.start().address(kChain, 0xA1).pin_wait().received_bytes(3);
  steps.pin_wait().read_termination().stop();
  expect_steps(steps);
}

TEST_F(Sequencing, StopRightAfterAReadAddressFirstNacksTheByteUnderWay) {
  ASSERT_EQ(0, card().I2C_Start());
  ASSERT_EQ(0, card().I2C_Address(0xA1));
  EXPECT_EQ(0, card().I2C_Stop());
  Accesses steps;
  steps.start().address(kChain, 0xA1).pin_wait().read_termination().stop();
  expect_steps(steps);
}

TEST_F(Sequencing, ReadsInARowContinueOneTransfer) {
  ASSERT_EQ(0, card().I2C_Start());
  ASSERT_EQ(0, card().I2C_Address(0xA1));
  EXPECT_EQ(1, card().I2C_Read(1, buffer.data()));
  EXPECT_EQ(2, card().I2C_Read(2, buffer.data()));
  Accesses steps;
  steps.start().address(kChain, 0xA1).pin_wait().received_bytes(1).pin_wait().received_bytes(2);
  expect_steps(steps);
}

TEST_F(Sequencing, AddressKeepsAllSixteenBitsButSendsTheLowEight) {
  ASSERT_EQ(0, card().I2C_Start());
  EXPECT_EQ(0, card().I2C_Address(0x1A0));
  // Bit 0 of 0x1A0 says write: the read turns it into 0xA1, not 0x1A1.
  EXPECT_EQ(1, card().I2C_Read(1, buffer.data()));
  Accesses steps;
  steps.start().address(kChain, 0xA0).pin_wait().address(kChain, 0xA1).received_bytes(1);
  expect_steps(steps);
}

TEST_F(Sequencing, AddressOfAReadingSlaveStartsTheFirstByteAtOnce) {
  ASSERT_EQ(0, card().I2C_Start());
  EXPECT_EQ(0, card().I2C_Address(0x41));
  Accesses steps;
  steps.start().write_s1(kChain).write_s0(0x41).byte_started().pin_wait().read_s1().read_s0();
  expect_steps(steps);
}

}  // namespace
}  // namespace card_test
