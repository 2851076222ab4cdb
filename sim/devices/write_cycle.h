// An EEPROM's internal write cycle, in bench time: after the STOP that
// programs a page the part does not acknowledge its address until the
// cycle is over (without a clock, or with length 0, at once).
#pragma once

#include <cstdint>

#include "sim/bus/bench_clock.h"

namespace sim {

class WriteCycle {
 public:
  WriteCycle(const BenchClock* clock, std::uint32_t length_us)
      : clock_(clock), length_us_(length_us) {}

  void begin() {
    if (clock_ != nullptr) ends_at_ = clock_->now() + length_us_;
  }
  bool over() const { return clock_ == nullptr || clock_->now() >= ends_at_; }

 private:
  const BenchClock* clock_;
  std::uint32_t length_us_;
  std::uint64_t ends_at_ = 0;
};

}  // namespace sim
