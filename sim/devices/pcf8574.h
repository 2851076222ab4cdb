// A PCF8574 8-bit quasi-bidirectional port. Each byte written sets the
// output latch (0xFF at power-up: every pin weakly high); a read gives the
// pins, where a pin is high only when its latch bit is 1 and nothing outside
// pulls it low. Every written byte is acknowledged.
#pragma once

#include <cstdint>

#include "sim/bus/i2c_bus.h"

namespace sim {

class Pcf8574 final : public Device {
 public:
  explicit Pcf8574(std::uint8_t address) : address_(address) {}

  // What the outside circuit does to the pins: a 0 bit pulls that pin low.
  // All high (nothing connected) by default.
  void set_inputs(std::uint8_t levels) { inputs_ = levels; }
  std::uint8_t latch() const { return latch_; }
  std::uint8_t pins() const { return latch_ & inputs_; }

  std::uint8_t address() const override { return address_; }
  bool on_write(std::uint8_t byte) override {
    latch_ = byte;
    return true;
  }
  std::uint8_t on_read() override { return pins(); }

 private:
  std::uint8_t address_;
  std::uint8_t latch_ = 0xFF;
  std::uint8_t inputs_ = 0xFF;
};

}  // namespace sim
