// A microcontroller acting as an I2C slave, the kind that stretches the
// clock: its serial unit holds SCL low after every byte and every
// acknowledge until the firmware has handled it (an AVR's TWI waits with
// SCL low while TWINT is set; an STM32's I2C block does the same with
// NOSTRETCH clear). The firmware here is the usual register file: the first
// byte written after the address sets a pointer into 256 bytes of RAM, the
// following ones are stored from it on; reads go on from the pointer; the
// pointer wraps at 256 and is kept from one transfer to the next. RAM is
// 00 at power-up.
#pragma once

#include <array>
#include <cstdint>

#include "sim/bus/i2c_bus.h"

namespace sim {

class McuSlave final : public Device {
 public:
  // `stretch_us`: how long the firmware takes for each byte and each
  // acknowledge, in bench us.
  McuSlave(std::uint8_t address, std::uint32_t stretch_us);

  std::uint8_t address() const override { return address_; }
  void on_selected(bool read) override;
  bool on_write(std::uint8_t byte) override;
  std::uint8_t on_read() override;
  std::uint32_t stretch_us() const override { return stretch_us_; }

  const std::array<std::uint8_t, 256>& ram() const { return ram_; }

 private:
  std::uint8_t address_;
  std::uint32_t stretch_us_;
  std::array<std::uint8_t, 256> ram_{};
  std::uint8_t pointer_ = 0;
  bool pointer_next_ = false;  // the next byte written sets the pointer
};

}  // namespace sim
