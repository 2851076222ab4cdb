// The simulated PC parallel port with a passive I2C adapter on it, wired as
// the Philips adapter expects: data bit 7 set pulls SDA low, control bit 3
// set releases SCL, status bit 7 reads SDA back and status bit 3 SCL (where
// the Linux kernel's i2c-parport reads it for this adapter), so a master
// that releases SCL sees it low while a slave stretches the clock.
#pragma once

#include <cstdint>

namespace sim {

class Bus;

class ParportModel {
 public:
  // `adapter_status` supplies status bits 4 to 6 (0x20: adapter present and
  // powered); `sda_stuck` holds SDA low.
  ParportModel(Bus& bus, std::uint8_t adapter_status, bool sda_stuck);
  // reg 0 data, 1 status, 2 control.
  std::uint8_t read(unsigned reg);
  void write(unsigned reg, std::uint8_t value);

  static constexpr unsigned kDataReg = 0;
  static constexpr unsigned kStatusReg = 1;
  static constexpr unsigned kControlReg = 2;

 private:
  void drive_lines();

  Bus& bus_;
  int line_master_;
  std::uint8_t adapter_status_;
  // A real port's data and control latches power up with every output low
  // except the control lines that idle high; both I2C lines start released.
  std::uint8_t data_ = 0x00;
  std::uint8_t control_ = 0x0C;
};

}  // namespace sim
