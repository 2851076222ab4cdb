#include "tests/standin/standin_bench.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "sim/bench/bench.h"
#include "sim/bus/i2c_bus.h"
#include "tests/standin/standin.h"

namespace standin {
namespace {

// Plain pointers and counts: the backend that uses the stand-in may close
// its device while the process exits, after static objects here are gone.
sim::Bench* bench = nullptr;
int master = -1;
int users = 0;
unsigned long long round_trips = 0;
unsigned long long writes = 0;
unsigned long long violations = 0;

void say(std::string_view line) {
  std::fprintf(stderr, "tarnwick stand-in: %.*s\n", static_cast<int>(line.size()), line.data());
}

}  // namespace

void attach() {
  if (users++ > 0) return;
  bench = new sim::Bench(sim::BenchConfig::load(say), say, say);
  master = bench->bus().add_line_master();
}

void detach() {
  if (users == 0 || --users > 0) return;
  violations += bench->bus().violations();
  delete bench;
  bench = nullptr;
  master = -1;
}

void drive(bool sda_released, bool scl_released) {
  if (bench != nullptr) bench->bus().drive(master, sda_released, scl_released);
}

bool sda() { return bench == nullptr || bench->bus().sda(); }
bool scl() { return bench == nullptr || bench->bus().scl(); }

void sampled() {
  ++round_trips;
  if (bench != nullptr) bench->bus().tick();
}

void answered() { ++round_trips; }

void written() {
  ++writes;
  if (bench != nullptr) bench->bus().tick();
}

}  // namespace standin

unsigned long long TwStandInRoundTrips(void) { return standin::round_trips; }
unsigned long long TwStandInWrites(void) { return standin::writes; }
unsigned long long TwStandInViolations(void) {
  return standin::violations +
         (standin::bench != nullptr ? standin::bench->bus().violations() : 0);
}
