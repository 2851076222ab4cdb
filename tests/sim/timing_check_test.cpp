// The timing checker: each minimum of the I2C-bus standard broken on its
// own by a master that paces every phase, and met; strict mode makes the
// slaves drop out of a transfer that broke one.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/bus/i2c_bus.h"
#include "sim/devices/lm75.h"

namespace {

using sim::TimingMode;
using sim::TimingParameter;

constexpr std::uint8_t kLm75 = 0x90;

// How long each phase lasts, in bench us; the data set-up is what is left
// of the low time after the hold.
struct Pace {
  int low;
  int high;
  int su_sta;
  int hd_sta;
  int hd_dat;
  int su_sto;
  int buf;
  bool early_data = false;  // one data bit changes while SCL is still high
};

constexpr Pace kStandard{5, 4, 5, 4, 1, 4, 5};
constexpr Pace kFast{2, 1, 1, 1, 1, 1, 2};

// A line master whose every edge comes the paced number of us after the
// one before (0: in the same instant, as two lines switched by one access).
class PacedMaster {
 public:
  PacedMaster(sim::Bus& bus, const Pace& pace) : bus_(bus), id_(bus.add_line_master()), p_(pace) {}

  void start() {
    if (!scl_) {
      at(p_.hd_dat, true, false);
      at(p_.low - p_.hd_dat, true, true);
      at(p_.su_sta, false, true);
    } else {
      at(p_.buf, false, true);
    }
    at(p_.hd_sta, false, false);
  }
  bool write(std::uint8_t byte) {
    for (int bit = 7; bit >= 0; --bit) {
      const bool level = ((byte >> bit) & 1) != 0;
      const bool last = (byte & 1) != 0;
      // Early: bit 0 put on SDA a us before the clock of bit 1 has fallen.
      clock(level, p_.early_data && bit == 1 && last != level ? 1 : 0, last);
    }
    clock(true);
    return acked_;
  }
  std::uint8_t read(bool ack) {
    std::uint8_t value = 0;
    for (int bit = 0; bit < 8; ++bit) value = static_cast<std::uint8_t>(value << 1 | clock(true));
    clock(!ack);
    return value;
  }
  void stop() {
    at(p_.hd_dat, false, false);
    at(p_.low - p_.hd_dat, false, true);
    at(p_.su_sto, true, true);
  }

 private:
  // One bit: data after the hold, clock up after the set-up, down after
  // the high time; gives SDA as read with SCL high.
  // `early` us before SCL falls, SDA goes to `next` already.
  bool clock(bool level, int early = 0, bool next = true) {
    at(p_.hd_dat, level, false);
    at(p_.low - p_.hd_dat, level, true);
    acked_ = !bus_.sda();
    const bool read = bus_.sda();
    if (early != 0) {
      at(p_.high - early, next, true);
      at(early, next, false);
    } else {
      at(p_.high, level, false);
    }
    return read;
  }
  // `us` after the edge before.
  void at(int us, bool sda, bool scl) {
    for (int i = 0; i < us; ++i) bus_.tick();
    sda_ = sda;
    scl_ = scl;
    bus_.drive(id_, sda, scl);
  }

  sim::Bus& bus_;
  int id_;
  Pace p_;
  bool sda_ = true;
  bool scl_ = true;
  bool acked_ = false;
};

struct Row {
  const char* name;
  TimingMode mode;
  TimingParameter broken;
  Pace pace;
};

// Each row breaks one minimum by a microsecond (or by changing data early)
// and keeps every other; kStandard and kFast meet them all.
const Row kRows[] = {
    {"StandardLow", TimingMode::standard, TimingParameter::low, {4, 4, 5, 4, 1, 4, 5}},
    {"StandardHigh", TimingMode::standard, TimingParameter::high, {5, 3, 5, 4, 1, 4, 5}},
    {"StandardSetUpStart", TimingMode::standard, TimingParameter::su_sta, {5, 4, 4, 4, 1, 4, 5}},
    {"StandardHoldStart", TimingMode::standard, TimingParameter::hd_sta, {5, 4, 5, 3, 1, 4, 5}},
    {"StandardSetUpData", TimingMode::standard, TimingParameter::su_dat, {5, 4, 5, 4, 5, 4, 5}},
    {"StandardHoldData", TimingMode::standard, TimingParameter::hd_dat, {5, 4, 5, 4, 1, 4, 5, true}},
    {"StandardSetUpStop", TimingMode::standard, TimingParameter::su_sto, {5, 4, 5, 4, 1, 3, 5}},
    {"StandardBusFree", TimingMode::standard, TimingParameter::buf, {5, 4, 5, 4, 1, 4, 4}},
    {"FastLow", TimingMode::fast, TimingParameter::low, {1, 1, 1, 1, 0, 1, 2}},
    {"FastHigh", TimingMode::fast, TimingParameter::high, {2, 0, 1, 1, 1, 1, 2}},
    {"FastSetUpStart", TimingMode::fast, TimingParameter::su_sta, {2, 1, 0, 1, 1, 1, 2}},
    {"FastHoldStart", TimingMode::fast, TimingParameter::hd_sta, {2, 1, 1, 0, 1, 1, 2}},
    {"FastSetUpData", TimingMode::fast, TimingParameter::su_dat, {2, 1, 1, 1, 2, 1, 2}},
    {"FastHoldData", TimingMode::fast, TimingParameter::hd_dat, {2, 1, 1, 1, 1, 1, 2, true}},
    {"FastSetUpStop", TimingMode::fast, TimingParameter::su_sto, {2, 1, 1, 1, 1, 0, 2}},
    {"FastBusFree", TimingMode::fast, TimingParameter::buf, {2, 1, 1, 1, 1, 1, 1}},
};

struct Checked {
  Checked(TimingMode mode, bool strict) {
    auto part = std::make_unique<sim::Lm75>(kLm75);
    bus.attach(std::move(part));
    bus.check_timing(mode, strict);
    bus.on_timing_violation(
        [this](TimingParameter, std::string_view line) { lines.emplace_back(line); });
  }
  // Pointer to the configuration register, read it across a repeated
  // START, STOP; then a second transfer after the bus-free time. Gives
  // the acknowledges and the byte read, as "AAAA 00 A".
  std::string transfers(const Pace& pace) {
    PacedMaster master(bus, pace);
    std::string log;
    master.start();
    log += master.write(kLm75) ? "A" : "N";
    log += master.write(0x01) ? "A" : "N";
    master.start();
    log += master.write(kLm75 | 1) ? "A" : "N";
    char byte[8];
    std::snprintf(byte, sizeof byte, " %02X ", master.read(false));
    log += byte;
    master.stop();
    master.start();
    log += master.write(kLm75) ? "A" : "N";
    master.stop();
    return log;
  }
  sim::Bus bus;
  std::vector<std::string> lines;
};

std::string counts(const sim::Bus& bus) {
  std::string text;
  for (std::size_t i = 0; i < sim::kTimingParameters; ++i) {
    const auto parameter = static_cast<TimingParameter>(i);
    if (bus.timing_violations(parameter) != 0) {
      text += std::string(sim::timing_symbol(parameter)) + " " +
              std::to_string(bus.timing_violations(parameter)) + "; ";
    }
  }
  return text;
}

TEST(TimingCheck, EachMinimumBrokenAloneIsReportedAndMetIsSilent) {
  for (const Row& row : kRows) {
    Checked broken(row.mode, false);
    broken.transfers(row.pace);
    EXPECT_GT(broken.bus.timing_violations(row.broken), 0u) << row.name << ": " << counts(broken.bus);
    EXPECT_EQ(broken.bus.timing_violations(), broken.bus.timing_violations(row.broken))
        << row.name << ": " << counts(broken.bus);
    EXPECT_EQ(broken.lines.size(), broken.bus.timing_violations()) << row.name;

    Checked met(row.mode, false);
    met.transfers(row.mode == TimingMode::standard ? kStandard : kFast);
    EXPECT_EQ(met.bus.timing_violations(), 0u) << row.name << ": " << counts(met.bus);
    EXPECT_EQ(met.bus.violations(), 0u) << row.name;
  }
}

TEST(TimingCheck, ALineNamesTheParameterTheTimeAndTheMinimum) {
  Checked bench(TimingMode::standard, false);
  bench.transfers(kRows[1].pace);
  ASSERT_FALSE(bench.lines.empty());
  EXPECT_EQ(bench.lines.front().rfind("! timing: tHIGH 3 us, below the 4 us of standard mode "
                                      "(100 kHz) (at ", 0), 0u) << bench.lines.front();
}

TEST(TimingCheck, FastModeAcceptsWhatStandardModeRejects) {
  Checked bench(TimingMode::fast, false);
  bench.transfers(kStandard);
  bench.transfers(kRows[1].pace);
  EXPECT_EQ(bench.bus.timing_violations(), 0u) << counts(bench.bus);
}

TEST(TimingCheck, OffMeasuresNothing) {
  Checked bench(TimingMode::off, true);
  EXPECT_EQ(bench.transfers(kRows[0].pace), "AAA 00 A");
  EXPECT_EQ(bench.bus.timing_violations(), 0u);
}

TEST(TimingCheck, StrictFailsTheTransferThatBrokeAMinimumAndNoOther) {
  struct Case {
    const char* name;
    Pace pace;
    const char* log;
  };
  const Case cases[] = {
      {"met", kStandard, "AAA 00 A"},
      // Every clock too short: no address is acknowledged, reads give FF.
      {"high", kRows[1].pace, "NNN FF N"},
      // The repeated START came too soon: that transfer is lost, the next
      // one (after a STOP) is not.
      {"set-up of the repeated START", kRows[2].pace, "AAN FF A"},
      // A STOP too soon ends a transfer that is over already.
      {"set-up of STOP", kRows[6].pace, "AAA 00 A"},
  };
  for (const Case& c : cases) {
    Checked bench(TimingMode::standard, true);
    EXPECT_EQ(bench.transfers(c.pace), c.log) << c.name;
  }
}

}  // namespace
