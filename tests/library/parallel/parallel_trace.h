// Port traces of the parallel adapters read as line events, so that a test
// compares what went to the lines with the bus sequences it expects:
//   D d   data line released / driven      C c   clock line released / driven
//   .     one port delay (a read of base + 2 that no clock write follows)
//   r     data line read                   |     marker set by the test
//   ?...  any other access, printed whole
// Ports are those of the Philips wiring: data 0x378, status 0x379, control
// (and port delay) 0x37A; the Custom adapter is given the same wiring.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/tarnwick_harness.h"

namespace parallel_test {

inline constexpr std::int16_t kPhilips = 2;  // interface numbers
inline constexpr std::int16_t kCustom = 3;

// "Nops" of both sections and the Custom adapter wired as the Philips one.
harness::Ini wiring(const std::string& nops);

// One delay per '.' in the line-event string.
std::string without_delays(const std::string& events);
long delays(const std::string& events);

// The sequences every transaction is made of.
std::string start_sequence();
std::string stop_sequence();
std::string settle_wait();
std::string restart();
std::string byte_out(std::uint8_t byte);
std::string byte_in(bool acknowledge);

// A library loaded on a bench with the port trace on; `mark` puts a marker
// access between operations, `segments` unloads and gives the events
// between markers (the first one is everything before the first marker).
class TracedBus : public ::testing::Test {
 protected:
  void load(std::int16_t interface, const harness::Ini& ini);
  void mark() const;
  std::vector<std::string> segments();
  const harness::Exports& bus() const { return library_->exports(); }

  harness::Environment env_;
  std::unique_ptr<harness::Library> library_;
};

}  // namespace parallel_test
