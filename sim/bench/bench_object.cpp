// The bench as a port backend object: the port layer loads this shared
// object by name and sends every port access here. Its other exports are
// the bench's own questions for tests and benchmarks.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/portio/backend_object.h"
#include "sim/bench/bench.h"
#include "sim/bench/part_state.h"
#include "sim/bench/sim_bench.h"
#include "sim/bus/i2c_bus.h"
#include "sim/devices/eeprom_24c02.h"

namespace sim {
namespace {

// Plain pointers and records only: at the process's exit this object may be
// finished before the port layer that loaded it, which then still calls
// close().
DlPortBackendHost host{};
Bench* bench = nullptr;
unsigned long long accesses = 0;

// The first violation lines since power-up, kept for tests to read
// (SimBenchViolationLine): the first ones tell what went wrong, and a
// bench that goes on violating must not grow without bound.
constexpr std::size_t kKeptLines = 1000;
constexpr std::size_t kLineSize = 200;
char kept_lines[kKeptLines][kLineSize];
std::size_t kept = 0;

void warn(std::string_view line) {
  if (host.warn != nullptr) host.warn(std::string(line).c_str());
}

// A protocol or timing violation: kept, and written to the trace.
void violation(std::string_view line) {
  if (kept < kKeptLines) {
    const std::size_t length = std::min(line.size(), kLineSize - 1);
    std::memcpy(kept_lines[kept], line.data(), length);
    kept_lines[kept++][length] = '\0';
  }
  if (host.trace_note != nullptr) host.trace_note(std::string(line).c_str());
}

void power_up() {
  accesses = 0;
  kept = 0;
  bench = new Bench(BenchConfig::load(warn), warn, violation);
  part_state::apply_keys(bench->bus(), warn);
}

void power_down() {
  delete bench;
  bench = nullptr;
}

int open(const DlPortBackendHost* lent) {
  host = *lent;
  power_up();
  return 0;
}

unsigned char read(unsigned short port) {
  ++accesses;
  return bench->read(port);
}

void write(unsigned short port, unsigned char value) {
  ++accesses;
  bench->write(port, value);
}

void close() {
  power_down();
  host = DlPortBackendHost{};
}

// The bench's files are complete however the process ends normally, even
// when this object is finished first.
struct CloseAtExit {
  ~CloseAtExit() { close(); }
} close_at_exit;

}  // namespace
}  // namespace sim

extern "C" __attribute__((visibility("default")))
const DlPortBackendObject dlportio_backend_object{DLPORTIO_BACKEND_OBJECT_VERSION, sim::open,
                                                  sim::read, sim::write, sim::close};

unsigned long long SimBenchAccessCount(void) { return sim::bench != nullptr ? sim::accesses : 0; }

unsigned long long SimBenchTime(void) {
  return sim::bench != nullptr ? sim::bench->bus().time() : 0;
}

unsigned long long SimBenchViolations(void) {
  return sim::bench != nullptr ? sim::bench->bus().violations() : 0;
}

unsigned long long SimBenchTimingViolations(void) {
  return sim::bench != nullptr ? sim::bench->bus().timing_violations() : 0;
}

unsigned long long SimBenchUnsavedPages(void) { return sim::unsaved_pages(); }

void SimBenchRestart(void) {
  if (sim::bench != nullptr) {
    sim::power_down();
    sim::power_up();
  }
}

// The parts are reached by their 8-bit address; nothing while the bench is
// not running.
namespace {

int done(bool changed) { return changed ? 0 : -1; }

}  // namespace

int SimBenchSetTemperature(unsigned char address, double celsius) {
  return done(sim::bench != nullptr &&
              sim::part_state::set_temperature(sim::bench->bus(), address, celsius));
}

int SimBenchSetInputs(unsigned char address, unsigned char levels) {
  return done(sim::bench != nullptr &&
              sim::part_state::set_inputs(sim::bench->bus(), address, levels));
}

int SimBenchSetTime(unsigned char address, long long local_seconds) {
  return done(sim::bench != nullptr &&
              sim::part_state::set_time(sim::bench->bus(), address, local_seconds));
}

long SimBenchEepromImage(unsigned char address, unsigned char* buffer, unsigned long size) {
  std::vector<std::uint8_t> contents;
  if (sim::bench == nullptr ||
      !sim::part_state::eeprom_contents(sim::bench->bus(), address, contents)) {
    return -1;
  }
  if (buffer != nullptr) {
    std::memcpy(buffer, contents.data(), std::min<std::size_t>(size, contents.size()));
  }
  return static_cast<long>(contents.size());
}

int SimBenchLoadEepromImage(unsigned char address, const char* file, unsigned long size,
                            char* error, unsigned long error_size) {
  std::string why;
  try {
    why = sim::bench == nullptr
              ? "the bench is not running"
              : sim::part_state::load_eeprom(sim::bench->bus(), address,
                                             std::string_view(file, size));
  } catch (...) {
    why = "out of memory";  // no exception leaves through a C call
  }
  if (why.empty()) return 0;
  if (error != nullptr && error_size > 0) std::snprintf(error, error_size, "%s", why.c_str());
  return -1;
}

unsigned long SimBenchViolationLine(unsigned long long index, char* buffer, unsigned long size) {
  if (sim::bench == nullptr || index >= sim::kept) return 0;
  const char* line = sim::kept_lines[index];
  if (buffer != nullptr && size > 0) std::snprintf(buffer, size, "%s", line);
  return std::strlen(line);
}
