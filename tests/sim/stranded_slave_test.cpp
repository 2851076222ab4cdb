// A slave stranded mid-read holds SDA low until the master clocks out the
// rest of its byte; the STOP after the acknowledge slot frees the bus.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "sim/bus/i2c_bus.h"
#include "sim/devices/lm75.h"
#include "tests/support/line_master.h"

namespace {

constexpr std::uint8_t kLm75 = 0x90;

struct Stranded {
  explicit Stranded(unsigned clocks) {
    bus.attach(std::make_unique<sim::Lm75>(kLm75));
    bus.strand_slave(clocks);
  }
  // The kernel's recovery: pulses SCL until SDA reads high with SCL high,
  // up to nine times; gives the pulses it made, or 0 when SDA stayed low.
  int recover() {
    for (int pulse = 1; pulse <= 9; ++pulse) {
      master.scl(false);
      master.scl(true);
      if (bus.sda()) return pulse;
    }
    return 0;
  }
  sim::Bus bus;
  test_kit::BusLineMaster master{bus};
};

class StrandedSlave : public ::testing::TestWithParam<unsigned> {};

TEST_P(StrandedSlave, HoldsSdaLowUntilClockedOutThenAStopFreesTheBus) {
  const unsigned clocks = GetParam();
  Stranded bench(clocks);
  EXPECT_FALSE(bench.bus.sda());
  EXPECT_EQ(bench.recover(), static_cast<int>(clocks));
  bench.master.stop();
  EXPECT_FALSE(bench.bus.busy());
  // The bus works again: the LM75 answers.
  bench.master.start();
  EXPECT_TRUE(bench.master.write(kLm75));
  bench.master.stop();
}

INSTANTIATE_TEST_SUITE_P(Clocks, StrandedSlave, ::testing::Values(1u, 4u, 9u));

TEST(StrandedSlaveFault, AMasterThatAcknowledgesGetsAnotherByteOfZeros) {
  Stranded bench(1);
  bench.master.sda(false);  // ACK in the acknowledge slot
  bench.master.scl(false);
  bench.master.scl(true);
  bench.master.scl(false);
  bench.master.sda(true);
  EXPECT_EQ(bench.recover(), 9);
}

TEST(StrandedSlaveFault, NoStartCanBeMadeSoAnAddressGoesUnanswered) {
  Stranded bench(9);
  bench.master.start();
  EXPECT_FALSE(bench.master.write(kLm75));
  EXPECT_FALSE(bench.bus.busy());
}

TEST(StrandedSlaveFault, ZeroOrMoreThanNineStrandsNothing) {
  for (const unsigned clocks : {0u, 10u}) {
    Stranded bench(clocks);
    EXPECT_TRUE(bench.bus.sda()) << clocks;
  }
}

}  // namespace
