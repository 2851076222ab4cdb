// An NXP MMA8452Q three-axis accelerometer, a sensor read the way many are:
// START, address, register number, repeated START, read address, data.
// Its data sheet gives every read with the repeated START, and the part
// takes the register number for that one read only: this model returns
// the pointer to register 00 (STATUS) at every STOP, so a host that sends
// STOP between writing the register number and reading gets STATUS and the
// registers after it instead of the one it asked for. Reads go on to the
// next register and wrap after 31 to 00; writes after the register number
// go to it and the ones after it. Registers 00 to 0D are read-only (0D,
// WHO_AM_I, reads 2A). Power-up: standby, STATUS 00, the outputs as the
// part lying flat (X and Y 0 g, Z +1 g: 4000 left-justified at +-2 g),
// every other register 00.
#pragma once

#include <array>
#include <cstdint>

#include "sim/bus/i2c_bus.h"

namespace sim {

class Mma8452q final : public Device {
 public:
  explicit Mma8452q(std::uint8_t address);

  std::uint8_t address() const override { return address_; }
  void on_selected(bool read) override;
  bool on_write(std::uint8_t byte) override;
  std::uint8_t on_read() override;
  void on_stop() override { pointer_ = 0; }

  std::uint8_t register_value(std::uint8_t index) const { return registers_[index]; }

 private:
  static constexpr std::size_t kRegisters = 0x32;

  void advance() { pointer_ = static_cast<std::uint8_t>((pointer_ + 1) % kRegisters); }

  std::uint8_t address_;
  std::array<std::uint8_t, kRegisters> registers_{};
  std::uint8_t pointer_ = 0;
  bool pointer_next_ = false;  // the next byte written is a register number
};

}  // namespace sim
