// Whole transactions read back from the port trace, line event by line
// event, for both adapters on the same wiring and with and without delays.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "tests/library/parallel_trace.h"

namespace parallel_test {
namespace {

struct Case {
  std::int16_t interface;
  const char* nops;
};

class WholeTransaction : public TracedBus,
                         public ::testing::WithParamInterface<Case> {};

TEST_P(WholeTransaction, FollowsTheBusSequencesStepForStep) {
  const Case c = GetParam();
  load(c.interface, parallel_wiring(c.nops));
  const std::array<std::uint8_t, 2> data{0x00, 0x5A};
  std::array<std::uint8_t, 3> received{};
  EXPECT_EQ(bus().I2C_Init(), 0);
  mark();
  EXPECT_EQ(bus().I2C_Start(), 0);
  mark();
  EXPECT_EQ(bus().I2C_Address(0xA0), 0);
  mark();
  EXPECT_EQ(bus().I2C_Send(2, data.data()), 2);
  mark();
  EXPECT_EQ(bus().I2C_Address(0xA1), 0);
  mark();
  EXPECT_EQ(bus().I2C_Read(3, received.data()), 3);
  mark();
  EXPECT_EQ(bus().I2C_Stop(), 0);
  const auto seen = segments();

  // The Philips adapter checks its status lines; the Custom adapter has no check.
  const std::array<std::string, 7> expected{
      std::string(c.interface == kPhilips ? oracle::lines::kPhilipsInit
                                          : oracle::lines::kCustomInit),
      start_sequence(),
      byte_out(0xA0),
      byte_out(0x00) + byte_out(0x5A),
      restart() + byte_out(0xA1),
      byte_in(true) + byte_in(true) + byte_in(false),
      stop_sequence() + settle_wait()};
  const char* names[] = {"init", "start", "address", "send",
                         "re-address", "read", "stop"};
  ASSERT_EQ(seen.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const std::string want =
        std::string(c.nops) == "0" ? without_delays(expected[i]) : expected[i];
    EXPECT_EQ(seen[i], want) << names[i];
  }
  if (std::string(c.nops) == "1") {
    // One port delay per Nops: 2 per start sequence, 27 per byte out,
    // 29 per byte in, 16 per restart and 14 per stop.
    EXPECT_EQ(delays(seen[1]), 2);
    EXPECT_EQ(delays(seen[2]), 27);
    EXPECT_EQ(delays(seen[3]), 2 * 27);
    EXPECT_EQ(delays(seen[4]), 16 + 27);
    EXPECT_EQ(delays(seen[5]), 3 * 29);
    EXPECT_EQ(delays(seen[6]), 14);
  }
}

INSTANTIATE_TEST_SUITE_P(
    BothAdapters, WholeTransaction,
    ::testing::Values(Case{kPhilips, "0"}, Case{kPhilips, "1"},
                      Case{kCustom, "0"}, Case{kCustom, "1"}),
    [](const auto& info) {
      return std::string(info.param.interface == kPhilips ? "Philips" : "Custom") +
             "Nops" + info.param.nops;
    });

using PhilipsPorts = TracedBus;

TEST_F(PhilipsPorts, DataPortIsWrittenWholeAndNeverRead) {
  load(kPhilips, parallel_wiring("1"));
  bus().I2C_Init();
  bus().I2C_Start();
  bus().I2C_Address(0xA0);
  bus().I2C_Stop();
  library_->unload();
  const auto trace = env_.trace();
  EXPECT_EQ(std::count_if(trace.begin(), trace.end(),
                          [](const std::string& l) { return l.starts_with("R 0378"); }),
            0);
  // Idle after init: data port 0x7F, control bit 3 set.
  EXPECT_EQ(trace.at(0), "W 0378 7F");
  EXPECT_TRUE(trace.at(1).starts_with("R 037A"));
  EXPECT_TRUE(trace.at(2).starts_with("W 037A"));
  EXPECT_NE(std::stoul(trace.at(2).substr(7), nullptr, 16) & 0x08, 0U) << trace.at(2);
}

}  // namespace
}  // namespace parallel_test
