// The bench's I/O ports: what decodes where, the parallel port's registers
// and the lines behind them.
#include <gtest/gtest.h>

#include "sim/bench/bench.h"
#include "sim/bus/i2c_bus.h"
#include "tests/sim/bench_masters.h"

namespace bench_test {
namespace {

constexpr std::uint16_t kData = 0x378;
constexpr std::uint16_t kStatus = 0x379;
constexpr std::uint16_t kControl = 0x37A;

sim::BenchConfig no_devices() {
  sim::BenchConfig config;
  config.devices = "";
  return config;
}

TEST(BenchPorts, PortsThatNothingDecodesReadFFAndIgnoreWrites) {
  sim::Bench bench(no_devices(), {}, {});
  for (const std::uint16_t port : {0x0000, 0x02FF, 0x0302, 0x0377, 0x037B, 0xFFFF}) {
    bench.write(port, 0x00);
    EXPECT_EQ(bench.read(port), 0xFF) << "port " << std::hex << port;
  }
}

TEST(BenchPorts, EveryAccessIsOneTimeStepOfTheBus) {
  sim::Bench bench(no_devices(), {}, {});
  const auto before = bench.bus().time();
  bench.read(0x0100);
  bench.write(0x0100, 0);
  bench.read(kStatus);
  bench.write(0x301, 0x80);
  EXPECT_EQ(bench.bus().time() - before, 4u);
}

TEST(BenchPorts, ParallelPortPowersUpWithBothLinesReleased) {
  sim::Bench bench(no_devices(), {}, {});
  EXPECT_EQ(bench.read(kData), 0x00);
  EXPECT_EQ(bench.read(kControl), 0x0C);
  // SDA high (bit 7), SCL high (bit 3), adapter present and powered (bit 5).
  EXPECT_EQ(bench.read(kStatus), 0xA8);
  EXPECT_TRUE(bench.bus().sda());
  EXPECT_TRUE(bench.bus().scl());
}

TEST(BenchPorts, DataAndControlReadBackTheLastValueWritten) {
  sim::Bench bench(no_devices(), {}, {});
  bench.write(kData, 0x5A);
  bench.write(kControl, 0xE3);
  EXPECT_EQ(bench.read(kData), 0x5A);
  EXPECT_EQ(bench.read(kControl), 0xE3);
  bench.write(kStatus, 0x00);  // the status register has no latch
  EXPECT_EQ(bench.read(kData), 0x5A);
  EXPECT_EQ(bench.read(kControl), 0xE3);
}

TEST(BenchPorts, DataBitSevenPullsSdaLowAndControlBitThreeReleasesScl) {
  sim::Bench bench(no_devices(), {}, {});
  bench.write(kData, 0x80);
  EXPECT_FALSE(bench.bus().sda());
  EXPECT_EQ(bench.read(kStatus), 0x28);
  bench.write(kData, 0x7F);  // every other data bit leaves SDA alone
  EXPECT_TRUE(bench.bus().sda());
  bench.write(kControl, 0xF7);
  EXPECT_FALSE(bench.bus().scl());
  EXPECT_EQ(bench.read(kStatus), 0xA0);
  bench.write(kControl, 0x08);
  EXPECT_TRUE(bench.bus().scl());
  EXPECT_EQ(bench.read(kStatus), 0xA8);
}

TEST(BenchPorts, StatusBitsFourToSixComeFromAdapterStatus) {
  for (const std::uint8_t sense : {0x00, 0x20, 0x50, 0x70}) {
    sim::BenchConfig config = no_devices();
    config.adapter_status = sense;
    sim::Bench bench(config, {}, {});
    EXPECT_EQ(bench.read(kStatus), 0x88 | sense) << "Adapter Status " << std::hex << +sense;
  }
}

TEST(BenchPorts, SdaStuckHoldsTheDataLineLowWhateverIsDriven) {
  sim::BenchConfig config = no_devices();
  config.sda_stuck = true;
  sim::Bench bench(config, {}, {});
  bench.write(kData, 0x00);
  EXPECT_EQ(bench.read(kStatus) & 0x80, 0x00);
  EXPECT_FALSE(bench.bus().sda());
  EXPECT_TRUE(bench.bus().scl());
}

TEST(BenchPorts, ParallelPortMovesWithParportBase) {
  sim::BenchConfig config = no_devices();
  config.parport_base = 0x278;
  sim::Bench bench(config, {}, {});
  EXPECT_EQ(bench.read(0x27A), 0x0C);
  EXPECT_EQ(bench.read(0x279), 0xA8);
  EXPECT_EQ(bench.read(kControl), 0xFF);
  EXPECT_EQ(bench.read(kStatus), 0xFF);
}

TEST(BenchPorts, CardAndParallelPortThatOverlapAreReported) {
  sim::BenchConfig config = no_devices();
  config.card_base = 0x379;
  Lines warnings;
  sim::Bench bench(config, warnings.sink(), {});
  ASSERT_EQ(warnings.lines.size(), 1u);
  EXPECT_NE(warnings.lines[0].find("overlap"), std::string::npos) << warnings.lines[0];
  EXPECT_EQ(bench.read(0x378), 0x00);  // still the parallel port's data register
}

}  // namespace
}  // namespace bench_test
