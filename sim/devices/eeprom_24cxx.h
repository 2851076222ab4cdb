// The 24Cxx serial EEPROMs of the bench other than the 24C02 (which keeps
// its own model with a backing file): 24C01, 24C04, 24C08 and 24C16.
//
// The larger parts have more memory than an 8-bit word address reaches:
// they take the upper address bits (the 256-byte block) from bits 3 to 1
// of the address byte, so one 24C16 at A0 answers at A0, A2, ... AE. On
// the bench each of those addresses is a Device of its own, all of them
// faces of one part that shares the memory, the page latch and the address
// counter, as the real chip does.
//  - Write: the first byte after the address sets the low 8 bits of the
//    address counter, the block bits of the address byte the high ones;
//    the bytes after it go into the page latch, wrapping inside the page.
//    The STOP programs what was latched; a START before it throws it away.
//  - Read: bytes from the counter on (its block bits taken from the address
//    byte), wrapping from the last byte of the part to the first.
//  - The 24C01 has 128 bytes: the top bit of its word address is ignored.
//  - The STOP that programs a page starts the write cycle, during which no
//    face of the part acknowledges its address (as the 24C02).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "sim/bus/i2c_bus.h"
#include "sim/devices/write_cycle.h"

namespace sim {

struct EepromPart {
  std::string_view name;
  unsigned blocks;      // 256-byte blocks, chosen by bits 3..1 of the address
  unsigned size;        // bytes
  unsigned page;        // bytes per page write
};

inline constexpr std::array<EepromPart, 4> kEepromParts{{
    {"24C01", 1, 128, 8},
    {"24C04", 2, 512, 16},
    {"24C08", 4, 1024, 16},
    {"24C16", 8, 2048, 16},
}};

std::optional<EepromPart> eeprom_part(std::string_view name);

// The memory, page latch and address counter of one part.
class EepromChip {
 public:
  explicit EepromChip(const EepromPart& part, const BenchClock* clock = nullptr,
                      std::uint32_t write_us = 0);

  const EepromPart& part() const { return part_; }
  const std::vector<std::uint8_t>& contents() const { return memory_; }

  bool ready() const { return write_cycle_.over(); }
  void start();
  void selected(unsigned block, bool read);
  void write(std::uint8_t byte);
  std::uint8_t read();
  void stop();

 private:
  enum class State : std::uint8_t { idle, word_address, data, reading };

  EepromPart part_;
  WriteCycle write_cycle_;
  std::vector<std::uint8_t> memory_;
  std::vector<std::uint8_t> latch_;
  std::vector<bool> latched_;
  bool anything_latched_ = false;
  unsigned counter_ = 0;  // byte address inside the part
  State state_ = State::idle;
};

// One address of a part: the block it selects.
class EepromBlockFace final : public Device {
 public:
  EepromBlockFace(std::shared_ptr<EepromChip> chip, std::uint8_t address, unsigned block)
      : chip_(std::move(chip)), address_(address), block_(block) {}

  std::uint8_t address() const override { return address_; }
  // Every face hears START and STOP; only the first one passes them on, so
  // the part sees each once.
  void on_start() override {
    if (block_ == 0) chip_->start();
  }
  bool answers() override { return chip_->ready(); }
  void on_selected(bool read) override { chip_->selected(block_, read); }
  bool on_write(std::uint8_t byte) override {
    chip_->write(byte);
    return true;
  }
  std::uint8_t on_read() override { return chip_->read(); }
  void on_stop() override {
    if (block_ == 0) chip_->stop();
  }

  const EepromChip& chip() const { return *chip_; }

 private:
  std::shared_ptr<EepromChip> chip_;
  std::uint8_t address_;
  unsigned block_;
};

// The faces of a new, erased part whose block 0 answers at `address`.
std::vector<std::unique_ptr<Device>> make_eeprom(const EepromPart& part, std::uint8_t address,
                                                 const BenchClock* clock = nullptr,
                                                 std::uint32_t write_us = 0);

}  // namespace sim
