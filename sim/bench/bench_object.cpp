// The bench as a port backend object: the port layer loads this shared
// object by name and sends every port access here. Its other exports are
// the bench's own questions for tests and benchmarks.
#include <string>

#include "platform/portio/backend_object.h"
#include "sim/bench/bench.h"
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

void warn(std::string_view line) {
  if (host.warn != nullptr) host.warn(std::string(line).c_str());
}

void power_up() {
  std::function<void(std::string_view)> note;
  if (host.trace_note != nullptr) {
    note = [](std::string_view line) { host.trace_note(std::string(line).c_str()); };
  }
  accesses = 0;
  bench = new Bench(BenchConfig::load(warn), warn, std::move(note));
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
