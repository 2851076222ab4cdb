// The LM75, PCF8574 and DS1307 models as a master sees them on the bus.
#include <gtest/gtest.h>

#include <vector>

#include "sim/bus/i2c_bus.h"
#include "sim/devices/ds1307.h"
#include "sim/devices/lm75.h"
#include "sim/devices/pcf8574.h"
#include "tests/sim/faces.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

template <typename Part>
class OnBus : public ::testing::Test {
 protected:
  template <typename... Args>
  Part& attach(std::uint8_t address, Args&&... args) {
    auto part = std::make_unique<Part>(address, std::forward<Args>(args)...);
    Part& ref = *part;
    bus.attach(std::move(part));
    return ref;
  }
  void TearDown() override { EXPECT_EQ(bus.violations(), 0u); }

  sim::Bus bus;
  tw_test::ByteFace face{bus};
};

// ------------------------------------------------------------------ LM75

constexpr std::uint8_t kLm75 = 0x90;
using Lm75 = OnBus<sim::Lm75>;

TEST_F(Lm75, PowersUpReadingTemperatureAndDataSheetLimits) {
  attach(kLm75);
  // The pointer starts at the temperature register: a plain read gets it.
  EXPECT_EQ(face.receive(kLm75, 2), (Bytes{0x19, 0x00}));  // 25.0 degC
  EXPECT_EQ(face.read_from(kLm75, 1, 1), Bytes{0x00});
  EXPECT_EQ(face.read_from(kLm75, 2, 2), (Bytes{0x4B, 0x00}));  // 75 degC
  EXPECT_EQ(face.read_from(kLm75, 3, 2), (Bytes{0x50, 0x00}));  // 80 degC
}

TEST_F(Lm75, PointerStaysForLaterReadsAndLongReadsRepeatTheRegister) {
  attach(kLm75);
  EXPECT_EQ(face.read_from(kLm75, 3, 2), (Bytes{0x50, 0x00}));
  EXPECT_EQ(face.receive(kLm75, 4), (Bytes{0x50, 0x00, 0x50, 0x00}));
  ASSERT_TRUE(face.send(kLm75, {1}));
  EXPECT_EQ(face.receive(kLm75, 3), (Bytes{0x00, 0x00, 0x00}));
}

TEST_F(Lm75, LimitRegistersKeepNineBitsAndTakeTheValueWithItsSecondByte) {
  attach(kLm75);
  ASSERT_TRUE(face.send(kLm75, {3, 0xE7, 0xFF}));  // -24.5 degC, low bits dropped
  EXPECT_EQ(face.read_from(kLm75, 3, 2), (Bytes{0xE7, 0x80}));
  ASSERT_TRUE(face.send(kLm75, {2, 0x10}));  // MSB only: nothing changes
  EXPECT_EQ(face.read_from(kLm75, 2, 2), (Bytes{0x4B, 0x00}));
  ASSERT_TRUE(face.send(kLm75, {1, 0xFF}));  // configuration has five bits
  EXPECT_EQ(face.read_from(kLm75, 1, 1), Bytes{0x1F});
}

TEST_F(Lm75, PointerFourToSevenGivesTheLastByteReadAndHigherPointersWrap) {
  attach(kLm75);
  // As Linux's lm75 detection reads it: configuration, then 4 to 7.
  ASSERT_TRUE(face.send(kLm75, {1, 0x1A}));
  EXPECT_EQ(face.read_from(kLm75, 1, 1), Bytes{0x1A});
  for (const std::uint8_t pointer : {4, 5, 6, 7}) {
    EXPECT_EQ(face.read_from(kLm75, pointer, 2), (Bytes{0x1A, 0x1A})) << int{pointer};
  }
  EXPECT_EQ(face.read_from(kLm75, 3, 2), (Bytes{0x50, 0x00}));
  EXPECT_EQ(face.read_from(kLm75, 6, 1), Bytes{0x00}) << "the TOS LSB came last";
  EXPECT_EQ(face.read_from(kLm75, 0x49, 1), Bytes{0x1A}) << "0x49 is pointer 1";
  EXPECT_EQ(face.read_from(kLm75, 0x0B, 2), (Bytes{0x50, 0x00})) << "0x0B is pointer 3";
}

TEST_F(Lm75, TemperatureIsReadOnlyAndFollowsTheBench) {
  sim::Lm75& sensor = attach(kLm75);
  ASSERT_TRUE(face.send(kLm75, {0, 0x00, 0x00}));
  EXPECT_EQ(face.receive(kLm75, 2), (Bytes{0x19, 0x00}));
  sensor.set_temperature(-0.5);
  EXPECT_EQ(face.receive(kLm75, 2), (Bytes{0xFF, 0x80}));
  sensor.set_temperature(300);  // beyond the part's range
  EXPECT_EQ(face.receive(kLm75, 2), (Bytes{0x7D, 0x00}));
}

// --------------------------------------------------------------- PCF8574

constexpr std::uint8_t kPort = 0x40;
using Pcf8574 = OnBus<sim::Pcf8574>;

TEST_F(Pcf8574, ReadsThePinsAsLatchAndOutsideLevelsTogether) {
  sim::Pcf8574& port = attach(kPort);
  EXPECT_EQ(face.receive(kPort, 1), Bytes{0xFF});
  ASSERT_TRUE(face.send(kPort, {0x12, 0x34, 0xF0}));  // every byte acknowledged
  EXPECT_EQ(port.latch(), 0xF0);
  EXPECT_EQ(face.receive(kPort, 2), (Bytes{0xF0, 0xF0}));
  port.set_inputs(0x3C);  // outside circuits pull pins 7, 6, 1 and 0 low
  EXPECT_EQ(face.receive(kPort, 1), Bytes{0x30});
  ASSERT_TRUE(face.send(kPort, {0xFF}));
  EXPECT_EQ(face.receive(kPort, 1), Bytes{0x3C});
}

// ---------------------------------------------------------------- DS1307

constexpr std::uint8_t kRtc = 0xD0;

// 2024-02-29 23:59:58, a Thursday, as local wall-clock seconds.
constexpr std::int64_t kLeapDayEvening = 1709251198;

class Ds1307 : public OnBus<sim::Ds1307> {
 protected:
  sim::Ds1307& attach_clock() {
    return attach(kRtc, [this] { return host_now; });
  }
  std::int64_t host_now = kLeapDayEvening;
};

TEST_F(Ds1307, ShowsTheHostClockInBcd) {
  attach_clock();
  EXPECT_EQ(face.read_from(kRtc, 0, 8),
            (Bytes{0x58, 0x59, 0x23, 0x05, 0x29, 0x02, 0x24, 0x03}));
  host_now += 3;  // over midnight into March
  EXPECT_EQ(face.read_from(kRtc, 0, 7),
            (Bytes{0x01, 0x00, 0x00, 0x06, 0x01, 0x03, 0x24}));
}

TEST_F(Ds1307, WrittenTimeRunsOnWithTheHostClock) {
  attach_clock();
  // 31 Dec 2099 12:34:56, day 2, all seven registers in one transfer.
  ASSERT_TRUE(face.send(kRtc, {0x00, 0x56, 0x34, 0x12, 0x02, 0x31, 0x12, 0x99}));
  EXPECT_EQ(face.read_from(kRtc, 0, 7),
            (Bytes{0x56, 0x34, 0x12, 0x02, 0x31, 0x12, 0x99}));
  host_now += 3600 * 12;  // past midnight: the date and the day roll on
  EXPECT_EQ(face.read_from(kRtc, 0, 7),
            (Bytes{0x56, 0x34, 0x00, 0x03, 0x01, 0x01, 0x00}));
}

TEST_F(Ds1307, AWriteOfTheSecondsStartsTheNextSecondAFullSecondLater) {
  // On bench time, starting 0.9 s into a second of the host clock.
  const auto wait_ms = [&](int ms) {
    for (int tick = 0; tick < ms * 1000; ++tick) bus.tick();
  };
  bus.clock().configure(1, false);
  wait_ms(900);
  attach(kRtc, [this] { return host_now; }, &bus.clock());
  const auto seconds = [&] { return face.read_from(kRtc, 0, 1); };
  wait_ms(500);
  EXPECT_EQ(seconds(), Bytes{0x59}) << "0.5 s after power-up the host second went on";
  ASSERT_TRUE(face.send(kRtc, {0x00, 0x10}));
  wait_ms(990);
  EXPECT_EQ(seconds(), Bytes{0x10}) << "0.99 s after the write";
  wait_ms(20);
  EXPECT_EQ(seconds(), Bytes{0x11}) << "1.01 s after the write";
  // Writing the minutes alone leaves the count to the next second running.
  wait_ms(500);
  ASSERT_TRUE(face.send(kRtc, {0x01, 0x20}));
  wait_ms(480);
  EXPECT_EQ(seconds(), Bytes{0x11});
  wait_ms(40);
  EXPECT_EQ(seconds(), Bytes{0x12});
}

TEST_F(Ds1307, ClockHaltBitStopsTheClockUntilCleared) {
  attach_clock();
  ASSERT_TRUE(face.send(kRtc, {0x00, 0x80 | 0x10}));
  host_now += 100;
  EXPECT_EQ(face.read_from(kRtc, 0, 2), (Bytes{0x90, 0x59}));
  ASSERT_TRUE(face.send(kRtc, {0x00, 0x10}));
  host_now += 5;
  EXPECT_EQ(face.read_from(kRtc, 0, 1), Bytes{0x15});
}

TEST_F(Ds1307, TwelveHourModeShowsPmAndAcceptsTwelveHourTimes) {
  attach_clock();
  ASSERT_TRUE(face.send(kRtc, {0x02, 0x40 | 0x20 | 0x12}));  // 12 PM = noon
  EXPECT_EQ(face.read_from(kRtc, 2, 1), Bytes{0x72});
  host_now += 3600;
  EXPECT_EQ(face.read_from(kRtc, 2, 1), Bytes{0x61});  // 1 PM
  ASSERT_TRUE(face.send(kRtc, {0x02, 0x40 | 0x12}));  // 12 AM = midnight
  EXPECT_EQ(face.read_from(kRtc, 2, 1), Bytes{0x52});
  ASSERT_TRUE(face.send(kRtc, {0x02, 0x13}));  // back to 24-hour mode
  EXPECT_EQ(face.read_from(kRtc, 2, 1), Bytes{0x13});
}

TEST_F(Ds1307, RamKeepsBytesAndThePointerWrapsFrom3FTo00) {
  attach_clock();
  ASSERT_TRUE(face.send(kRtc, {0x08, 0xAB}));
  ASSERT_TRUE(face.send(kRtc, {0x3E, 0x11, 0x22, 0x58}));  // the third lands on seconds
  EXPECT_EQ(face.read_from(kRtc, 0x3E, 3), (Bytes{0x11, 0x22, 0x58}));
  EXPECT_EQ(face.read_from(kRtc, 0x08, 2), (Bytes{0xAB, 0x00}));
  ASSERT_TRUE(face.send(kRtc, {0x07, 0x10}));
  EXPECT_EQ(face.read_from(kRtc, 0x07, 1), Bytes{0x10});
}

}  // namespace
