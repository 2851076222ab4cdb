// An LM75 temperature sensor. The first byte written after the address is
// the pointer (0 temperature, 1 configuration, 2 hysteresis THYST, 3
// over-temperature TOS; bits 7 to 3 ignored); it stays until written again.
// Pointer values 4 to 7 reach no register: reads there give the last byte
// read from the part, as on National's LM75 (drivers' detection relies on it).
// Temperature, THYST and TOS are 9-bit two's complement values in 0.5 degC,
// left-justified in two bytes (MSB first, only bit 7 of the LSB used); the
// configuration register is one byte (bits 4 to 0). Reads go on from the
// pointed register, repeating its bytes: MSB, LSB, MSB, ... A two-byte
// register takes a written value when its LSB arrives; the temperature
// register is read-only. Power-up: 25.0 degC, configuration 0, THYST
// 75 degC, TOS 80 degC.
#pragma once

#include <cstdint>

#include "sim/bus/i2c_bus.h"

namespace sim {

class Lm75 final : public Device {
 public:
  explicit Lm75(std::uint8_t address);

  // Rounded to 0.5 degC and held within the part's -55 to +125 degC.
  void set_temperature(double celsius);

  std::uint8_t address() const override { return address_; }
  void on_selected(bool read) override;
  bool on_write(std::uint8_t byte) override;
  std::uint8_t on_read() override;

 private:
  std::uint16_t register_value(unsigned index) const;

  std::uint8_t address_;
  std::uint8_t pointer_ = 0;
  std::uint16_t temperature_ = 0x1900;  // 25.0 degC
  std::uint8_t configuration_ = 0;
  std::uint16_t hysteresis_ = 0x4B00;  // 75.0 degC
  std::uint16_t over_temperature_ = 0x5000;  // 80.0 degC
  int bytes_written_ = 0;  // in this transfer, pointer byte included
  std::uint8_t pending_msb_ = 0;
  int bytes_read_ = 0;
  std::uint8_t last_read_ = 0;
};

}  // namespace sim
