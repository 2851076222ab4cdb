// What the send, read and address operations put on the lines: the implicit
// re-addressing on a change of direction, restarts, refusals, and the bus
// state that both parallel adapters share.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "tests/library/parallel_trace.h"

namespace parallel_test {
namespace {

// Without delays the events are easier to read; the sequences stay whole.
std::string out(std::uint8_t byte) { return without_delays(byte_out(byte)); }
std::string in(bool acknowledge) { return without_delays(byte_in(acknowledge)); }
std::string again() { return without_delays(restart()); }

class Addressing : public TracedBus {
 protected:
  void SetUp() override {
    load(kPhilips, parallel_wiring("0"));
    bus().I2C_Init();
  }
};

TEST_F(Addressing, DirectionChangeReaddressesTheSameSlave) {
  const std::uint8_t pointer = 0x10;
  std::uint8_t byte = 0;
  bus().I2C_Start();
  bus().I2C_Address(0xA1);
  mark();
  EXPECT_EQ(bus().I2C_Send(1, &pointer), 1);
  mark();
  EXPECT_EQ(bus().I2C_Read(1, &byte), 1);
  mark();
  EXPECT_EQ(bus().I2C_Send(0, nullptr), 0);
  mark();
  EXPECT_EQ(bus().I2C_Send(0, nullptr), 0);
  mark();
  bus().I2C_Stop();
  const auto seen = segments();
  ASSERT_EQ(seen.size(), 6U);
  EXPECT_EQ(seen[1], in(false) + again() + out(0xA0) + out(0x10))
      << "the slave sending after 0xA1 is NACKed before the restart";
  EXPECT_EQ(seen[2], again() + out(0xA1) + in(false));
  EXPECT_EQ(seen[3], again() + out(0xA0)) << "count 0 after a read re-addresses for writing";
  EXPECT_EQ(seen[4], "") << "count 0 after a write moves nothing";
}

TEST_F(Addressing, FirstAddressAfterStartIsSentWithoutRestart) {
  const std::uint8_t data = 0x42;
  bus().I2C_Start();
  mark();
  bus().I2C_Address(0xA1);
  bus().I2C_Stop();
  bus().I2C_Start();
  mark();
  EXPECT_EQ(bus().I2C_Send(1, &data), 1);
  mark();
  EXPECT_EQ(bus().I2C_Start(), 0) << "a start on an open bus restarts it";
  mark();
  bus().I2C_Stop();
  const auto seen = segments();
  ASSERT_EQ(seen.size(), 5U);
  EXPECT_EQ(seen[1], out(0xA1) + in(false) + again());
  EXPECT_EQ(seen[2], out(0xA0) + out(0x42));
  EXPECT_EQ(seen[3], again());
}

TEST_F(Addressing, AfterInitASendGoesStraightOutAndAReadAddressesSlaveZero) {
  const std::array<std::uint8_t, 2> data{0xA0, 0x05};
  std::array<std::uint8_t, 2> buffer{0xEE, 0xEE};
  bus().I2C_Start();
  mark();
  EXPECT_EQ(bus().I2C_Send(2, data.data()), 2) << "last address 0: no address byte";
  mark();
  EXPECT_EQ(bus().I2C_Read(1, &buffer[1]), -1) << "nobody answers 0x01";
  const auto seen = segments();
  ASSERT_EQ(seen.size(), 3U);
  EXPECT_EQ(seen[1], out(0xA0) + out(0x05));
  EXPECT_EQ(seen[2], again() + out(0x01));
  EXPECT_EQ(buffer, (std::array<std::uint8_t, 2>{0xEE, 0xEE}));
}

TEST_F(Addressing, ClosedBusAndRefusedCountsTouchNoPort) {
  std::array<std::uint8_t, 3> buffer{0xEE, 0xEE, 0xEE};
  mark();
  EXPECT_EQ(bus().I2C_Address(0xA0), 2);
  EXPECT_EQ(bus().I2C_Send(1, buffer.data()), 2);
  EXPECT_EQ(bus().I2C_Send(-1, buffer.data()), 2);
  EXPECT_EQ(bus().I2C_Read(0, buffer.data()), 2);
  EXPECT_EQ(bus().I2C_Stop(), 0);
  mark();
  ASSERT_EQ(bus().I2C_Start(), 0);
  mark();
  EXPECT_EQ(bus().I2C_Send(-1, buffer.data()), -1);
  EXPECT_EQ(bus().I2C_Read(0, &buffer[1]), -1);
  EXPECT_EQ(bus().I2C_Read(-3, &buffer[1]), -1);
  EXPECT_EQ(bus().I2C_Send(4, nullptr), -1);
  EXPECT_EQ(bus().I2C_Read(1, nullptr), -1);
  mark();
  const auto seen = segments();
  ASSERT_EQ(seen.size(), 5U);
  EXPECT_EQ(seen[1], "") << "closed bus";
  EXPECT_EQ(seen[3], "") << "refused counts and null buffers";
  EXPECT_EQ(buffer, (std::array<std::uint8_t, 3>{0xEE, 0xEE, 0xEE}));
}

TEST_F(Addressing, UnansweredReaddressingGivesMinusOneAndMovesNoData) {
  const std::uint8_t data = 0x11;
  bus().I2C_Start();
  EXPECT_EQ(bus().I2C_Address(0xB1), 3) << "no slave at 0xB0";
  mark();
  EXPECT_EQ(bus().I2C_Send(1, &data), -1);
  mark();
  EXPECT_EQ(bus().I2C_Address(0xB0), 3) << "the bus stays open after a NACK";
  const auto seen = segments();
  EXPECT_EQ(seen[1], again() + out(0xB0));
}

// A bus opened through one adapter is the bus of the other: open flag,
// last address and slot are one.
TEST_F(Addressing, BothAdaptersShareOneBusState) {
  const std::array<std::uint8_t, 2> write{0x20, 0x77};
  const std::uint8_t pointer = 0x20;
  std::uint8_t byte = 0;
  bus().I2C_SelectInterface(kCustom);
  bus().I2C_Init();
  bus().I2C_SelectInterface(kPhilips);
  bus().I2C_Start();
  bus().I2C_Address(0xA0);
  bus().I2C_Send(2, write.data());
  bus().I2C_Stop();
  bus().I2C_Start();
  bus().I2C_Address(0xA0);
  bus().I2C_Send(1, &pointer);
  bus().I2C_SelectInterface(kCustom);
  EXPECT_EQ(bus().I2C_Init(), 0) << "init waits for the slot this process holds";
  mark();
  EXPECT_EQ(bus().I2C_Read(1, &byte), 1) << "the bus opened by the Philips adapter";
  EXPECT_EQ(byte, 0x77);
  EXPECT_EQ(bus().I2C_Stop(), 0);
  mark();
  bus().I2C_SelectInterface(kPhilips);
  EXPECT_EQ(bus().I2C_Start(), 0) << "the Custom adapter's stop gave the slot back";
  bus().I2C_Stop();
  const auto seen = segments();
  EXPECT_EQ(seen[1], again() + out(0xA1) + in(false) +
                         without_delays(stop_sequence()));
}

}  // namespace
}  // namespace parallel_test
