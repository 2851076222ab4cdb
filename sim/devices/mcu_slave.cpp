#include "sim/devices/mcu_slave.h"

namespace sim {

McuSlave::McuSlave(std::uint8_t address, std::uint32_t stretch_us)
    : address_(address), stretch_us_(stretch_us) {}

void McuSlave::on_selected(bool read) { pointer_next_ = !read; }

bool McuSlave::on_write(std::uint8_t byte) {
  if (pointer_next_) {
    pointer_ = byte;
    pointer_next_ = false;
  } else {
    ram_[pointer_++] = byte;
  }
  return true;
}

std::uint8_t McuSlave::on_read() { return ram_[pointer_++]; }

}  // namespace sim
