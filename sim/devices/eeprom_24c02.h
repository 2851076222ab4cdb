// A 24C02 serial EEPROM: 256 bytes, erased to 0xFF, behind an 8-bit word
// address pointer.
//  - Write: the first byte after the address sets the pointer; the bytes
//    after it go into the 8-byte page latch, the low three pointer bits
//    wrapping inside the page. The STOP programs what was latched; a START
//    before the STOP throws it away, as on the real part.
//  - Read: bytes from the pointer on, the pointer wrapping from 0xFF to 0x00.
//  - The STOP that programs a page starts the internal write cycle: for
//    its length of bench time the part does not acknowledge its address,
//    as host code that polls for the acknowledge expects (no clock: none).
// When a file is named, the contents are loaded from it at start (a missing
// file is an erased part) and saved to it after each programmed page, by
// writing a temporary file and renaming it over the old one, so a process
// killed at any moment leaves either the old contents or the new ones.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "sim/bus/i2c_bus.h"
#include "sim/devices/write_cycle.h"

namespace sim {

class Eeprom24c02 final : public Device {
 public:
  static constexpr std::size_t kSize = 256;
  static constexpr std::size_t kPage = 8;

  // `file` may be empty (contents in memory only). File problems are told
  // through `warn`, one line each.
  Eeprom24c02(std::uint8_t address, std::string file,
              std::function<void(std::string_view)> warn,
              const BenchClock* clock = nullptr, std::uint32_t write_us = 0);

  std::uint8_t address() const override { return address_; }
  bool answers() override { return write_cycle_.over(); }
  void on_start() override;
  void on_selected(bool read) override;
  bool on_write(std::uint8_t byte) override;
  std::uint8_t on_read() override;
  void on_stop() override;

  const std::array<std::uint8_t, kSize>& contents() const { return memory_; }
  std::uint8_t pointer() const { return pointer_; }

 private:
  enum class State : std::uint8_t { idle, word_address, data, reading };

  void load();
  void save();
  void tell(const std::string& text) const;

  std::uint8_t address_;
  WriteCycle write_cycle_;
  std::string file_;
  std::function<void(std::string_view)> warn_;
  bool file_usable_ = true;  // false: the file is left alone for this run
  bool save_failing_ = false;

  std::array<std::uint8_t, kSize> memory_;
  std::array<std::uint8_t, kPage> latch_{};
  std::uint8_t latched_ = 0;  // bit n: latch_[n] holds a byte to program
  std::uint8_t pointer_ = 0;
  State state_ = State::idle;
};

}  // namespace sim
