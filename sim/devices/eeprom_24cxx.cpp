#include "sim/devices/eeprom_24cxx.h"

namespace sim {

namespace {

constexpr std::uint8_t kErased = 0xFF;
constexpr unsigned kBlockSize = 256;

}  // namespace

std::optional<EepromPart> eeprom_part(std::string_view name) {
  for (const EepromPart& part : kEepromParts) {
    if (part.name.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size(); ++i) {
      const char c = name[i] >= 'a' && name[i] <= 'z' ? static_cast<char>(name[i] - 32) : name[i];
      if (c != part.name[i]) same = false;
    }
    if (same) return part;
  }
  return std::nullopt;
}

EepromChip::EepromChip(const EepromPart& part, const BenchClock* clock, std::uint32_t write_us)
    : part_(part),
      write_cycle_(clock, write_us),
      memory_(part.size, kErased),
      latch_(part.page, 0),
      latched_(part.page, false) {}

void EepromChip::start() {
  // A START before the STOP aborts a page write: nothing is programmed.
  latched_.assign(part_.page, false);
  anything_latched_ = false;
  state_ = State::idle;
}

void EepromChip::selected(unsigned block, bool read) {
  // The block bits of the address byte replace the counter's upper bits.
  counter_ = (block * kBlockSize + counter_ % kBlockSize) % part_.size;
  state_ = read ? State::reading : State::word_address;
}

void EepromChip::write(std::uint8_t byte) {
  if (state_ == State::word_address) {
    const unsigned block = counter_ / kBlockSize;
    counter_ = (block * kBlockSize + byte) % part_.size;
    state_ = State::data;
    return;
  }
  if (state_ != State::data) return;
  // Only the bits inside the page count on: the byte after the last one of
  // the page lands on its first one again.
  const unsigned slot = counter_ % part_.page;
  latch_[slot] = byte;
  latched_[slot] = true;
  anything_latched_ = true;
  counter_ = counter_ - slot + (slot + 1) % part_.page;
}

std::uint8_t EepromChip::read() {
  const std::uint8_t byte = memory_[counter_];
  counter_ = (counter_ + 1) % part_.size;
  return byte;
}

void EepromChip::stop() {
  if (anything_latched_) {
    const unsigned page_start = counter_ - counter_ % part_.page;
    for (unsigned slot = 0; slot < part_.page; ++slot) {
      if (latched_[slot]) memory_[page_start + slot] = latch_[slot];
    }
    latched_.assign(part_.page, false);
    anything_latched_ = false;
    write_cycle_.begin();
  }
  state_ = State::idle;
}

std::vector<std::unique_ptr<Device>> make_eeprom(const EepromPart& part, std::uint8_t address,
                                                 const BenchClock* clock, std::uint32_t write_us) {
  auto chip = std::make_shared<EepromChip>(part, clock, write_us);
  std::vector<std::unique_ptr<Device>> faces;
  for (unsigned block = 0; block < part.blocks; ++block) {
    faces.push_back(std::make_unique<EepromBlockFace>(
        chip, static_cast<std::uint8_t>(address + 2 * block), block));
  }
  return faces;
}

}  // namespace sim
