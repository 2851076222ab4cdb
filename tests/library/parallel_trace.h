// Port traces of the parallel adapters read as the line events of the
// adapters' prescribed sequences (tests/oracle/parallel_lines.h), so that a test
// compares what went to the lines with the sequences it expects:
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

#include "tests/oracle/parallel_lines.h"
#include "tests/support/tarnwick_harness.h"

namespace parallel_test {

inline constexpr std::int16_t kPhilips = 2;  // interface numbers
inline constexpr std::int16_t kCustom = 3;

// "Nops" of both sections and the Custom adapter wired as the Philips one.
using test_kit::parallel_wiring;

// The line events with the port delays ('.') taken out.
std::string without_delays(const std::string& events);

// The sequences every transaction is made of, from the adapters' steps.
using oracle::lines::byte_in;
using oracle::lines::byte_out;
using oracle::lines::delays;
using oracle::lines::restart;
using oracle::lines::settle_wait;
using oracle::lines::start_sequence;
using oracle::lines::stop_sequence;

// A library loaded on a bench with the port trace on; `mark` puts a marker
// access between operations, `segments` unloads and gives the events
// between markers (the first one is everything before the first marker).
class TracedBus : public ::testing::Test {
 protected:
  void load(std::int16_t interface, const test_kit::Ini& ini);
  void mark() const;
  std::vector<std::string> segments();
  const harness::Exports& bus() const { return library_->exports(); }

  harness::Environment env_;
  std::unique_ptr<harness::Library> library_;
};

}  // namespace parallel_test
