// Bench time, in microseconds since the bench powered up.
//
// Every port access advances it by the access time (an ISA or LPC port
// access takes about 1 us), or by the wall time since the access before
// where that is longer, so a person's pause between two commands counts as
// the pause it was. Reading the wall clock costs more than a simulated
// access, so the clock reads it only now and then: at every START on the
// bus (any transfer a pause came before begins with one) and every
// kWallSampleEvery accesses. Between two readings each access counts the
// access time alone; at a reading, bench time becomes at least the time
// since the reading before. That never runs ahead of the per-access rule
// and falls behind it by at most kWallSampleEvery accesses' worth of access
// time for each pause inside a stretch between two readings.
// Without the wall clock bench time is the port accesses alone, the same on
// every run.
#pragma once

#include <chrono>
#include <cstdint>

namespace sim {

class BenchClock {
 public:
  static constexpr std::uint32_t kWallSampleEvery = 256;

  void configure(std::uint32_t access_us, bool wall_clock) {
    access_us_ = access_us;
    wall_clock_ = wall_clock;
    until_sample_ = kWallSampleEvery;
    sampled_bench_ = now_;
    sampled_wall_ = wall_clock ? wall_us() : 0;
  }

  // One port access.
  void tick() {
    now_ += access_us_;
    if (--until_sample_ == 0) sample_wall();
  }

  // Brings bench time up to the wall clock where that has run further.
  // Out of the way of tick(), which then needs no registers saved.
  [[gnu::noinline, gnu::cold]] void sample_wall() {
    until_sample_ = kWallSampleEvery;
    if (!wall_clock_) return;
    const std::uint64_t wall = wall_us();
    const std::uint64_t by_wall = sampled_bench_ + (wall - sampled_wall_);
    if (by_wall > now_) now_ = by_wall;
    sampled_bench_ = now_;
    sampled_wall_ = wall;
  }

  std::uint64_t now() const { return now_; }

 private:
  static std::uint64_t wall_us() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  }

  std::uint64_t now_ = 0;
  std::uint32_t access_us_ = 1;
  bool wall_clock_ = false;
  std::uint32_t until_sample_ = kWallSampleEvery;
  std::uint64_t sampled_bench_ = 0;  // bench time at the last wall reading
  std::uint64_t sampled_wall_ = 0;   // and the wall clock then
};

}  // namespace sim
