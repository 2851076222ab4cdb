// Clock stretching: a microcontroller slave holds SCL low after each byte
// and each acknowledge; SCL is a wired-AND of masters and slaves, so a
// master that reads the line back waits, on the line face, through the
// Philips adapter's status bit 3, and in the card.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "sim/bench/bench.h"
#include "sim/bus/i2c_bus.h"
#include "sim/devices/mcu_slave.h"
#include "tests/sim/bench_masters.h"
#include "tests/support/line_master.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The kit's line masters, told to wait for the clock as i2c-algo-bit does.
struct WaitingBusMaster : test_kit::BusLineMaster {
  explicit WaitingBusMaster(sim::Bus& bus) : test_kit::BusLineMaster(bus) { wait_for_clock(); }
};
struct WaitingPhilipsMaster : test_kit::ParportMaster {
  explicit WaitingPhilipsMaster(sim::Bench& bench) : test_kit::ParportMaster(bench) {
    wait_for_clock();
  }
};

constexpr std::uint8_t kMcu = 0x60;

struct McuBus {
  explicit McuBus(std::uint32_t stretch_us) {
    auto part = std::make_unique<sim::McuSlave>(kMcu, stretch_us);
    mcu = part.get();
    bus.attach(std::move(part));
  }
  sim::Bus bus;
  sim::McuSlave* mcu = nullptr;
};

class StretchTime : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(StretchTime, SclReadsLowForTheStretchAfterEachByteAndEachAcknowledge) {
  const std::uint32_t stretch = GetParam();
  McuBus bench(stretch);
  WaitingBusMaster master(bench.bus);
  ASSERT_TRUE(test_kit::send(master, kMcu, {0x10, 0x5A}));
  // Address and two data bytes: after the eighth clock and after the
  // ninth of each, six stretches of exactly the configured time.
  const auto& lows = master.lows();
  EXPECT_EQ(std::count(lows.begin(), lows.end(), stretch), 6) << "stretch " << stretch;
  EXPECT_EQ(*std::max_element(lows.begin(), lows.end()), stretch);
  EXPECT_EQ(bench.mcu->ram()[0x10], 0x5A);
}

TEST_P(StretchTime, AWaitingMasterWritesAndReadsBackAcrossARepeatedStart) {
  McuBus bench(GetParam());
  WaitingBusMaster master(bench.bus);
  ASSERT_TRUE(test_kit::send(master, kMcu, {0x20, 0x11, 0x22, 0x33}));
  ASSERT_TRUE(test_kit::send(master, kMcu, {0x20}, /*stop_after=*/false));
  EXPECT_EQ(test_kit::receive(master, kMcu, 3), (Bytes{0x11, 0x22, 0x33}));
  EXPECT_EQ(bench.bus.violations(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Times, StretchTime, ::testing::Values(10u, 50u, 1000u));

TEST(ClockStretch, AMasterThatDoesNotReadSclBackIsClockedPastTheSlave) {
  McuBus bench(50);
  test_kit::BusLineMaster master(bench.bus);
  master.start();
  master.write(kMcu);
  master.write(0x30);
  master.write(0xA5);
  master.stop();
  // Its clocks fell inside the stretches: the byte never arrived whole.
  EXPECT_NE(bench.mcu->ram()[0x30], 0xA5);
}

TEST(ClockStretch, NoStretcherLeavesSclToTheMasters) {
  McuBus bench(0);
  WaitingBusMaster master(bench.bus);
  ASSERT_TRUE(test_kit::send(master, kMcu, {0x10, 0x01}));
  EXPECT_LE(*std::max_element(master.lows().begin(), master.lows().end()), 3u);
  EXPECT_FALSE(bench.bus.clock_stretched());
}

sim::BenchConfig mcu_bench(int stretch_us) {
  sim::BenchConfig config;
  config.devices = "MCU@60";
  config.wall_clock = false;
  config.stretch_us = stretch_us;
  return config;
}

TEST(ClockStretch, ThePhilipsAdapterReadsTheStretchOnStatusBit3) {
  sim::Bench bench(mcu_bench(200), nullptr, nullptr);
  WaitingPhilipsMaster master(bench);
  ASSERT_TRUE(test_kit::send(master, kMcu, {0x40, 0x77}));
  ASSERT_TRUE(test_kit::send(master, kMcu, {0x40}, false));
  EXPECT_EQ(test_kit::receive(master, kMcu, 1), Bytes{0x77});
  // The stretch, and no more than the master's own few port accesses of a
  // low phase (it writes the data port whole on every data step).
  const std::uint64_t longest = *std::max_element(master.lows().begin(), master.lows().end());
  EXPECT_GE(longest, 200u);
  EXPECT_LE(longest, 208u);
}

TEST(ClockStretch, TheCardWaitsForTheStretchedClockAndItsByteTakesThatMuchLonger) {
  std::vector<std::uint64_t> byte_times;
  for (const int stretch : {0, 300}) {
    sim::Bench bench(mcu_bench(stretch), nullptr, nullptr);
    bench_test::CardMaster card(bench);
    const std::uint64_t before = bench.bus().time();
    EXPECT_TRUE(card.write(kMcu, {0x50, 0x99})) << "stretch " << stretch;
    // The STOP waits for the stretch after the last acknowledge: BB shows
    // the bus busy until it is made.
    for (int poll = 0; poll < 1000 && (bench.read(0x301) & 0x01) == 0; ++poll) {
    }
    byte_times.push_back(bench.bus().time() - before);
    // Read back through the Philips adapter on the same bus.
    WaitingPhilipsMaster master(bench);
    ASSERT_TRUE(test_kit::send(master, kMcu, {0x50}, false));
    EXPECT_EQ(test_kit::receive(master, kMcu, 1), Bytes{0x99}) << "stretch " << stretch;
  }
  // Three bytes, each stretched after its eighth and ninth clock; a byte's
  // own nine clocks (100 us) partly run within the stretches.
  const std::uint64_t longer = byte_times[1] - byte_times[0];
  EXPECT_GE(longer, 6u * 300u - 3u * 100u);
  EXPECT_LE(longer, 6u * 300u + 3u * 100u);
}

}  // namespace
