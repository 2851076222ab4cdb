#include "sim/devices/lm75.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

enum Register : unsigned {
  kTemperature = 0,
  kConfiguration = 1,
  kHysteresis = 2,
  kOverTemperature = 3,
};

// Only the top nine bits of a temperature-format register exist.
constexpr std::uint16_t kNineBits = 0xFF80;
constexpr std::uint8_t kConfigurationBits = 0x1F;
constexpr std::uint8_t kPointerBits = 0x07;
constexpr unsigned kFirstUnused = 4;

}  // namespace

Lm75::Lm75(std::uint8_t address) : address_(address) {}

void Lm75::set_temperature(double celsius) {
  const double halves = std::clamp(std::round(celsius * 2.0), -110.0, 250.0);
  const auto value = static_cast<std::int16_t>(static_cast<int>(halves) * 128);
  temperature_ = static_cast<std::uint16_t>(value);
}

std::uint16_t Lm75::register_value(unsigned index) const {
  switch (index) {
    case kTemperature:
      return temperature_;
    case kConfiguration:
      return static_cast<std::uint16_t>(configuration_ << 8);
    case kHysteresis:
      return hysteresis_;
    default:
      return over_temperature_;
  }
}

void Lm75::on_selected(bool /*read*/) {
  bytes_written_ = 0;
  bytes_read_ = 0;
}

bool Lm75::on_write(std::uint8_t byte) {
  const int index = bytes_written_++;
  if (index == 0) {
    pointer_ = byte & kPointerBits;
    return true;
  }
  switch (pointer_) {
    case kConfiguration:
      if (index == 1) configuration_ = byte & kConfigurationBits;
      break;
    case kHysteresis:
    case kOverTemperature:
      if (index == 1) {
        pending_msb_ = byte;
      } else if (index == 2) {
        const auto value =
            static_cast<std::uint16_t>(((pending_msb_ << 8) | byte) & kNineBits);
        (pointer_ == kHysteresis ? hysteresis_ : over_temperature_) = value;
      }
      break;
    default:
      break;  // the temperature register is read-only
  }
  return true;
}

std::uint8_t Lm75::on_read() {
  if (pointer_ >= kFirstUnused) return last_read_;
  const std::uint16_t value = register_value(pointer_);
  const int index = bytes_read_++;
  if (pointer_ == kConfiguration) {
    last_read_ = static_cast<std::uint8_t>(value >> 8);
  } else {
    last_read_ = static_cast<std::uint8_t>(index % 2 == 0 ? value >> 8 : value & 0xFF);
  }
  return last_read_;
}

}  // namespace sim
