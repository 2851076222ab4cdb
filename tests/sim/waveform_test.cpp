// The VCD recording of the bus, checked as a file and through an
// independent I2C decoder.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/bus/i2c_bus.h"
#include "sim/bus/waveform.h"
#include "sim/devices/eeprom_24c02.h"
#include "tests/sim/faces.h"
#include "tests/sim/sigrok_decode.h"

namespace {

constexpr std::uint8_t kEeprom = 0xA0;

class WaveformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    path = ::testing::TempDir() + "waveform_" + test->name() + ".vcd";
  }
  void TearDown() override { std::filesystem::remove(path); }

  // Runs `traffic` on a bus with a 24C02 while recording, and closes the file.
  template <typename Traffic>
  void record(Traffic traffic) {
    sim::Bus bus;
    bus.attach(std::make_unique<sim::Eeprom24c02>(kEeprom, "", nullptr));
    std::string error;
    auto waveform = sim::Waveform::open(path, &error);
    ASSERT_NE(waveform, nullptr) << error;
    bus.record_waveform(std::move(waveform));
    traffic(bus);
    EXPECT_EQ(bus.violations(), 0u);
  }

  std::string text() const {
    std::ifstream in(path);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
  }

  std::string path;
};

void line_traffic(sim::Bus& bus) {
  test_kit::BusLineMaster line(bus);
  line.start();
  line.write(kEeprom);
  line.write(0x10);
  line.write(0x33);
  line.write(0x44);
  line.stop();
  line.start();
  line.write(kEeprom);
  line.write(0x10);
  line.start();
  line.write(kEeprom | 1);
  line.read(true);
  line.read(false);
  line.stop();
}

void byte_traffic(sim::Bus& bus) {
  tw_test::ByteFace face(bus);
  face.start();
  face.write(0xB0);  // nobody there
  face.stop();
  face.start();
  face.write(kEeprom);
  face.write(0x11);
  face.start();
  face.write(kEeprom | 1);
  face.read(true);
  face.read(false);
  face.stop();
}

TEST_F(WaveformTest, DecodesIntoExactlyTheTrafficOfBothFaces) {
  if (!tw_test::sigrok_cli_available()) GTEST_SKIP() << tw_test::kNoSigrok;
  record([](sim::Bus& bus) {
    line_traffic(bus);
    byte_traffic(bus);
  });
  EXPECT_EQ(tw_test::sigrok_decode_i2c(path),
            "S AW:A0 A DW:10 A DW:33 A DW:44 A P "
            "S AW:A0 A DW:10 A Sr AR:A1 A DR:33 A DR:44 N P "
            "S AW:B0 N P "
            "S AW:A0 A DW:11 A Sr AR:A1 A DR:44 A DR:FF N P");
}

TEST_F(WaveformTest, ByteFaceAloneDecodesWithoutAnyPortAccessInBetween) {
  if (!tw_test::sigrok_cli_available()) GTEST_SKIP() << tw_test::kNoSigrok;
  record([](sim::Bus& bus) {
    bus.start();
    bus.write(kEeprom);
    bus.write(0x00);
    bus.write(0x5A);
    bus.stop();
    bus.start();
    bus.write(kEeprom | 1);
    bus.read(false);
    bus.stop();
  });
  EXPECT_EQ(tw_test::sigrok_decode_i2c(path),
            "S AW:A0 A DW:00 A DW:5A A P S AR:A1 A DR:FF N P");
}

TEST_F(WaveformTest, FileStartsIdleAndClosesAfterTheLastChangeWithRisingTime) {
  std::uint64_t end_time = 0;
  record([&end_time](sim::Bus& bus) {
    for (int i = 0; i < 100; ++i) bus.tick();  // an idle bus before the first START
    line_traffic(bus);
    byte_traffic(bus);
    for (int i = 0; i < 500; ++i) bus.tick();
    end_time = bus.time();
  });
  const std::string vcd = text();
  EXPECT_NE(vcd.find("$timescale 1 us $end"), std::string::npos);
  EXPECT_NE(vcd.find("$var wire 1 ! scl $end"), std::string::npos);
  EXPECT_NE(vcd.find("$var wire 1 \" sda $end"), std::string::npos);
  const std::size_t body = vcd.find("$enddefinitions $end\n");
  ASSERT_NE(body, std::string::npos);
  // The starting levels (idle: both high) stand 10 us before the first
  // edge, so that a viewer opens on the traffic, not on the idle bus.
  const std::string start = vcd.substr(body + 21);
  const std::size_t dump = start.find("\n$dumpvars\n1!\n1\"\n$end\n#");
  ASSERT_NE(dump, std::string::npos) << start.substr(0, 60);
  ASSERT_EQ(start[0], '#');
  const unsigned long long levels_at = std::stoull(start.substr(1, dump - 1));
  const std::size_t first_edge = dump + std::string("\n$dumpvars\n1!\n1\"\n$end\n").size();
  EXPECT_EQ(std::stoull(start.substr(first_edge + 1)), levels_at + 10);
  EXPECT_GT(levels_at, 0u) << "the idle bus before the first edge is not recorded";

  std::istringstream lines(vcd.substr(body));
  std::string line;
  std::vector<unsigned long long> stamps;
  std::string last_line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line[0] == '#') stamps.push_back(std::stoull(line.substr(1)));
    last_line = line;
  }
  ASSERT_GE(stamps.size(), 3u);
  for (std::size_t i = 1; i < stamps.size(); ++i) {
    ASSERT_LT(stamps[i - 1], stamps[i]) << "timestamp " << i;
  }
  EXPECT_EQ(last_line[0], '#') << "the file must close with a timestamp";
  // Stamps are bench time: edges packed ahead of it by a byte clocked at
  // once are caught up by the idle accesses, and the file closes at the
  // bench time of its end.
  EXPECT_EQ(stamps.back(), end_time);
  EXPECT_GT(stamps.back() - stamps[stamps.size() - 2], 300u);
}

TEST_F(WaveformTest, OpenNamesTheFileItCannotWrite) {
  std::string error;
  EXPECT_EQ(sim::Waveform::open("/nonexistent-dir/bus.vcd", &error), nullptr);
  EXPECT_NE(error.find("/nonexistent-dir/bus.vcd"), std::string::npos) << error;
}

// A recording that could not be written is told once, naming the file and
// the error, however many writes failed; one written whole is not told.
TEST_F(WaveformTest, AFailedWriteIsToldOnceNamingTheFileAndTheError) {
  struct Case {
    std::string path;
    std::size_t changes;  // enough to fill the buffer several times, or few
    const char* error;    // nullptr: nothing to tell
  };
  const std::string good = ::testing::TempDir() + "/told-" + std::to_string(::getpid()) + ".vcd";
  const Case cases[] = {
      {"/dev/full", 5, "No space left on device"},
      {"/dev/full", 200000, "No space left on device"},
      {good, 200000, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " with " + std::to_string(c.changes) + " changes");
    std::string error;
    auto waveform = sim::Waveform::open(c.path, &error);
    if (waveform == nullptr) {
      // Refused at the open: told there, naming the file.
      EXPECT_NE(error.find(c.path), std::string::npos) << error;
      continue;
    }
    std::vector<std::string> told;
    waveform->on_failure([&](std::string_view line) { told.emplace_back(line); });
    waveform->begin(true, true);
    for (std::size_t step = 1; step <= c.changes; ++step) {
      waveform->change(step, step % 2 == 0, step % 3 == 0);
    }
    waveform->finish(c.changes + 1);
    waveform.reset();
    if (c.error == nullptr) {
      EXPECT_TRUE(told.empty()) << told.front();
      continue;
    }
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find(c.path), std::string::npos) << told[0];
    EXPECT_NE(told[0].find(c.error), std::string::npos) << told[0];
  }
  std::filesystem::remove(good);
}

}  // namespace
