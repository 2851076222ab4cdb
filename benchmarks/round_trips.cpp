// Device round trips per byte through the FTDI and GPIO backends with the
// Custom adapter wired as I2C.INI.example shows, counted by the stand-in of
// libftdi1 and libgpiod that serves the backends here: every pin sample it
// serves is one round trip to a real chip. Beside them the naive figure, as
// if every port access of the line routines were one: the Custom adapter's
// accesses on the bench with no port delays.
#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "benchmarks/host.h"
#include "benchmarks/section.h"
#include "sim/bench/sim_bench.h"
#include "tests/standin/standin.h"

namespace bench {
namespace {

constexpr std::int16_t kEepromWrite = 0xA0;
constexpr std::int16_t kEepromRead = 0xA1;
// One 24C02 page after its word address: the write stays in one page.
constexpr std::int16_t kBytes = 8;
constexpr double kWriteGoal = 1;
constexpr double kReadGoal = 9;

struct BackendWiring {
  const char* name;
  const char* port_io;
  const char* lines;
};

constexpr std::array<BackendWiring, 2> kWirings{{
    {"ftdi", "Backend = ftdi\n",
     "SDA IN Port = 378\nSDA IN Bit = 2\nSDA IN Pol = 1\n"
     "SDA OUT Port = 379\nSDA OUT Bit = 2\nSDA OUT Pol = 1\n"
     "SCL IN Port = 378\nSCL IN Bit = 1\nSCL IN Pol = 1\n"
     "SCL OUT Port = 379\nSCL OUT Bit = 1\nSCL OUT Pol = 1\n"},
    {"gpio", "Backend = gpio\nGPIO Lines = 23 24\n",
     "SDA IN Port = 379\nSDA IN Bit = 1\nSDA IN Pol = 1\n"
     "SDA OUT Port = 378\nSDA OUT Bit = 1\nSDA OUT Pol = 0\n"
     "SCL IN Port = 379\nSCL IN Bit = 2\nSCL IN Pol = 1\n"
     "SCL OUT Port = 378\nSCL OUT Bit = 2\nSCL OUT Pol = 0\n"},
}};

struct PerByte {
  double written = 0;
  double read = 0;
  bool ok = true;
};

// The count `counter` moves by over eight bytes sent after the EEPROM's
// address, and over eight bytes read after its read address, per byte.
PerByte per_byte(const Exports& lib, const std::function<unsigned long long()>& counter) {
  PerByte figures;
  std::array<std::uint8_t, kBytes + 1> page{};
  std::array<std::uint8_t, kBytes> read{};
  figures.ok &= lib.I2C_Start() == 0 && lib.I2C_Address(kEepromWrite) == 0;
  auto before = counter();
  figures.ok &= lib.I2C_Send(kBytes + 1, page.data()) == kBytes + 1;
  figures.written = static_cast<double>(counter() - before) / (kBytes + 1);
  figures.ok &= lib.I2C_Stop() == 0;

  figures.ok &= lib.I2C_Start() == 0 && lib.I2C_Address(kEepromWrite) == 0 &&
                lib.I2C_Send(1, page.data()) == 1 && lib.I2C_Address(kEepromRead) == 0;
  before = counter();
  figures.ok &= lib.I2C_Read(kBytes, read.data()) == kBytes;
  figures.read = static_cast<double>(counter() - before) / kBytes;
  figures.ok &= lib.I2C_Stop() == 0;
  return figures;
}

std::string figure(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

}  // namespace

Section measure_round_trips(Host& host, const Options&) {
  Section section;
  Table table;
  table.title = "Device round trips per byte: Custom adapter on the FTDI and GPIO backends";
  table.header = {"backend",           "written: round trips", "writes sent",
                  "naive",             "read: round trips",    "writes sent",
                  "naive"};

  // Naive: every access of the line routines a round trip.
  host.configure({0, 1, ""});
  host.restart_ports();
  host.use(Adapter::custom);
  const PerByte naive = per_byte(host.library(), [] { return SimBenchAccessCount(); });
  if (!naive.ok) section.problems.push_back("the EEPROM transfers failed on the bench");

  Json details = Json::object();
  for (const BackendWiring& wiring : kWirings) {
    host.configure({0, 1, ""}, wiring.port_io, wiring.lines);
    host.restart_ports();
    host.use(Adapter::custom);
    const unsigned long long violations = TwStandInViolations();
    const PerByte trips = per_byte(host.library(), [] { return TwStandInRoundTrips(); });
    const PerByte sent = per_byte(host.library(), [] { return TwStandInWrites(); });
    if (!trips.ok || !sent.ok) {
      section.problems.push_back(std::string("the EEPROM transfers failed through ") +
                                 wiring.name);
    }
    host.restart_ports();
    if (TwStandInViolations() != violations) {
      section.problems.push_back(std::string("the bench saw bus protocol violations through ") +
                                 wiring.name);
    }
    table.rows.push_back({wiring.name, figure(trips.written), figure(sent.written),
                          figure(naive.written), figure(trips.read), figure(sent.read),
                          figure(naive.read)});
    details.set(wiring.name, Json::object()
                                 .set("written_round_trips", trips.written)
                                 .set("written_writes", sent.written)
                                 .set("read_round_trips", trips.read)
                                 .set("read_writes", sent.read));
    section.goals.push_back({std::string("round trips per byte written, ") + wiring.name,
                             "at most 1", figure(trips.written), trips.written <= kWriteGoal});
    section.goals.push_back({std::string("round trips per byte read, ") + wiring.name,
                             "at most 9", figure(trips.read), trips.read <= kReadGoal});
  }
  details.set("naive", Json::object().set("written", naive.written).set("read", naive.read));
  table.notes.push_back(
      "A round trip is a sample of the pins, for which the caller waits on the device; the "
      "port that the adapter writes is read back from the latch the backend holds. Writes are "
      "sent as they come, and one that changes no pin is not sent. Naive: every port access "
      "of the line routines a round trip. Counted by the stand-in of libftdi1 and libgpiod "
      "over the bench; a byte written is one of 9 sent after the EEPROM's address, a byte "
      "read one of 8 read after its read address.");
  section.tables.push_back(std::move(table));
  section.details = details;

  host.configure({});
  host.restart_ports();
  return section;
}

}  // namespace bench
