// A PCF8584 model on a bus of recording slaves, driven one register access
// at a time the way the library's card adapter drives the real card.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hardware/pcf8584_registers.h"
#include "sim/bench/pcf8584_model.h"
#include "sim/bus/i2c_bus.h"

namespace card_test {

using Events = std::vector<std::string>;

// A slave that writes down every event the bus gives it: "S" START,
// "A0 w"/"A1 r" when selected, "W12" per byte written (acknowledged unless
// it is the byte numbered `nack_at`, counted from 1), "R"
// each time the bus has it load the next byte to send (it hands out
// `first_read`, `first_read` + 1, ...), "P" STOP.
class RecordingSlave : public sim::Device {
 public:
  RecordingSlave(std::uint8_t address, Events& events)
      : address_(address), events_(events) {}

  int nack_at = 0;
  std::uint8_t first_read = 0x10;

  std::uint8_t address() const override { return address_; }
  void on_start() override { events_.push_back("S"); }
  void on_selected(bool read) override {
    events_.push_back(hex(address_ | (read ? 1 : 0)) + (read ? " r" : " w"));
  }
  bool on_write(std::uint8_t byte) override {
    events_.push_back("W" + hex(byte));
    return ++written_ != nack_at;
  }
  std::uint8_t on_read() override {
    events_.push_back("R");
    return static_cast<std::uint8_t>(first_read + reads_++);
  }
  void on_stop() override { events_.push_back("P"); }

  static std::string hex(unsigned byte) {
    static const char digits[] = "0123456789ABCDEF";
    return {digits[(byte >> 4) & 0xF], digits[byte & 0xF]};
  }

 private:
  std::uint8_t address_;
  Events& events_;
  int written_ = 0;
  int reads_ = 0;
};

// Every register access is one port access of bench time. By default one
// takes as long as a byte at the adapter's 90 kHz, so each byte is over by
// the next access and PIN waits show only the faults; a test of byte times
// sets a shorter access.
class CardBench {
 public:
  static constexpr std::uint32_t kByteAtNinetyKhzUs = 100;

  explicit CardBench(sim::CardFaults faults = {},
                     std::uint32_t access_us = kByteAtNinetyKhzUs)
      : card(bus, faults) {
    bus.clock().configure(access_us, false);
    bus.on_violation([this](std::string_view line) { violations.emplace_back(line); });
  }

  RecordingSlave& add_slave(std::uint8_t address) {
    auto slave = std::make_unique<RecordingSlave>(address, events);
    RecordingSlave& kept = *slave;
    bus.attach(std::move(slave));
    return kept;
  }

  void s0(std::uint8_t value) {
    bus.tick();
    card.write(pcf8584_registers::kS0, value);
  }
  void s1(std::uint8_t value) {
    bus.tick();
    card.write(pcf8584_registers::kS1, value);
  }
  std::uint8_t s0() {
    bus.tick();
    return card.read(pcf8584_registers::kS0);
  }
  std::uint8_t status() {
    bus.tick();
    return card.read(pcf8584_registers::kS1);
  }

  // Polls S1 until PIN clears, as the adapter does; gives the number of
  // status reads that showed PIN still set (or the limit when it never
  // cleared).
  int pin_wait(int limit = 99999) {
    for (int polls = 0; polls < limit; ++polls)
      if (!(status() & pcf8584_registers::PIN)) return polls;
    return limit;
  }

  // The controller set-up of the adapter's init.
  void set_up() {
    using namespace pcf8584_registers;
    s1(kSelectOwnAddress);
    s0(0x55);
    s1(kSelectClock);
    s0(0x1C);
    s1(kIdle);
  }

  // Events since the last call.
  Events take_events() {
    Events taken;
    taken.swap(events);
    return taken;
  }

  Events events;
  std::vector<std::string> violations;  // what the bus found wrong on the wires
  sim::Bus bus;
  sim::Pcf8584Model card;
};

}  // namespace card_test
