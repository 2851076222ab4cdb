// The 24Cxx serial EEPROMs of the bench, one model over a table of parts:
// 24C01 to 24C512. A part is a row of data: its size, its page, how many
// bits of the address byte choose its 256-byte block, and how many word
// address bytes follow the address (one up to the 24C16; the 24C32 to
// 24C512 take two, high byte first, and no block bits: their address pins
// A2 to A0 take those bits of the address byte instead).
//
// The parts above 256 bytes take the upper address bits (the block) from
// bits 3 to 1 of the address byte, so one 24C16 at A0 answers at A0, A2,
// ... AE. On the bench each of those addresses is a Device of its own, all
// of them faces of one part that shares the memory, the page latch and the
// address counter, as the real chip does.
//  - Write: the word address after the address byte sets the address
//    counter, the block bits of the address byte its bits above the word
//    address; the bytes after it go into the page latch, the counter
//    wrapping inside the page, so a byte past the end of the page lands on
//    its first one again. The STOP programs what was latched; a START
//    before the STOP throws it away, as on the real part.
//  - Read: bytes from the counter on (its block bits taken from the address
//    byte), wrapping from the last byte of the part to the first.
//  - A word address reaching beyond the part is taken modulo its size: the
//    24C01 (128 bytes) ignores the top bit of its word address.
//  - The STOP that programs a page starts the internal write cycle: for its
//    length of bench time no face of the part acknowledges its address, as
//    host code that polls for the acknowledge expects (no clock: none).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "sim/bus/i2c_bus.h"

namespace sim {

struct EepromPart {
  std::string_view name;
  unsigned size;                // bytes
  unsigned page;                // bytes one page write holds
  unsigned block_bits;          // bits of the address byte, from bit 1 up, that choose a block
  unsigned word_address_bytes;  // bytes of word address after the address byte

  constexpr unsigned blocks() const { return 1u << block_bits; }
  // The bytes one word address reaches: the size of a block.
  constexpr unsigned word_span() const { return 1u << (8 * word_address_bytes); }
};

inline constexpr std::array<EepromPart, 10> kEepromParts{{
    {"24C01", 128, 8, 0, 1},
    {"24C02", 256, 8, 0, 1},
    {"24C04", 512, 16, 1, 1},
    {"24C08", 1024, 16, 2, 1},
    {"24C16", 2048, 16, 3, 1},
    {"24C32", 4096, 32, 0, 2},
    {"24C64", 8192, 32, 0, 2},
    {"24C128", 16384, 64, 0, 2},
    {"24C256", 32768, 64, 0, 2},
    {"24C512", 65536, 128, 0, 2},
}};

// The row of a part by its name, in any case.
std::optional<EepromPart> eeprom_part(std::string_view name);

// The memory, page latch, address counter and write cycle of one part.
class EepromChip {
 public:
  explicit EepromChip(const EepromPart& part, const BenchClock* clock = nullptr,
                      std::uint32_t write_us = 0);

  const EepromPart& part() const { return part_; }
  const std::vector<std::uint8_t>& contents() const { return memory_; }
  // `image` holds part().size bytes.
  void set_contents(const std::vector<std::uint8_t>& image) { memory_ = image; }
  unsigned counter() const { return counter_; }

  bool ready() const { return clock_ == nullptr || clock_->now() >= write_ends_at_; }
  void start();
  void selected(unsigned block, bool read);
  void write(std::uint8_t byte);
  std::uint8_t read();
  // True when the STOP programmed a page.
  bool stop();

 private:
  enum class State : std::uint8_t { idle, word_address, data, reading };

  EepromPart part_;
  const BenchClock* clock_;
  std::uint32_t write_us_;
  std::uint64_t write_ends_at_ = 0;
  std::vector<std::uint8_t> memory_;
  std::vector<std::uint8_t> latch_;
  std::vector<bool> latched_;  // latch_[n] holds a byte to program
  unsigned counter_ = 0;       // byte address inside the part
  unsigned word_ = 0;          // the word address so far
  unsigned word_bytes_ = 0;    // and how many of its bytes came
  State state_ = State::idle;
};

// One address of a part: the block it selects. Every face hears START and
// STOP; only block 0's passes them on, so the part sees each once.
class EepromFace : public Device {
 public:
  EepromFace(std::shared_ptr<EepromChip> chip, std::uint8_t address, unsigned block)
      : chip_(std::move(chip)), address_(address), block_(block) {}

  std::uint8_t address() const override { return address_; }
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
    if (block_ == 0 && chip_->stop()) programmed();
  }

  const EepromChip& chip() const { return *chip_; }
  // Puts `image` (part().size bytes) into the part as if it had been
  // programmed: a part that keeps its contents in a file saves them.
  void load_image(const std::vector<std::uint8_t>& image) {
    chip_->set_contents(image);
    programmed();
  }

 protected:
  EepromChip& mutable_chip() { return *chip_; }
  // After the STOP that programmed a page, told to block 0's face.
  virtual void programmed() {}

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
