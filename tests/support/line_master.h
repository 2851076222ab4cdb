// A test master that bit-bangs the bench's bus the way the kernel's
// i2c-algo-bit does: data changes only while the clock is low. It reaches
// the bus either through the bus's own line face or through the parallel
// port wired as the Philips adapter is; the protocol is written once, over
// either pair of lines. Told to wait for the clock, it reads SCL back after
// each release until the line is high, as i2c-algo-bit's sclhi() does, so
// that a slave that stretches the clock is waited for, and it keeps how
// long each low phase lasted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "sim/bench/bench.h"
#include "sim/bus/i2c_bus.h"

namespace test_kit {

// A line master of its own on the bus, one bench time step per line change.
// Its lines start released and the master knows them from then on.
class BusLines {
 public:
  explicit BusLines(sim::Bus& bus) : bus_(bus), id_(bus.add_line_master()) {}
  static constexpr bool kReleaseBeforeStart = false;
  void drive_sda(bool sda, bool scl) { drive_both(sda, scl); }
  void drive_scl(bool sda, bool scl) { drive_both(sda, scl); }
  void drive_both(bool sda, bool scl) {
    bus_.tick();
    bus_.drive(id_, sda, scl);
  }
  bool sda_level() const { return bus_.sda(); }
  // Each look at the clock is one step, as a port read would be.
  bool scl_level() {
    bus_.tick();
    return bus_.scl();
  }
  std::uint64_t time() const { return bus_.time(); }

 private:
  sim::Bus& bus_;
  int id_;
};

// The Philips adapter on the bench's parallel port: data bit 7 set pulls
// SDA low, control bit 3 set releases SCL, status bit 7 reads SDA. The
// port's levels at power-up are not the master's to know, so every START
// releases both lines first.
class ParportLines {
 public:
  explicit ParportLines(sim::Bench& bench, std::uint16_t base = 0x378)
      : bench_(bench), base_(base) {}
  static constexpr bool kReleaseBeforeStart = true;
  void drive_sda(bool sda, bool) { bench_.write(base_, sda ? 0x7F : 0x80); }
  void drive_scl(bool, bool scl) {
    bench_.write(static_cast<std::uint16_t>(base_ + 2), scl ? 0x0C : 0x04);
  }
  bool sda_level() {
    return (bench_.read(static_cast<std::uint16_t>(base_ + 1)) & 0x80) != 0;
  }
  // Status bit 3 reads SCL, as the Linux kernel's i2c-parport has it.
  bool scl_level() {
    return (bench_.read(static_cast<std::uint16_t>(base_ + 1)) & 0x08) != 0;
  }
  std::uint64_t time() { return bench_.bus().time(); }

 private:
  sim::Bench& bench_;
  std::uint16_t base_;
};

template <typename Lines>
class LineMaster {
 public:
  template <typename... Arguments>
  explicit LineMaster(Arguments&&... arguments)
      : lines_(std::forward<Arguments>(arguments)...) {}

  void sda(bool level) {
    sda_ = level;
    lines_.drive_sda(sda_, scl_);
  }
  // With the clock waited for, a release returns once SCL reads high, or
  // false when it was still low after kGiveUpUs of bench time.
  bool scl(bool level) {
    scl_ = level;
    lines_.drive_scl(sda_, scl_);
    if (!waits_for_clock_) return true;
    if (!level) {
      fell_at_ = lines_.time();
      return true;
    }
    const std::uint64_t released = lines_.time();
    while (!lines_.scl_level()) {
      if (lines_.time() - released >= kGiveUpUs) return false;
    }
    lows_.push_back(lines_.time() - fell_at_);
    return true;
  }
  void wait_for_clock() { waits_for_clock_ = true; }
  // Bench us from each fall of SCL that this master made to SCL reading
  // high again after its release, in order (with the clock waited for).
  const std::vector<std::uint64_t>& lows() const { return lows_; }
  static constexpr std::uint64_t kGiveUpUs = 100000;

  // Both lines in one change: only the bus's own line face can do that.
  void lines(bool sda, bool scl) {
    sda_ = sda;
    scl_ = scl;
    lines_.drive_both(sda_, scl_);
  }
  bool sda_level() { return lines_.sda_level(); }

  // START from the idle bus, or repeated START after a byte.
  void start() {
    if (Lines::kReleaseBeforeStart || !scl_) {
      sda(true);
      scl(true);
    }
    sda(false);
    scl(false);
  }
  void stop() {
    sda(false);
    scl(true);
    sda(true);
  }
  // True when the byte was acknowledged.
  bool write(std::uint8_t byte) {
    for (int bit = 7; bit >= 0; --bit) {
      sda(((byte >> bit) & 1) != 0);
      scl(true);
      scl(false);
    }
    sda(true);
    scl(true);
    const bool acked = !sda_level();
    scl(false);
    return acked;
  }
  std::uint8_t read(bool ack) {
    sda(true);
    std::uint8_t value = 0;
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

  // START, the address, STOP: whether a slave answers there.
  bool probe(std::uint8_t address) {
    start();
    const bool acked = write(address);
    stop();
    return acked;
  }
  // Writes `bytes` from `word_address` on into a 24C02 at `address`.
  bool eeprom_write(std::uint8_t address, std::uint8_t word_address,
                    const std::vector<std::uint8_t>& bytes) {
    start();
    bool acked = write(address) && write(word_address);
    for (const std::uint8_t byte : bytes) acked = acked && write(byte);
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
      if (write(address)) return true;
      stop();
    }
    start();
    return false;
  }
  // Sets the EEPROM's word address, then reads `count` bytes after a
  // repeated START, the last one not acknowledged.
  std::vector<std::uint8_t> eeprom_read(std::uint8_t address, std::uint8_t word_address,
                                        std::size_t count) {
    std::vector<std::uint8_t> bytes;
    if (address_polled(address) && write(word_address)) {
      start();  // repeated START, now reading
      if (write(static_cast<std::uint8_t>(address | 1))) {
        for (std::size_t i = 0; i < count; ++i) bytes.push_back(read(i + 1 < count));
      }
    }
    stop();
    return bytes;
  }

 private:
  Lines lines_;
  bool sda_ = true;
  bool scl_ = true;
  bool waits_for_clock_ = false;
  std::uint64_t fell_at_ = 0;
  std::vector<std::uint64_t> lows_;
};

// Whole transfers for any master with start, write, read and stop (the
// line masters here, the bus tests' faces).
// START (or repeated START), the address, `bytes`, and STOP unless the
// transfer goes on: true when everything was acknowledged.
template <typename Master>
bool send(Master& master, std::uint8_t address, const std::vector<std::uint8_t>& bytes,
          bool stop_after = true) {
  master.start();
  bool acked = master.write(address);
  for (const std::uint8_t byte : bytes) acked = master.write(byte) && acked;
  if (stop_after) master.stop();
  return acked;
}
// START (or repeated START), the read address, `count` bytes with the last
// one not acknowledged, STOP.
template <typename Master>
std::vector<std::uint8_t> receive(Master& master, std::uint8_t address, std::size_t count) {
  master.start();
  std::vector<std::uint8_t> bytes;
  if (master.write(static_cast<std::uint8_t>(address | 1))) {
    for (std::size_t i = 0; i < count; ++i) bytes.push_back(master.read(i + 1 < count));
  }
  master.stop();
  return bytes;
}

using BusLineMaster = LineMaster<BusLines>;
using ParportMaster = LineMaster<ParportLines>;

}  // namespace test_kit
