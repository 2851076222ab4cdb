// The transfer interface (tarnwick/i2c.h) on the bench at 1 us per port
// access: the speed each adapter says it achieves against the speed asked
// and the speed it runs at in bench time, its port accesses per byte
// against the Linux kernel's i2c-algo-bit at the same speed (a model of
// its bit routines, algo_bit_model.h), and the timing checker's violations
// of the mode's minimums (goal: none).
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "benchmarks/adapter.h"
#include "benchmarks/algo_bit_model.h"
#include "benchmarks/host.h"
#include "benchmarks/section.h"
#include "sim/bench/sim_bench.h"
#include "tarnwick/i2c.h"

namespace bench {
namespace {

constexpr std::uint16_t kEeprom = 0x50;
constexpr int kDataBytes = 32;
constexpr int kBytes = kDataBytes + 2;  // with the address and the word address
constexpr int kClocksPerByte = 9;
constexpr std::array<long, 2> kSpeeds{100000, 400000};

// The host's Custom wiring (the Philips adapter's lines) with the clock
// read back where the Philips adapter reads it, status bit 3: the host's
// own SCL IN keys, which the classic exports never read, name the control
// port's latch.
const std::string kCustomLines =
    "SDA IN Port = 379\nSDA IN Bit = 80\nSDA IN Pol = 1\n"
    "SDA OUT Port = 378\nSDA OUT Bit = 80\nSDA OUT Pol = 1\n"
    "SCL IN Port = 379\nSCL IN Bit = 8\nSCL IN Pol = 1\n"
    "SCL OUT Port = 37A\nSCL OUT Bit = 8\nSCL OUT Pol = 0\n";

using Transfer = int (*)(int, tarnwick_msg*, int);
using Speed = long (*)(int, long);

struct Figures {
  long achieved = 0;         // what tarnwick_bus_speed says
  double bench_hz = 0;       // clocks per bench second of a 32-byte write
  double accesses_per_byte = 0;
  unsigned long long violations = 0;
  bool failed = false;
};

Figures measure(Host& host, Adapter adapter, long hz) {
  Settings settings;
  settings.default_interface = interface_number(adapter);
  host.configure(settings, "", adapter == Adapter::custom ? kCustomLines : "",
                 std::string("Timing Check = ") + (hz > 100000 ? "fast" : "standard") + "\n");
  host.restart_ports();
  SimBenchRestart();
  const auto transfer = reinterpret_cast<Transfer>(host.symbol("tarnwick_transfer"));
  const auto speed = reinterpret_cast<Speed>(host.symbol("tarnwick_bus_speed"));
  Figures figures;
  if (transfer == nullptr || speed == nullptr) {
    figures.failed = true;
    return figures;
  }
  const int number = interface_number(adapter);
  figures.achieved = speed(number, hz);
  std::vector<std::uint8_t> page(kDataBytes + 1, 0x5A);
  page[0] = 0x00;
  tarnwick_msg write{kEeprom, 0, static_cast<std::uint16_t>(page.size()), page.data()};
  const unsigned long long time_before = SimBenchTime();
  const unsigned long long accesses_before = SimBenchAccessCount();
  figures.failed = transfer(number, &write, 1) != 1;
  const double us = static_cast<double>(SimBenchTime() - time_before);
  const double accesses = static_cast<double>(SimBenchAccessCount() - accesses_before);
  // A write and a read across a repeated START, for the checker.
  std::vector<std::uint8_t> word{0x00};
  std::vector<std::uint8_t> back(8, 0);
  std::array<tarnwick_msg, 2> both{{{kEeprom, 0, 1, word.data()},
                                    {kEeprom, TARNWICK_M_RD, 8, back.data()}}};
  figures.failed = figures.failed || transfer(number, both.data(), 2) != 2;
  figures.bench_hz = us > 0 ? kClocksPerByte * kBytes * 1e6 / us : 0;
  figures.accesses_per_byte = accesses / kBytes;
  figures.violations = SimBenchTimingViolations();
  return figures;
}

}  // namespace

Section measure_transfers(Host& host, const Options&) {
  Section section;
  Table speeds;
  speeds.title = "Transfer interface: speed asked, said and run (bench time, 1 us per access)";
  speeds.header = {"adapter", "asked Hz", "tarnwick_bus_speed Hz", "run Hz", "accesses/byte",
                   "i2c-algo-bit accesses/byte", "timing violations"};
  Json details = Json::object();
  unsigned long long violations = 0;
  for (const Adapter adapter : kAdapters) {
    Json adapter_json = Json::object();
    for (const long hz : kSpeeds) {
      const Figures f = measure(host, adapter, hz);
      if (f.failed) {
        section.problems.push_back(std::string("transfer interface: a transfer on the ") +
                                   adapter_name(adapter) + " at " + std::to_string(hz) +
                                   " Hz failed");
      }
      const int udelay = algo_bit::udelay_for(hz);
      const algo_bit::Count kernel = algo_bit::write_transaction(udelay, kDataBytes + 1);
      // Bytes with the address; the kernel's delays as reads of 1 us each.
      const double kernel_per_byte =
          static_cast<double>(kernel.line_accesses + kernel.delay_us) / kBytes;
      const bool bit_banged = adapter != Adapter::card;
      speeds.rows.push_back({adapter_name(adapter), grouped(static_cast<double>(hz)),
                             grouped(static_cast<double>(f.achieved)), grouped(f.bench_hz),
                             fixed(f.accesses_per_byte, 1),
                             bit_banged ? fixed(kernel_per_byte, 1) : "-",
                             std::to_string(f.violations)});
      Json row = Json::object()
                     .set("said_hz", static_cast<std::int64_t>(f.achieved))
                     .set("run_hz", f.bench_hz)
                     .set("accesses_per_byte", f.accesses_per_byte)
                     .set("timing_violations", static_cast<std::int64_t>(f.violations));
      if (bit_banged) row.set("i2c_algo_bit_accesses_per_byte", kernel_per_byte);
      adapter_json.set(std::to_string(hz / 1000) + "_khz", row);
      violations += f.violations;
    }
    details.set(adapter_key(adapter), adapter_json);
  }
  speeds.notes.push_back(
      "One transfer of address, word address and 32 bytes, START to STOP; run Hz counts nine "
      "clocks per byte over the whole transfer. Accesses per byte: port accesses "
      "of that transfer, port delays included, per byte. i2c-algo-bit: a model of the Linux "
      "kernel's bit routines with SCL read back, udelay = 500000 / Hz us (at least 1), every "
      "setsda/setscl/getsda/getscl one access and each us of udelay one delay read. The card's "
      "PCF8584 clocks the bus itself at 90 kHz at most. Violations: the bench's timing checker "
      "in standard mode at 100 kHz and fast mode at 400 kHz, over that transfer and a "
      "write-then-read with a repeated START.");
  section.tables.push_back(std::move(speeds));
  section.headline.set("transfer_timing_violations", static_cast<std::int64_t>(violations));
  section.details = details;
  section.goals.push_back({"timing violations of the transfer interface at 100 and 400 kHz",
                           "0", std::to_string(violations), violations == 0});
  return section;
}

}  // namespace bench
