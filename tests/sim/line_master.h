// A test master that bit-bangs the bench bus through its line face the way
// the kernel's i2c-algo-bit does: data changes only while the clock is low,
// one bench time step per line change.
#pragma once

#include <cstdint>

#include "sim/bus/i2c_bus.h"

namespace tw_test {

class LineMaster {
 public:
  explicit LineMaster(sim::Bus& bus) : bus_(bus), id_(bus.add_line_master()) {}

  void lines(bool sda, bool scl) {
    sda_ = sda;
    scl_ = scl;
    bus_.tick();
    bus_.drive(id_, sda, scl);
  }
  void sda(bool level) { lines(level, scl_); }
  void scl(bool level) { lines(sda_, level); }

  // START from the idle bus, or repeated START after a byte.
  void start() {
    if (!scl_) {
      sda(true);
      scl(true);
    }
    sda(false);
    scl(false);
  }
  // Gives true when the byte was acknowledged.
  bool write(std::uint8_t byte) {
    for (int bit = 7; bit >= 0; --bit) {
      sda(((byte >> bit) & 1) != 0);
      scl(true);
      scl(false);
    }
    sda(true);
    scl(true);
    const bool acked = !bus_.sda();
    scl(false);
    return acked;
  }
  std::uint8_t read(bool ack) {
    sda(true);
    std::uint8_t value = 0;
    for (int bit = 0; bit < 8; ++bit) {
      scl(true);
      value = static_cast<std::uint8_t>((value << 1) | (bus_.sda() ? 1 : 0));
      scl(false);
    }
    sda(!ack);
    scl(true);
    scl(false);
    sda(true);
    return value;
  }
  void stop() {
    sda(false);
    scl(true);
    sda(true);
  }

 private:
  sim::Bus& bus_;
  int id_;
  bool sda_ = true;
  bool scl_ = true;
};

}  // namespace tw_test
