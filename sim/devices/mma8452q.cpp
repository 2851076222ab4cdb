#include "sim/devices/mma8452q.h"

namespace sim {

namespace {

constexpr std::uint8_t kOutZMsb = 0x05;
constexpr std::uint8_t kWhoAmI = 0x0D;
constexpr std::uint8_t kDeviceId = 0x2A;
constexpr std::uint8_t kOneG = 0x40;  // +1 g at +-2 g: 1024 counts, left-justified
constexpr std::uint8_t kFirstWritable = 0x0E;

}  // namespace

Mma8452q::Mma8452q(std::uint8_t address) : address_(address) {
  registers_[kOutZMsb] = kOneG;
  registers_[kWhoAmI] = kDeviceId;
}

void Mma8452q::on_selected(bool read) { pointer_next_ = !read; }

bool Mma8452q::on_write(std::uint8_t byte) {
  if (pointer_next_) {
    // A number past the last register points nowhere useful; the part
    // keeps it within its map.
    pointer_ = static_cast<std::uint8_t>(byte % kRegisters);
    pointer_next_ = false;
    return true;
  }
  if (pointer_ >= kFirstWritable) registers_[pointer_] = byte;
  advance();
  return true;
}

std::uint8_t Mma8452q::on_read() {
  const std::uint8_t value = registers_[pointer_];
  advance();
  return value;
}

}  // namespace sim
