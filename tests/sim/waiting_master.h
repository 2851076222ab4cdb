// A test master that reads SCL back, as the kernel's i2c-algo-bit does in
// sclhi(): after releasing SCL it looks again, one access a look, until the
// line reads high, so a slave that stretches the clock is waited for. Like
// i2c-algo-bit it knows only line routines (Wires): the bench bus's line
// face, or the Philips adapter through the bench's parallel port.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/bench/bench.h"
#include "sim/bus/i2c_bus.h"

namespace tw_test {

// The line face; every line change and every look is one access.
class BusWires {
 public:
  explicit BusWires(sim::Bus& bus) : bus_(bus), id_(bus.add_line_master()) {}
  void set(bool sda, bool scl) {
    bus_.tick();
    bus_.drive(id_, sda, scl);
  }
  bool sda() const { return bus_.sda(); }
  bool scl() {
    bus_.tick();
    return bus_.scl();
  }
  std::uint64_t time() const { return bus_.time(); }

 private:
  sim::Bus& bus_;
  int id_;
};

// The Philips adapter: data bit 7 pulls SDA low, control bit 3 releases
// SCL, status bit 7 reads SDA and status bit 3 SCL.
class PhilipsWires {
 public:
  explicit PhilipsWires(sim::Bench& bench, std::uint16_t base = 0x378)
      : bench_(bench), base_(base) {}
  void set(bool sda, bool scl) {
    if (sda != sda_) bench_.write(base_, sda ? 0x00 : 0x80);
    if (scl != scl_) bench_.write(static_cast<std::uint16_t>(base_ + 2), scl ? 0x0C : 0x04);
    sda_ = sda;
    scl_ = scl;
  }
  bool sda() { return (bench_.read(static_cast<std::uint16_t>(base_ + 1)) & 0x80) != 0; }
  bool scl() { return (bench_.read(static_cast<std::uint16_t>(base_ + 1)) & 0x08) != 0; }
  std::uint64_t time() { return bench_.bus().time(); }

 private:
  sim::Bench& bench_;
  std::uint16_t base_;
  bool sda_ = true;
  bool scl_ = true;
};

template <typename Wires>
class WaitingMaster {
 public:
  template <typename... Args>
  explicit WaitingMaster(Args&&... args) : wires_(args...) {}

  // Bench us from each fall of SCL that this master made to SCL reading
  // high again after its release, in order.
  const std::vector<std::uint64_t>& lows() const { return lows_; }

  void sda(bool level) {
    sda_ = level;
    wires_.set(sda_, scl_);
  }
  void scl_low() {
    scl_ = false;
    wires_.set(sda_, scl_);
    fell_at_ = wires_.time();
  }
  // Releases SCL and waits for it to read high; false when it was still
  // low after kGiveUpUs.
  bool scl_high() {
    scl_ = true;
    wires_.set(sda_, scl_);
    const std::uint64_t released = wires_.time();
    while (!wires_.scl()) {
      if (wires_.time() - released >= kGiveUpUs) return false;
    }
    lows_.push_back(wires_.time() - fell_at_);
    return true;
  }

  // START from the idle bus, or repeated START after a byte.
  void start() {
    if (!scl_) {
      sda(true);
      scl_high();
    }
    sda(false);
    scl_low();
  }
  bool write(std::uint8_t byte) {
    for (int bit = 7; bit >= 0; --bit) {
      sda(((byte >> bit) & 1) != 0);
      scl_high();
      scl_low();
    }
    sda(true);
    scl_high();
    const bool acked = !wires_.sda();
    scl_low();
    return acked;
  }
  std::uint8_t read(bool ack) {
    sda(true);
    std::uint8_t value = 0;
    for (int bit = 0; bit < 8; ++bit) {
      scl_high();
      value = static_cast<std::uint8_t>((value << 1) | (wires_.sda() ? 1 : 0));
      scl_low();
    }
    sda(!ack);
    scl_high();
    scl_low();
    sda(true);
    return value;
  }
  void stop() {
    sda(false);
    scl_high();
    sda(true);
  }
  // Writes `bytes` after the address; true when all were acknowledged.
  bool send(std::uint8_t address, const std::vector<std::uint8_t>& bytes, bool stop_after = true) {
    start();
    bool acked = write(address);
    for (auto byte : bytes) acked = write(byte) && acked;
    if (stop_after) stop();
    return acked;
  }
  // START (or repeated START), the read address, `count` bytes with the
  // last NACKed, STOP.
  std::vector<std::uint8_t> receive(std::uint8_t address, std::size_t count) {
    start();
    std::vector<std::uint8_t> bytes;
    if (write(static_cast<std::uint8_t>(address | 1))) {
      for (std::size_t i = 0; i < count; ++i) bytes.push_back(read(i + 1 < count));
    }
    stop();
    return bytes;
  }

  static constexpr std::uint64_t kGiveUpUs = 100000;

 private:
  Wires wires_;
  bool sda_ = true;
  bool scl_ = true;
  std::uint64_t fell_at_ = 0;
  std::vector<std::uint64_t> lows_;
};

}  // namespace tw_test
