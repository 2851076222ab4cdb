// Both parallel adapters against a slave that refuses a data byte (the
// bench's "NACK Byte" fault): the send gives the count of the bytes
// acknowledged before the refused one and clocks out nothing after it.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "tests/library/parallel_trace.h"

namespace parallel_test {
namespace {

class RefusedThirdByte : public TracedBus,
                         public ::testing::WithParamInterface<std::int16_t> {
 protected:
  void SetUp() override {
    test_kit::Ini ini = parallel_wiring("0");
    ini.push_back({"Simulation", {{"NACK Byte", "3"}}});
    load(GetParam(), ini);
    ASSERT_EQ(bus().I2C_Init(), 0);
  }
};

TEST_P(RefusedThirdByte, SendGivesTwoAndNoByteGoesOutAfterTheRefusedOne) {
  ASSERT_EQ(bus().I2C_Start(), 0);
  ASSERT_EQ(bus().I2C_Address(0xA0), 0);
  const std::array<std::uint8_t, 5> bytes{0x10, 0x21, 0x32, 0x43, 0x54};
  mark();
  EXPECT_EQ(bus().I2C_Send(5, bytes.data()), 2);
  mark();
  EXPECT_EQ(bus().I2C_Stop(), 0);
  const auto seen = segments();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[1], without_delays(byte_out(0x10) + byte_out(0x21) + byte_out(0x32)))
      << "the send: two bytes taken, the third refused, and nothing more";
  EXPECT_EQ(seen[2], without_delays(stop_sequence() + settle_wait()));
  EXPECT_EQ(seen[1].find('?'), std::string::npos) << "the bench saw a protocol violation";
}

TEST_P(RefusedThirdByte, EepromKeepsOnlyTheByteBeforeTheRefusedOne) {
  ASSERT_EQ(bus().I2C_Start(), 0);
  ASSERT_EQ(bus().I2C_Address(0xA0), 0);
  const std::array<std::uint8_t, 4> bytes{0x60, 0xAA, 0xBB, 0xCC};
  ASSERT_EQ(bus().I2C_Send(4, bytes.data()), 2);
  ASSERT_EQ(bus().I2C_Stop(), 0);

  ASSERT_EQ(bus().I2C_Start(), 0);
  ASSERT_EQ(bus().I2C_Address(0xA0), 0);
  const std::uint8_t word_address = 0x60;
  ASSERT_EQ(bus().I2C_Send(1, &word_address), 1);
  std::array<std::uint8_t, 2> back{};
  ASSERT_EQ(bus().I2C_Read(2, back.data()), 2);
  EXPECT_EQ(bus().I2C_Stop(), 0);
  EXPECT_EQ(back[0], 0xAA);
  EXPECT_EQ(back[1], 0xFF) << "the refused byte was programmed";
  for (const auto& segment : segments()) {
    EXPECT_EQ(segment.find('?'), std::string::npos) << "unexpected access or violation";
  }
}

INSTANTIATE_TEST_SUITE_P(BothAdapters, RefusedThirdByte, ::testing::Values(kPhilips, kCustom),
                         [](const auto& info) {
                           return std::string(info.param == kPhilips ? "Philips" : "Custom");
                         });

}  // namespace
}  // namespace parallel_test
