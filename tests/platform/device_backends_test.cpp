// The FTDI and GPIO backends over the stand-in of libftdi1 and libgpiod
// (linked ahead of the real libraries), whose pins are wired to the
// bench's SDA and SCL: which port shows what, which reads reach the device,
// and the one line and the FF reads when the device is not there.
#include <dlfcn.h>

#include <array>
#include <cstdio>
#include <limits>
#include <vector>

#include "platform/portio/port_settings.h"
#include "tests/platform/portio_fixture.h"
#include "tests/standin/standin.h"

namespace portio_test {
namespace {

using Counter = unsigned long long (*)();

// The stand-in's counters, found by name: the test fails rather than
// touches a real device when the stand-in is not loaded.
Counter counter(const char* name) {
  return reinterpret_cast<Counter>(::dlsym(RTLD_DEFAULT, name));
}

struct Counts {
  unsigned long long round_trips;
  unsigned long long writes;
};

Counts counts() {
  return {counter("TwStandInRoundTrips")(), counter("TwStandInWrites")()};
}

// Both backends wired as I2C.INI.example shows: FTDI pin AD0 is SCL and
// AD1 SDA; GPIO line 23 (bit 0) is SDA and line 24 (bit 1) SCL.
struct Wiring {
  const char* name;
  const char* port_io;
  unsigned long drive_port;   // written to pull lines low / let them go
  unsigned long sample_port;  // read for the levels on the bus
  std::uint8_t sda;
  std::uint8_t scl;
  std::uint8_t sda_low;  // what the drive port holds to pull SDA low
  std::uint8_t idle;     // what the drive port holds with both released
};

constexpr Wiring kWirings[] = {
    {"ftdi", "Backend = ftdi\n", 0x379, 0x378, 0x02, 0x01, 0x02, 0x00},
    {"gpio", "Backend = gpio\nGPIO Lines = 23 24\n", 0x378, 0x379, 0x01, 0x02, 0xFE, 0xFF},
};

class DeviceBackend : public PortIoTest, public ::testing::WithParamInterface<Wiring> {
 protected:
  void SetUp() override {
    PortIoTest::SetUp();
    ASSERT_NE(counter("TwStandInRoundTrips"), nullptr)
        << "the stand-in of libftdi1 and libgpiod is not loaded";
  }
};

TEST_P(DeviceBackend, DrivesTheBusAndAsksTheDeviceOnlyForItsPins) {
  const Wiring& w = GetParam();
  configure(std::string("[Port IO]\n") + w.port_io + "Trace = " + path("trace") + "\n");
  CapturedOutput err(2);
  const Counts before_open = counts();
  ASSERT_STREQ(portio::backend_name(), w.name);
  const Counts start = counts();

  // Idle: both lines high on the bus.
  EXPECT_EQ(DlPortReadPortUchar(w.sample_port) & (w.sda | w.scl), w.sda | w.scl);
  EXPECT_EQ(DlPortReadPortUchar(w.drive_port), w.idle);

  DlPortWritePortUchar(w.drive_port, w.sda_low);
  // The port written is answered from what the backend holds ...
  EXPECT_EQ(DlPortReadPortUchar(w.drive_port), w.sda_low);
  // ... the pins from the device: SDA low, SCL still high.
  EXPECT_EQ(DlPortReadPortUchar(w.sample_port) & (w.sda | w.scl), w.scl);
  // A write that changes nothing does not reach the device.
  DlPortWritePortUchar(w.drive_port, w.sda_low);
  // Ports of neither kind, such as the port delay's, are not the device's.
  EXPECT_EQ(DlPortReadPortUchar(0x37A), 0xFF);
  DlPortWritePortUchar(w.drive_port, w.idle);
  EXPECT_EQ(DlPortReadPortUchar(w.sample_port) & (w.sda | w.scl), w.sda | w.scl);

  const Counts end = counts();
  EXPECT_EQ(end.round_trips - start.round_trips, 3u);
  EXPECT_EQ(end.writes - start.writes, 2u);
  EXPECT_EQ(err.text(), "");

  // The backend's own count, from its start, goes into the trace when it
  // closes, and agrees with what the device served.
  portio::restart();
  const std::string trace = read_file(path("trace"));
  EXPECT_NE(trace.find(std::string(w.name) + ": " +
                       std::to_string(end.round_trips - before_open.round_trips) +
                       " device round trips"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find(", " + std::to_string(end.writes - before_open.writes) + " writes sent"),
            std::string::npos)
      << trace;
}

TEST_P(DeviceBackend, ASlaveHoldingSdaLowIsNotTakenIntoTheMastersOwnLatch) {
  const Wiring& w = GetParam();
  configure(std::string("[Port IO]\n") + w.port_io + "[Simulation]\nSDA Stuck = 1\n");
  CapturedOutput err(2);
  ASSERT_STREQ(portio::backend_name(), w.name);
  // Whatever holds SDA low shows on the pins only.
  EXPECT_EQ(DlPortReadPortUchar(w.sample_port) & w.sda, 0);
  const std::uint8_t held = DlPortReadPortUchar(w.drive_port);
  EXPECT_EQ(held, w.idle);
  // A clock pulse as the adapter makes it, reading the port it writes.
  const std::uint8_t scl_low =
      w.idle == 0x00 ? static_cast<std::uint8_t>(held | w.scl)
                     : static_cast<std::uint8_t>(held & ~w.scl);
  DlPortWritePortUchar(w.drive_port, scl_low);
  EXPECT_EQ(DlPortReadPortUchar(w.drive_port), scl_low);
  DlPortWritePortUchar(w.drive_port, w.idle);
  EXPECT_EQ(DlPortReadPortUchar(w.drive_port), w.idle);
  EXPECT_EQ(DlPortReadPortUchar(w.sample_port) & w.scl, w.scl);
  err.text();
}

INSTANTIATE_TEST_SUITE_P(Wired, DeviceBackend, ::testing::ValuesIn(kWirings),
                         [](const auto& info) { return std::string(info.param.name); });

struct Missing {
  const char* name;
  const char* port_io;
  const char* line_start;  // after "tarnwick: "
  const char* check;       // what the line tells to look at
};

const Missing kMissing[] = {
    {"FtdiProductNotPresent", "Backend = ftdi\nFTDI Device = i:0x0403:0x6001\n",
     "cannot open FTDI device i:0x0403:0x6001 (device not found); check that it is plugged in",
     "keys FTDI Device and FTDI Interface in section \"Port IO\" of "},
    {"FtdiSerialNotPresent", "Backend = ftdi\nFTDI Device = s:0x0403:0x6014:NOSUCH\n",
     "cannot open FTDI device s:0x0403:0x6014:NOSUCH (device not found)", "udev rule"},
    {"FtdiInterfaceTheChipLacks", "Backend = ftdi\nFTDI Interface = B\n",
     "cannot open FTDI device i:0x0403:0x6014 (unable to claim usb device", "FTDI Interface"},
    {"GpioChipNotPresent", "Backend = gpio\nGPIO Chip = /dev/gpiochip7\nGPIO Lines = 23 24\n",
     "cannot open GPIO chip /dev/gpiochip7 (No such file or directory); check that the chip "
     "exists",
     "the group that owns it"},
    {"GpioLineBeyondTheChip", "Backend = gpio\nGPIO Lines = 23 99\n",
     "GPIO chip /dev/gpiochip0 has not every line of 23 99 (Invalid argument)", "GPIO Lines"},
    {"GpioNoLinesNamed", "Backend = gpio\n", "no GPIO lines are named for GPIO chip /dev/gpiochip0",
     "GPIO Lines"},
};

class MissingDevice : public PortIoTest, public ::testing::WithParamInterface<Missing> {};

TEST_P(MissingDevice, SaysWhatToCheckOnceAndEveryPortReadsFF) {
  const Missing& m = GetParam();
  configure(std::string("[Port IO]\n") + m.port_io);
  CapturedOutput err(2);
  for (int round = 0; round < 2; ++round) {
    for (unsigned long port : {0x378ul, 0x379ul, 0x37Aul}) {
      DlPortWritePortUchar(port, 0x00);
      EXPECT_EQ(DlPortReadPortUchar(port), 0xFF) << std::hex << port;
    }
  }
  const auto lines = lines_of(err.text());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind(std::string("tarnwick: ") + m.line_start, 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find(m.check), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("until then port reads give FF and writes are ignored"),
            std::string::npos)
      << lines[0];
}

INSTANTIATE_TEST_SUITE_P(Devices, MissingDevice, ::testing::ValuesIn(kMissing),
                         [](const auto& info) { return std::string(info.param.name); });

struct BadKey {
  const char* text;
  const char* warning;  // after "tarnwick: "
};

const BadKey kBadKeys[] = {
    {"GPIO Lines = 1 2 3 4 5 6 7 8 9",
     "GPIO Lines = \"1 2 3 4 5 6 7 8 9\" in section \"Port IO\" of %s names more than eight "
     "lines"},
    {"GPIO Lines = 23,x", "GPIO Lines = \"23,x\" in section \"Port IO\" of %s holds \"x\""},
    {"GPIO Lines = 23 - 23", "GPIO Lines = \"23 - 23\" in section \"Port IO\" of %s names line "
                             "23 twice"},
    {"FTDI Interface = E", "FTDI Interface = \"E\" in section \"Port IO\" of %s is none of A, B, "
                           "C, D, ANY; using A"},
    {"FTDI Pin Port = 10000", "FTDI Pin Port = \"10000\" in section \"Port IO\" of %s is not a "
                              "hexadecimal port from 0 to FFFF; using 378"},
    {"GPIO Pin Port = 378", "GPIO Latch Port and GPIO Pin Port in section \"Port IO\" of %s are "
                            "the same port; using 378 and 379"},
    {"FTDI Outputs = 100", "FTDI Outputs = \"100\" in section \"Port IO\" of %s is not a "
                           "hexadecimal pin mask from 0 to FF; using 0"},
};

class DeviceKeys : public PortIoTest, public ::testing::WithParamInterface<BadKey> {};

TEST_P(DeviceKeys, ABadValueIsToldAndItsDefaultTakesEffect) {
  configure(std::string("[Port IO]\n") + GetParam().text + "\n");
  std::vector<std::string> warnings;
  const auto settings =
      portio::PortSettings::load([&](std::string_view line) { warnings.emplace_back(line); });
  ASSERT_EQ(warnings.size(), 1u);
  std::string expected = GetParam().warning;
  expected.replace(expected.find("%s"), 2, config_path());
  EXPECT_EQ(warnings[0].rfind(expected, 0), 0u) << warnings[0];
  const portio::PortSettings defaults;
  EXPECT_EQ(settings.gpio_lines, defaults.gpio_lines);
  EXPECT_EQ(settings.ftdi_interface, defaults.ftdi_interface);
  EXPECT_EQ(settings.ftdi_pin_port, defaults.ftdi_pin_port);
  EXPECT_EQ(settings.gpio_pin_port, defaults.gpio_pin_port);
  EXPECT_EQ(settings.ftdi_outputs, defaults.ftdi_outputs);
}

INSTANTIATE_TEST_SUITE_P(Values, DeviceKeys, ::testing::ValuesIn(kBadKeys));

TEST_F(PortIoTest, GpioLinesNameTheBitsFromBitZeroWithDashesForBitsWithout) {
  configure("[Port IO]\nGPIO Lines = 4, - 17\t2\n");
  const auto settings = portio::PortSettings::load([](std::string_view line) {
    ADD_FAILURE() << line;
  });
  const std::array<int, 8> expected{4, -1, 17, 2, -1, -1, -1, -1};
  EXPECT_EQ(settings.gpio_lines, expected);
}

// Line programs (DlPortRunProgram): sent whole by the FTDI chip in
// synchronous bit-bang mode, chunk by chunk, and access by access by the
// GPIO backend; both give the samples of the bus that single accesses give.
struct ProgramWiring {
  const char* name;
  const char* port_io;
  unsigned short drive_port;
  std::uint8_t sda_drive;
  bool set_pulls_low;
  unsigned short sample_port;
  std::uint8_t sda;
  std::uint8_t scl;
  bool sent_whole;
  // Round trips of the short program: sent whole, a chunk (on a wiring by
  // directions, one before each line change, which is a control request);
  // access by access, one per look at the pins.
  unsigned long long round_trips;
};

constexpr ProgramWiring kProgramWirings[] = {
    // AD2 and AD3 pull SCL and SDA low through the stand-in's inverters.
    {"FtdiLatch", "Backend = ftdi\nFTDI Outputs = 0C\n", 0x378, 0x08, true, 0x378, 0x02, 0x01,
     true, 1},
    {"FtdiDirections", "Backend = ftdi\n", 0x379, 0x02, true, 0x378, 0x02, 0x01, true, 3},
    {"Gpio", "Backend = gpio\nGPIO Lines = 23 24\n", 0x378, 0x01, false, 0x379, 0x01, 0x02, false,
     4},
};

class LineProgram : public PortIoTest, public ::testing::WithParamInterface<ProgramWiring> {
 protected:
  DlPortStep sda(bool low, bool cut = false) const {
    const ProgramWiring& w = GetParam();
    return {DLPORT_STEP_MODIFY, w.sda_drive, static_cast<unsigned char>(low == w.set_pulls_low),
            static_cast<unsigned char>(cut), w.drive_port, 0, 0, 0};
  }
  DlPortStep sample() const {
    return {DLPORT_STEP_READ, 0, 0, 0, GetParam().sample_port, 0, 0, 0};
  }
  // A check that SDA was `high` at the READ step `at`.
  DlPortStep sda_was(bool high, unsigned at) const {
    return {DLPORT_STEP_CHECK, GetParam().sda, static_cast<unsigned char>(high), 0, 0, 0, at, 0};
  }
  DlPortStep clock_high() const {
    return {DLPORT_STEP_WAIT, GetParam().scl, 1, 0, GetParam().sample_port, 0x37A, 1, 0};
  }
  static DlPortStep delay() { return {DLPORT_STEP_DELAY, 0, 0, 0, 0x37A, 0, 3, 5000}; }
};

TEST_P(LineProgram, SamplesTheBusAsSingleAccessesDo) {
  const ProgramWiring& w = GetParam();
  configure(std::string("[Port IO]\n") + w.port_io + "Trace = " + path("trace") + "\n");
  ASSERT_EQ(DlPortSendsProgramsWhole(), w.sent_whole ? 1 : 0);
  const std::vector<DlPortStep> steps{
      sample(), sda(true), delay(), sample(), sda_was(false, 3), clock_high(),
      sda(false, true), sample(), sda_was(true, 7)};
  std::vector<unsigned char> results(steps.size(), 0xEE);
  const Counts before = counts();
  ASSERT_EQ(DlPortRunProgram(steps.data(), static_cast<long>(steps.size()), results.data()),
            static_cast<long>(steps.size()));
  const unsigned long long trips = counts().round_trips - before.round_trips;
  EXPECT_EQ(results[0] & (w.sda | w.scl), w.sda | w.scl) << "idle";
  EXPECT_EQ(results[3] & (w.sda | w.scl), w.scl) << "SDA pulled low";
  EXPECT_EQ(results[7] & (w.sda | w.scl), w.sda | w.scl) << "SDA let go";
  EXPECT_EQ(results[4], 1);
  EXPECT_EQ(results[5], 1) << "SCL high";
  EXPECT_EQ(results[8], 1);
  EXPECT_EQ(trips, w.round_trips);
  // Afterwards single accesses go on as before.
  EXPECT_EQ(DlPortReadPortUchar(w.sample_port) & (w.sda | w.scl), w.sda | w.scl);
  // The trace shows the line accesses, sent whole or not.
  portio::restart();
  char pulled_low[16];
  std::snprintf(pulled_low, sizeof pulled_low, "W %04X %02X\n", w.drive_port, results[1]);
  EXPECT_NE(read_file(path("trace")).find(pulled_low), std::string::npos) << pulled_low;
}

// A look at a line costs a USB round trip or an ioctl, far more than the
// access time a wait's count was reckoned in: its real-time bound ends it
// (a count this large would otherwise look for hours).
TEST_P(LineProgram, AWaitEndsAtItsRealTimeBoundWhateverItsCount) {
  configure(std::string("[Port IO]\n") + GetParam().port_io);
  DlPortStep never = clock_high();
  never.value = 0;  // the idle clock stays high
  never.count = std::numeric_limits<unsigned>::max();
  never.ns = 2'000'000;
  unsigned char result = 0xEE;
  EXPECT_EQ(DlPortRunProgram(&never, 1, &result), 1);
  EXPECT_EQ(result, 0);
}

// A long program goes in chunks of the FT232H's 1 KiB, cut where allowed;
// a failed check ends it after the chunk that held it, access by access
// right after the check.
TEST_P(LineProgram, IsChunkedAndEndsAfterTheChunkOfAFailedCheck) {
  const ProgramWiring& w = GetParam();
  configure(std::string("[Port IO]\n") + w.port_io);
  auto toggles = [&](std::vector<DlPortStep> steps) {
    for (int i = 0; i < 1500; ++i) steps.push_back(sda(i % 2 == 0, i % 10 == 9));
    steps.push_back(sample());
    return steps;
  };
  const std::vector<DlPortStep> whole = toggles({sample()});
  std::vector<unsigned char> results(whole.size());
  Counts before = counts();
  ASSERT_EQ(DlPortRunProgram(whole.data(), static_cast<long>(whole.size()), results.data()),
            static_cast<long>(whole.size()));
  if (std::string(w.name) == "FtdiLatch") {
    EXPECT_EQ(counts().round_trips - before.round_trips, 2u);
  }
  EXPECT_EQ(results.back() & w.sda, w.sda) << "1500 changes end with SDA let go";

  const std::vector<DlPortStep> refused = toggles({sample(), sda_was(false, 0)});
  results.assign(refused.size(), 0xEE);
  before = counts();
  const long done = DlPortRunProgram(refused.data(), static_cast<long>(refused.size()), results.data());
  EXPECT_EQ(results[1], 0) << "SDA was high";
  if (std::string(w.name) == "FtdiLatch") {
    EXPECT_GT(done, 1000) << "the first chunk went out";
    EXPECT_LT(done, static_cast<long>(refused.size()));
    EXPECT_EQ(done % 10, 2) << "cut after a step marked for it";
    EXPECT_EQ(counts().round_trips - before.round_trips, 1u);
  } else if (!w.sent_whole) {
    EXPECT_EQ(done, 2);
  }
  EXPECT_EQ(DlPortRunProgram(nullptr, 1, results.data()), -1);
}

INSTANTIATE_TEST_SUITE_P(Wired, LineProgram, ::testing::ValuesIn(kProgramWirings),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace portio_test
