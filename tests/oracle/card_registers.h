// The register accesses the PCF8584 card adapter is meant to make, step by
// step as its operations are laid down, written apart from the library so
// that tests and the benchmark can hold the library's port trace against
// them. Values are the data sheet's bit patterns as the adapter writes
// them: 0x80 (PIN), 0x55 own address, 0xA0 (PIN ES1), 0x1C clock, 0xC1
// (PIN ES0 ACK), 0x40 (ES0), 0xC0 placeholder, 0xC5 START, 0x45 repeated
// START, 0x47 STOP+START, 0xC2 STOP, 0x00 interface off.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace oracle::card {

inline constexpr unsigned kChain = 0x47;     // STOP, then START (straight after a START)
inline constexpr unsigned kRepeated = 0x45;  // repeated START (after data)

// Accesses of a card at `base` as port trace lines ("W 0301 C1", "R 0301":
// read values are left open), each followed by `nops` reads of base + 2
// (the port delay). A byte on the bus takes kByteUs of bench time at the
// adapter's clock setting (S2 = 0x1C: 90 kHz, nine clocks), and every port
// access 1 us ("Access Time = 1", "Wall Clock = 0"); a PIN wait is status
// reads until the byte marked last with byte_started() is over, or one
// read when no byte is marked.
class Accesses {
 public:
  static constexpr std::size_t kByteUs = 100;

  explicit Accesses(unsigned base = 0x300, int nops = 0) : base_(base), nops_(nops) {}

  Accesses& write_s0(unsigned value) { return access('W', 0, static_cast<int>(value)); }
  Accesses& write_s1(unsigned value) { return access('W', 1, static_cast<int>(value)); }
  Accesses& read_s0() { return access('R', 0, -1); }
  Accesses& read_s1() { return access('R', 1, -1); }
  // The access just listed started a byte on the bus.
  Accesses& byte_started() {
    byte_at_ = static_cast<long>(lines_.size()) - 1 - nops_;
    return *this;
  }
  Accesses& pin_wait() {
    if (byte_at_ < 0) return read_s1();
    for (;;) {
      const auto at = static_cast<long>(lines_.size());
      read_s1();
      if (at - byte_at_ >= static_cast<long>(kByteUs)) break;
    }
    byte_at_ = -1;
    return *this;
  }

  // Own address, clock register, then the interface on and idle.
  Accesses& init() {
    return write_s1(0x80).write_s0(0x55).write_s1(0xA0).write_s0(0x1C).write_s1(0xC1);
  }
  // 0x40 to S1, bus-free test, placeholder address to S0, START (which
  // sends the placeholder), bus-error test.
  Accesses& start() {
    return write_s1(0x40).read_s1().write_s0(0xC0).write_s1(0xC5).byte_started().read_s1();
  }
  // Acknowledge off, one more byte started (and not acknowledged), PIN wait.
  Accesses& read_termination() { return write_s1(0x40).read_s0().byte_started().pin_wait(); }
  // STOP command, 0xC2 to S0, bus-error test, interface off (the PIN wait
  // and read termination before it are the caller's steps).
  Accesses& stop() { return write_s1(0xC2).write_s0(0xC2).read_s1().write_s1(0x00); }
  // `command` (kChain or kRepeated), the address byte, PIN wait, LRB test;
  // an address with the read bit also starts the first byte.
  Accesses& address(unsigned command, unsigned byte) {
    write_s1(command).write_s0(byte).byte_started().pin_wait().read_s1();
    return (byte & 1) != 0 ? read_s0().byte_started() : *this;
  }
  // Per byte: to S0, PIN wait, LRB test.
  Accesses& data_bytes(const std::vector<unsigned>& bytes) {
    for (const unsigned byte : bytes) write_s0(byte).byte_started().pin_wait().read_s1();
    return *this;
  }
  // Per byte: PIN wait, read of S0 (which starts the next byte).
  Accesses& received_bytes(int count) {
    for (int i = 0; i < count; ++i) pin_wait().read_s0().byte_started();
    return *this;
  }

  const std::vector<std::string>& lines() const { return lines_; }
  // Register accesses so far, port delays aside.
  std::size_t registers() const { return registers_; }

 private:
  Accesses& access(char kind, unsigned reg, int value) {
    char line[16];
    const unsigned port = (base_ + reg) & 0xFFFF;
    if (value < 0) std::snprintf(line, sizeof line, "%c %04X", kind, port);
    else std::snprintf(line, sizeof line, "%c %04X %02X", kind, port, static_cast<unsigned>(value));
    lines_.emplace_back(line);
    std::snprintf(line, sizeof line, "R %04X", (base_ + 2) & 0xFFFF);
    lines_.insert(lines_.end(), static_cast<std::size_t>(nops_), line);
    ++registers_;
    return *this;
  }

  unsigned base_;
  int nops_;
  long byte_at_ = -1;  // index of the access that started the last byte
  std::size_t registers_ = 0;
  std::vector<std::string> lines_;
};

}  // namespace oracle::card
