// The two ways a host reaches the bench bus, done by hand through the
// bench's ports: bit-banging the Philips adapter on the parallel port, and
// programming the PCF8584 card the way the card adapter does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/bench/bench.h"

namespace bench_test {

// Collects warning lines.
struct Lines {
  std::vector<std::string> lines;
  auto sink() {
    return [this](std::string_view line) { lines.emplace_back(line); };
  }
};

// Philips wiring: data bit 7 set pulls SDA low, control bit 3 set releases
// SCL, status bit 7 reads SDA.
class ParportMaster {
 public:
  explicit ParportMaster(sim::Bench& bench, std::uint16_t base = 0x378)
      : bench_(bench), base_(base) {}

  void sda(bool high) { bench_.write(base_, high ? 0x7F : 0x80); }
  void scl(bool high) { bench_.write(base_ + 2, high ? 0x0C : 0x04); }
  bool sda_level() { return (bench_.read(base_ + 1) & 0x80) != 0; }

  void start() {
    sda(true);
    scl(true);
    sda(false);
    scl(false);
  }
  void stop() {
    sda(false);
    scl(true);
    sda(true);
  }
  // True when the slave acknowledged.
  bool write_byte(std::uint8_t byte) {
    for (int bit = 7; bit >= 0; --bit) {
      sda(((byte >> bit) & 1) != 0);
      scl(true);
      scl(false);
    }
    sda(true);
    scl(true);
    const bool ack = !sda_level();
    scl(false);
    return ack;
  }
  std::uint8_t read_byte(bool ack) {
    std::uint8_t value = 0;
    sda(true);
    for (int bit = 0; bit < 8; ++bit) {
      scl(true);
      value = static_cast<std::uint8_t>((value << 1) | (sda_level() ? 1 : 0));
      scl(false);
    }
    sda(!ack);
    scl(true);
    scl(false);
    sda(true);
    return value;
  }

  // Writes `bytes` from `word_address` on into a 24C02 at `address`.
  bool eeprom_write(std::uint8_t address, std::uint8_t word_address,
                    const std::vector<std::uint8_t>& bytes) {
    start();
    bool acked = write_byte(address) && write_byte(word_address);
    for (const std::uint8_t byte : bytes) acked = acked && write_byte(byte);
    stop();
    return acked;
  }
  // An EEPROM in its write cycle does not acknowledge its address: the
  // address is tried again, as host code does, up to this many times.
  static constexpr int kAddressTries = 1000;
  // Tries the address until it is acknowledged; the bus stays open.
  bool address_polled(std::uint8_t address) {
    for (int tries = 0; tries < kAddressTries; ++tries) {
      start();
      if (write_byte(address)) return true;
      stop();
    }
    start();
    return false;
  }
  std::vector<std::uint8_t> eeprom_read(std::uint8_t address,
                                        std::uint8_t word_address,
                                        std::size_t count) {
    std::vector<std::uint8_t> bytes;
    if (address_polled(address) && write_byte(word_address)) {
      start();  // repeated START, now reading
      if (write_byte(static_cast<std::uint8_t>(address | 1))) {
        for (std::size_t i = 0; i < count; ++i) {
          bytes.push_back(read_byte(i + 1 < count));
        }
      }
    }
    stop();
    return bytes;
  }
  bool probe(std::uint8_t address) {
    start();
    const bool acked = write_byte(address);
    stop();
    return acked;
  }

 private:
  sim::Bench& bench_;
  std::uint16_t base_;
};

// The card programmed register by register as the card adapter does it.
class CardMaster {
 public:
  explicit CardMaster(sim::Bench& bench, std::uint16_t base = 0x300)
      : bench_(bench), s0_(base), s1_(static_cast<std::uint16_t>(base + 1)) {
    bench_.write(s1_, 0x80);  // interface off, S0 reaches the own address
    bench_.write(s0_, 0x55);
    bench_.write(s1_, 0xA0);  // S0 reaches the clock register
    bench_.write(s0_, 0x1C);
    bench_.write(s1_, 0xC1);  // interface on, idle
  }

  // START, the address byte and the data bytes, STOP; true when every byte
  // was acknowledged.
  bool write(std::uint8_t address, const std::vector<std::uint8_t>& bytes) {
    bench_.write(s1_, 0x40);
    bench_.write(s0_, address);
    bench_.write(s1_, 0xC5);  // START, then the address in S0
    bool acked = wait_and_acked();
    for (const std::uint8_t byte : bytes) {
      bench_.write(s0_, byte);
      acked = wait_and_acked() && acked;
    }
    bench_.write(s1_, 0xC2);  // STOP
    return acked;
  }

 private:
  bool wait_and_acked() {
    std::uint8_t status = 0x80;
    for (int poll = 0; poll < 1000 && (status & 0x80) != 0; ++poll) {
      status = bench_.read(s1_);
    }
    return (status & 0x88) == 0;  // PIN clear and LRB clear
  }

  sim::Bench& bench_;
  std::uint16_t s0_;
  std::uint16_t s1_;
};

}  // namespace bench_test
