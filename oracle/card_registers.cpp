#include "oracle/card_registers.h"

#include <cstdio>

namespace oracle::card {

Accesses& Accesses::init() {
  return write_s1(0x80).write_s0(0x55).write_s1(0xA0).write_s0(0x1C).write_s1(0xC1);
}

Accesses& Accesses::start() {
  return write_s1(0x40).read_s1().write_s0(0xC0).write_s1(0xC5).read_s1();
}

Accesses& Accesses::read_termination() { return write_s1(0x40).read_s0().pin_wait(); }

Accesses& Accesses::stop() { return write_s1(0xC2).write_s0(0xC2).read_s1().write_s1(0x00); }

Accesses& Accesses::address(unsigned command, unsigned byte) {
  write_s1(command).write_s0(byte).pin_wait().read_s1();
  return (byte & 1) != 0 ? read_s0() : *this;
}

Accesses& Accesses::data_bytes(const std::vector<unsigned>& bytes) {
  for (const unsigned byte : bytes) write_s0(byte).pin_wait().read_s1();
  return *this;
}

Accesses& Accesses::received_bytes(int count) {
  for (int i = 0; i < count; ++i) pin_wait().read_s0();
  return *this;
}

Accesses& Accesses::access(char kind, unsigned reg, int value) {
  char line[16];
  if (value < 0) {
    std::snprintf(line, sizeof line, "%c %04X", kind, (base_ + reg) & 0xFFFF);
  } else {
    std::snprintf(line, sizeof line, "%c %04X %02X", kind, (base_ + reg) & 0xFFFF,
                  static_cast<unsigned>(value));
  }
  lines_.emplace_back(line);
  char delay[16];
  std::snprintf(delay, sizeof delay, "R %04X", (base_ + 2) & 0xFFFF);
  lines_.insert(lines_.end(), static_cast<std::size_t>(nops_), delay);
  ++registers_;
  return *this;
}

}  // namespace oracle::card
