#include "sim/devices/eeprom_24cxx.h"

#include <algorithm>

#include "platform/scan.h"

namespace sim {

namespace {

constexpr std::uint8_t kErased = 0xFF;

}  // namespace

std::optional<EepromPart> eeprom_part(std::string_view name) {
  for (const EepromPart& part : kEepromParts) {
    if (scan::equal_ignoring_case(part.name, name)) return part;
  }
  return std::nullopt;
}

EepromChip::EepromChip(const EepromPart& part, const BenchClock* clock, std::uint32_t write_us)
    : part_(part),
      clock_(clock),
      write_us_(write_us),
      memory_(part.size, kErased),
      latch_(part.page, 0),
      latched_(part.page, false) {}

void EepromChip::start() {
  // A START before the STOP aborts a page write: nothing is programmed.
  std::fill(latched_.begin(), latched_.end(), false);
  state_ = State::idle;
}

void EepromChip::selected(unsigned block, bool read) {
  // The block bits of the address byte replace the counter's bits above
  // the word address.
  const unsigned span = part_.word_span();
  counter_ = (block * span + counter_ % span) % part_.size;
  word_ = 0;
  word_bytes_ = 0;
  state_ = read ? State::reading : State::word_address;
}

void EepromChip::write(std::uint8_t byte) {
  if (state_ == State::word_address) {
    word_ = word_ << 8 | byte;
    if (++word_bytes_ < part_.word_address_bytes) return;
    const unsigned span = part_.word_span();
    counter_ = (counter_ / span * span + word_) % part_.size;
    state_ = State::data;
    return;
  }
  if (state_ != State::data) return;
  // Only the bits inside the page count on: the byte after the last one of
  // the page lands on its first one again.
  const unsigned slot = counter_ % part_.page;
  latch_[slot] = byte;
  latched_[slot] = true;
  counter_ = counter_ - slot + (slot + 1) % part_.page;
}

std::uint8_t EepromChip::read() {
  const std::uint8_t byte = memory_[counter_];
  counter_ = (counter_ + 1) % part_.size;
  return byte;
}

bool EepromChip::stop() {
  state_ = State::idle;
  if (std::find(latched_.begin(), latched_.end(), true) == latched_.end()) return false;
  const unsigned page_start = counter_ - counter_ % part_.page;
  for (unsigned slot = 0; slot < part_.page; ++slot) {
    if (latched_[slot]) memory_[page_start + slot] = latch_[slot];
  }
  std::fill(latched_.begin(), latched_.end(), false);
  if (clock_ != nullptr) write_ends_at_ = clock_->now() + write_us_;
  return true;
}

std::vector<std::unique_ptr<Device>> make_eeprom(const EepromPart& part, std::uint8_t address,
                                                 const BenchClock* clock, std::uint32_t write_us) {
  auto chip = std::make_shared<EepromChip>(part, clock, write_us);
  std::vector<std::unique_ptr<Device>> faces;
  for (unsigned block = 0; block < part.blocks(); ++block) {
    faces.push_back(std::make_unique<EepromFace>(
        chip, static_cast<std::uint8_t>(address + 2 * block), block));
  }
  return faces;
}

}  // namespace sim
