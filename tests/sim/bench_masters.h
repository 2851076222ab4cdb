// The two ways a host reaches the bench bus, done by hand through the
// bench's ports: bit-banging the Philips adapter on the parallel port (the
// kit's line master), and programming the PCF8584 card the way the card
// adapter does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/bench/bench.h"
#include "tests/support/line_master.h"

namespace bench_test {

// Collects warning lines.
struct Lines {
  std::vector<std::string> lines;
  auto sink() {
    return [this](std::string_view line) { lines.emplace_back(line); };
  }
};

using test_kit::ParportMaster;

// The card programmed register by register as the card adapter does it.
class CardMaster {
 public:
  explicit CardMaster(sim::Bench& bench, std::uint16_t base = 0x300)
      : bench_(bench), s0_(base), s1_(static_cast<std::uint16_t>(base + 1)) {
    bench_.write(s1_, 0x80);  // interface off, S0 reaches the own address
    bench_.write(s0_, 0x55);
    bench_.write(s1_, 0xA0);  // S0 reaches the clock register
    bench_.write(s0_, 0x1C);
    bench_.write(s1_, 0xC1);  // interface on, idle
  }

  // START, the address byte and the data bytes, STOP; true when every byte
  // was acknowledged.
  bool write(std::uint8_t address, const std::vector<std::uint8_t>& bytes) {
    bench_.write(s1_, 0x40);
    bench_.write(s0_, address);
    bench_.write(s1_, 0xC5);  // START, then the address in S0
    bool acked = wait_and_acked();
    for (const std::uint8_t byte : bytes) {
      bench_.write(s0_, byte);
      acked = wait_and_acked() && acked;
    }
    bench_.write(s1_, 0xC2);  // STOP
    return acked;
  }

 private:
  bool wait_and_acked() {
    std::uint8_t status = 0x80;
    for (int poll = 0; poll < 1000 && (status & 0x80) != 0; ++poll) {
      status = bench_.read(s1_);
    }
    return (status & 0x88) == 0;  // PIN clear and LRB clear
  }

  sim::Bench& bench_;
  std::uint16_t s0_;
  std::uint16_t s1_;
};

}  // namespace bench_test
