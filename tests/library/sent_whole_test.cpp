// Transfers sent whole as line programs (the FTDI backend in synchronous
// bit-bang mode, over the stand-in) against the same transfers run access
// by access on the bench: one table of transfer sequences, each run from
// power-up through every way of reaching the bus, whose results and read
// bytes must agree byte for byte. Refused bytes mid-program among them:
// the errno must be the one the access-by-access engine gives, and the bus
// usable afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tarnwick/i2c.h"
#include "tests/standin/standin.h"
#include "tests/support/ini.h"
#include "tests/support/tarnwick_harness.h"

namespace {

constexpr std::uint16_t kEeprom = 0x50;  // 24C02
constexpr std::uint16_t kThermometer = 0x48;
constexpr std::uint16_t kNobody = 0x11;
constexpr std::uint16_t kMicrocontroller = 0x30;

// One message: the bytes to write, or the count to read.
struct Message {
  std::uint16_t addr;
  std::uint16_t flags;
  std::vector<std::uint8_t> bytes;
  std::uint16_t read = 0;
};

struct Transfer {
  const char* what;
  std::vector<Message> messages;
  // Refused ahead of a read in the same chunk: sent whole, the chunk's
  // read bytes are still clocked and acknowledged with nobody sending,
  // which the bench reports.
  bool clocks_on = false;
  // What the bytes read are known to be, so that both ways cannot agree on
  // a wrong answer (empty: not pinned down).
  std::vector<std::uint8_t> known = {};
};

struct Sequence {
  const char* name;
  test_kit::Keys simulation;
  std::vector<Transfer> transfers;
  bool stretched = false;  // a slave holds the clock low: only for ways that wait
};

std::vector<std::uint8_t> page(std::uint8_t word, int size) {
  std::vector<std::uint8_t> bytes{word};
  for (int i = 0; i < size; ++i) bytes.push_back(static_cast<std::uint8_t>(i * 37 + 5));
  return bytes;
}

Message write_of(std::uint16_t addr, std::vector<std::uint8_t> bytes, std::uint16_t flags = 0) {
  return {addr, flags, std::move(bytes)};
}
Message read_of(std::uint16_t addr, std::uint16_t count, std::uint16_t flags = 0) {
  return {addr, static_cast<std::uint16_t>(flags | TARNWICK_M_RD), {}, count};
}

const std::vector<Sequence> kSequences{
    {"EepromAndThermometer",
     {},
     {{"1-byte write", {write_of(kEeprom, {0x10})}},
      {"64-byte page write", {write_of(kEeprom, page(0x00, 64))}},
      {"16-byte EEPROM read", {write_of(kEeprom, {0x00}), read_of(kEeprom, 16)}},
      {"read on from there", {read_of(kEeprom, 3)}},
      {"thermometer", {write_of(kThermometer, {0x00}), read_of(kThermometer, 2)}, false, {25, 0}},
      {"write continued without a START",
       {write_of(kEeprom, {0x30}), write_of(kEeprom, {0x77, 0x66}, TARNWICK_M_NOSTART)}},
      {"read continued without a START",
       {write_of(kEeprom, {0x2E}), read_of(kEeprom, 3), read_of(kEeprom, 2, TARNWICK_M_NOSTART)},
       false,
       {0xFF, 0xFF, 0x77, 0x66, 0xFF}},
      {"nobody, NACK ignored", {write_of(kNobody, {0x00}, TARNWICK_M_IGNORE_NAK)}},
      {"nobody", {write_of(kNobody, {0x01, 0x02})}},
      {"nobody after a good write", {write_of(kEeprom, {0x00}), read_of(kNobody, 4)}, true},
      {"read back after the refusals", {write_of(kEeprom, {0x00}), read_of(kEeprom, 8)}}}},
    {"SecondDataByteRefused",
     {{"NACK Byte", "2"}},
     {{"refused mid-page", {write_of(kEeprom, page(0x40, 20))}},
      {"refused before a repeated START", {write_of(kEeprom, {0x40, 0x01}), read_of(kEeprom, 4)}},
      {"refused, NACK ignored", {write_of(kEeprom, {0x48, 0x01, 0x02}, TARNWICK_M_IGNORE_NAK)}},
      {"a read afterwards", {write_of(kEeprom, {0x40}), read_of(kEeprom, 4)}}}},
    {"MicrocontrollerStretchingTheClock",
     {{"Devices", "24C02@A0 MCU@60"}, {"Stretch Time", "20"}},
     {{"write", {write_of(kMicrocontroller, {0x10, 0x5A, 0xA5, 0x3C})}},
      {"read back", {write_of(kMicrocontroller, {0x10}), read_of(kMicrocontroller, 3)}, false,
       {0x5A, 0xA5, 0x3C}},
      {"nobody", {write_of(kNobody, {0x00})}},
      {"EEPROM beside it", {write_of(kEeprom, {0x00}), read_of(kEeprom, 2)}}},
     true},
};

// The Custom adapter, and the port layer under it.
struct Way {
  const char* name;
  test_kit::Keys port_io;
  test_kit::Keys lines;
  bool sent_whole;
  bool waits = true;  // for a stretched clock
};

// The stand-in's FT232H: AD0 and AD1 read SCL and SDA, AD2 and AD3 pull
// them low through inverters, all on the pin port.
test_kit::Keys latch_lines() {
  return {{"SDA IN Port", "378"},  {"SDA IN Bit", "2"},  {"SDA IN Pol", "1"},
          {"SDA OUT Port", "378"}, {"SDA OUT Bit", "8"}, {"SDA OUT Pol", "1"},
          {"SCL IN Port", "378"},  {"SCL IN Bit", "1"},  {"SCL IN Pol", "1"},
          {"SCL OUT Port", "378"}, {"SCL OUT Bit", "4"}, {"SCL OUT Pol", "1"}};
}

// The same chip with its lines driven by their directions (379): the
// Custom adapter's section of the sample FTDI wiring.
test_kit::Keys direction_lines() {
  for (const auto& section : test_kit::sample_wiring(INI_EXAMPLE, ";ftdi> ")) {
    if (section.name == "I2C para Gen") return section.keys;
  }
  return {};
}

test_kit::Keys with(test_kit::Keys keys, const test_kit::Keys& more) {
  keys.insert(keys.end(), more.begin(), more.end());
  return keys;
}

const Way kBench{"bench", {}, test_kit::custom_wired_like_philips_reading_the_clock(), false};
const std::vector<Way> kWholeWays{
    {"FtdiNoStretching", {{"Backend", "ftdi"}, {"FTDI Outputs", "0C"}},
     with(latch_lines(), {{"Stretch Timeout", "0"}}), true, false},
    {"FtdiStretchingWaitedFor", {{"Backend", "ftdi"}, {"FTDI Outputs", "0C"}}, latch_lines(), true},
    {"FtdiAtFastMode", {{"Backend", "ftdi"}, {"FTDI Outputs", "0C"}},
     with(latch_lines(), {{"Stretch Timeout", "0"}, {"Bus Speed", "400000"}}), true, false},
    {"FtdiDrivenByDirections", {{"Backend", "ftdi"}}, direction_lines(), true},
};

struct Outcome {
  int result;
  std::vector<std::uint8_t> read;
  unsigned long long round_trips;
  bool operator==(const Outcome& other) const {
    return result == other.result && read == other.read;
  }
};

void PrintTo(const Outcome& outcome, std::ostream* out) {
  *out << outcome.result << " [";
  for (const std::uint8_t byte : outcome.read) *out << ' ' << static_cast<int>(byte);
  *out << " ]";
}

std::vector<Outcome> run(const Sequence& sequence, const Way& way) {
  harness::Environment env;
  test_kit::Section port_io{"Port IO", way.port_io};
  if (way.port_io.empty()) port_io.keys.push_back({"Trace", env.trace_path()});
  env.configure({{"I2C Device", {{"Default", "3"}}},
                 {"I2C para Gen", with(way.lines, {{"Nops", "0"}})},
                 port_io,
                 {"Simulation", sequence.simulation}});
  harness::Library lib;
  const auto transfer = reinterpret_cast<int (*)(int, tarnwick_msg*, int)>(
      lib.symbol("tarnwick_transfer"));
  std::vector<Outcome> outcomes;
  if (transfer == nullptr) return outcomes;
  for (const Transfer& t : sequence.transfers) {
    std::vector<std::vector<std::uint8_t>> buffers;
    std::vector<tarnwick_msg> msgs;
    for (const Message& m : t.messages) buffers.push_back(m.read > 0 ? std::vector<std::uint8_t>(m.read, 0xEE) : m.bytes);
    for (std::size_t i = 0; i < t.messages.size(); ++i) {
      msgs.push_back({t.messages[i].addr, t.messages[i].flags,
                      static_cast<std::uint16_t>(buffers[i].size()), buffers[i].data()});
    }
    const unsigned long long before = TwStandInRoundTrips();
    const unsigned long long seen = TwStandInViolations();
    Outcome outcome{transfer(3, msgs.data(), static_cast<int>(msgs.size())), {}, 0};
    outcome.round_trips = TwStandInRoundTrips() - before;
    if (!t.clocks_on) {
      EXPECT_EQ(TwStandInViolations(), seen) << way.name << ": " << t.what << ": protocol violations";
    }
    for (std::size_t i = 0; i < msgs.size(); ++i) {
      if (t.messages[i].read > 0) outcome.read.insert(outcome.read.end(), buffers[i].begin(), buffers[i].end());
    }
    outcomes.push_back(outcome);
  }
  lib.unload();
  for (const std::string& line : env.trace()) {
    EXPECT_FALSE(line.starts_with("!")) << way.name << ": " << line;
  }
  return outcomes;
}

class SentWhole : public ::testing::TestWithParam<Sequence> {};

TEST_P(SentWhole, GivesWhatTheAccessByAccessPathGivesByteForByte) {
  const Sequence& sequence = GetParam();
  const std::vector<Outcome> expected = run(sequence, kBench);
  ASSERT_EQ(expected.size(), sequence.transfers.size()) << "the transfer interface is not exported";
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const Transfer& t = sequence.transfers[i];
    if (!t.known.empty()) {
      EXPECT_EQ(expected[i].read, t.known) << "on the bench: " << t.what;
    }
  }
  for (const Way& way : kWholeWays) {
    if (sequence.stretched && !way.waits) continue;
    const std::vector<Outcome> outcomes = run(sequence, way);
    ASSERT_EQ(outcomes.size(), expected.size()) << way.name;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(outcomes[i], expected[i]) << way.name << ": " << sequence.transfers[i].what;
      // Sent whole, a transaction is a chunk per part between repeated
      // STARTs, and a STOP of its own after a refusal.
      if (std::string(way.name) == "FtdiNoStretching") {
        EXPECT_LE(outcomes[i].round_trips, 3u) << sequence.transfers[i].what;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, SentWhole, ::testing::ValuesIn(kSequences),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
