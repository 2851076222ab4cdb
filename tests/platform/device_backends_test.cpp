// The FTDI and GPIO backends over the stand-in of libftdi1 and libgpiod
// (linked ahead of the real libraries), whose pins are wired to the
// bench's SDA and SCL: which port shows what, which reads reach the device,
// and the one line and the FF reads when the device is not there.
#include <dlfcn.h>

#include <array>

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

}  // namespace
}  // namespace portio_test
