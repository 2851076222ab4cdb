// Device round trips per byte through the FTDI and GPIO backends with the
// Custom adapter wired as I2C.INI.example shows, counted by the stand-in of
// libftdi1 and libgpiod that serves the backends here: every pin sample it
// serves is one round trip to a real chip. Beside them the naive figure, as
// if every port access of the line routines were one: the Custom adapter's
// accesses on the bench with no port delays.
//
// Then the same per tarnwick_transfer: the round trips of three transfers
// through FTDI, whose backend sends each transaction whole as a line
// program, and their port accesses through GPIO, which runs it access by
// access.
#include <dlfcn.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "benchmarks/host.h"
#include "benchmarks/section.h"
#include "sim/bench/sim_bench.h"
#include "tarnwick/i2c.h"
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

// --- per tarnwick_transfer ---

constexpr std::uint16_t kEeprom = 0x50;
constexpr double kTransferGoal = 2;
constexpr const char* kDelayPortTrace = " 037A ";

struct TransferCase {
  const char* name;  // as the JSON carries it
  const char* what;
  std::uint16_t written;  // bytes of the write message, word address included
  std::uint16_t read;     // bytes read after a repeated START (0: none)
};

constexpr std::array<TransferCase, 3> kTransfers{{
    {"write_1", "1-byte write", 1, 0},
    {"eeprom_read_16", "16-byte EEPROM read (write 1, Sr, read 16)", 1, 16},
    {"page_write_64", "64-byte page write", 65, 0},
}};

// The FTDI chip with its lines driven from the latch through the stand-in
// board's inverters (AD2 SCL, AD3 SDA), read on AD0 and AD1.
constexpr const char* kLatchPortIo = "Backend = ftdi\nFTDI Outputs = 0C\n";
constexpr const char* kLatchLines =
    "SDA IN Port = 378\nSDA IN Bit = 2\nSDA IN Pol = 1\n"
    "SDA OUT Port = 378\nSDA OUT Bit = 8\nSDA OUT Pol = 1\n"
    "SCL IN Port = 378\nSCL IN Bit = 1\nSCL IN Pol = 1\n"
    "SCL OUT Port = 378\nSCL OUT Bit = 4\nSCL OUT Pol = 1\n";
constexpr const char* kNoStretching = "Stretch Timeout = 0\n";

struct Way {
  const char* name;
  const char* port_io;
  std::string lines;
};

using TransferCall = int (*)(int, tarnwick_msg*, int);

// One transfer of `c` through the Custom adapter; its result.
int run_transfer(TransferCall transfer, const TransferCase& c) {
  std::vector<std::uint8_t> written(c.written);
  for (std::size_t i = 1; i < written.size(); ++i) written[i] = static_cast<std::uint8_t>(i * 7);
  std::vector<std::uint8_t> read(c.read);
  std::vector<tarnwick_msg> msgs{{kEeprom, 0, c.written, written.data()}};
  if (c.read > 0) msgs.push_back({kEeprom, TARNWICK_M_RD, c.read, read.data()});
  return transfer(3, msgs.data(), static_cast<int>(msgs.size()));
}

TransferCall transfer_call(Host& host) {
  host.library();
  void* library = dlopen("libtarnwick.so.4", RTLD_NOW | RTLD_NOLOAD);
  if (library == nullptr) return nullptr;
  const auto call = reinterpret_cast<TransferCall>(dlsym(library, "tarnwick_transfer"));
  dlclose(library);
  return call;
}

struct Counted {
  double round_trips = 0;
  double writes = 0;
  double line_accesses = 0;  // port accesses but the port delay's reads
  bool ok = true;
};

// A fresh start of the port layer and `runs` runs of the transfer: the
// stand-in's counts over the last run, and the traced line accesses of all.
Counted load_and_run(Host& host, const Way& way, const TransferCase& c, int runs, bool trace) {
  const std::string trace_file = host.file("transfers.trace");
  host.configure({0, 3, trace ? trace_file : "", false}, way.port_io, way.lines);
  host.restart_ports();
  std::remove(trace_file.c_str());
  host.use(Adapter::custom);
  const TransferCall transfer = transfer_call(host);
  Counted counted;
  counted.ok = transfer != nullptr;
  for (int run = 0; counted.ok && run < runs; ++run) {
    const unsigned long long trips = TwStandInRoundTrips();
    const unsigned long long writes = TwStandInWrites();
    counted.ok = run_transfer(transfer, c) >= 0;
    counted.round_trips = static_cast<double>(TwStandInRoundTrips() - trips);
    counted.writes = static_cast<double>(TwStandInWrites() - writes);
  }
  host.restart_ports();
  std::ifstream lines(trace_file);
  for (std::string line; std::getline(lines, line);) {
    const bool access = line.starts_with("R ") || line.starts_with("W ");
    if (access && line.find(kDelayPortTrace) == std::string::npos) ++counted.line_accesses;
  }
  return counted;
}

// Each transfer counted as the second of two after a fresh start (the
// first also measures the port access time); its line accesses as what
// the second run adds to the trace.
std::array<Counted, kTransfers.size()> count_transfers(Host& host, const Way& way, bool trace) {
  std::array<Counted, kTransfers.size()> counted{};
  for (std::size_t i = 0; i < kTransfers.size(); ++i) {
    const Counted once = load_and_run(host, way, kTransfers[i], 1, trace);
    counted[i] = load_and_run(host, way, kTransfers[i], 2, trace);
    counted[i].ok = counted[i].ok && once.ok;
    counted[i].line_accesses -= once.line_accesses;
  }
  return counted;
}

void measure_transfers(Host& host, Section& section, Json& details) {
  Table table;
  table.title = "USB round trips and port accesses per tarnwick_transfer: Custom adapter";
  table.header = {"backend", "figure"};
  for (const TransferCase& c : kTransfers) table.header.push_back(c.what);

  const std::vector<Way> ways{
      {"ftdi", kLatchPortIo, std::string(kLatchLines) + kNoStretching},
      {"ftdi, stretching waited for", kLatchPortIo, kLatchLines},
      {"ftdi, lines driven by directions", "Backend = ftdi\n",
       std::string(kWirings[0].lines) + kNoStretching},
      {"gpio", kWirings[1].port_io, std::string(kWirings[1].lines) + kNoStretching},
  };
  const std::array<const char*, 4> keys{"ftdi", "ftdi_stretching", "ftdi_directions", "gpio"};
  Json headline = Json::object();
  for (std::size_t w = 0; w < ways.size(); ++w) {
    const Way& way = ways[w];
    const bool gpio = std::string(keys[w]) == "gpio";
    const unsigned long long violations = TwStandInViolations();
    const auto counted = count_transfers(host, way, gpio);
    host.restart_ports();
    if (TwStandInViolations() != violations) {
      section.problems.push_back(std::string("the bench saw bus protocol violations through ") +
                                 way.name);
    }
    std::vector<std::string> trips_row{way.name, gpio ? "device round trips (line reads)"
                                                      : "USB round trips"};
    std::vector<std::string> writes_row{way.name, "writes sent"};
    std::vector<std::string> accesses_row{way.name, "port accesses (no port delays)"};
    Json figures = Json::object();
    for (std::size_t i = 0; i < kTransfers.size(); ++i) {
      const Counted& c = counted[i];
      if (!c.ok) {
        section.problems.push_back(std::string("the ") + kTransfers[i].what + " failed through " +
                                   way.name);
      }
      trips_row.push_back(figure(c.round_trips));
      writes_row.push_back(figure(c.writes));
      accesses_row.push_back(figure(c.line_accesses));
      Json one = Json::object().set("round_trips", c.round_trips).set("writes", c.writes);
      if (gpio) one.set("port_accesses", c.line_accesses);
      figures.set(kTransfers[i].name, one);
      if (w == 0) {
        section.goals.push_back({std::string("USB round trips per tarnwick_transfer, ") +
                                     kTransfers[i].what + ", ftdi, stretching off",
                                 "at most 2", figure(c.round_trips), c.round_trips <= kTransferGoal});
      }
    }
    table.rows.push_back(trips_row);
    table.rows.push_back(writes_row);
    if (gpio) table.rows.push_back(accesses_row);
    headline.set(keys[w], figures);
  }
  table.notes.push_back(
      "One tarnwick_transfer to the 24C02 each, at 100 kHz, counted by the stand-in of libftdi1 "
      "and libgpiod over the bench. ftdi: lines driven from the latch (FTDI Outputs = 0C), "
      "Stretch Timeout = 0, so the backend sends each transaction whole in synchronous "
      "bit-bang mode: a round trip is one chunk written and its samples read, up to each "
      "repeated START; writes sent count bytes and control requests. With the clock's "
      "stretching waited for, every raised SCL ends a chunk (about a round trip a clock); "
      "driven by directions, every line change is a control request between chunks. gpio "
      "runs the same program access by access: its port accesses leave out the port "
      "delay's reads, whose number follows the access time measured at the start.");
  section.tables.push_back(std::move(table));
  section.headline.set("transfer_round_trips", headline);
  details.set("transfers", headline);
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
  measure_transfers(host, section, details);
  section.details = details;

  host.configure({});
  host.restart_ports();
  return section;
}

}  // namespace bench
