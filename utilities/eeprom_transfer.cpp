#include "utilities/eeprom_transfer.h"

#include <algorithm>
#include <cstdio>

namespace eeprom_transfer {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::int16_t kAcknowledged = 0;

// The address byte that selects the block holding byte address `at`.
std::int16_t device_for(const Target& target, unsigned at) {
  if (eeprom_parts::blocks(target.part) == 1) return target.address;
  return static_cast<std::int16_t>(target.address |
                                   ((at / eeprom_parts::kBlockSize) << 1 & 0x0E));
}

// The word address of byte address `at`: its low byte, or two bytes, high first.
Bytes word_address(const Target& target, unsigned at) {
  if (target.part.word_bytes == 1) return {static_cast<std::uint8_t>(at)};
  return {static_cast<std::uint8_t>(at >> 8), static_cast<std::uint8_t>(at)};
}

std::string hex_byte(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
  return text;
}

std::string not_opened(const std::string& why, const std::string& at) {
  return "the bus could not be opened at byte address " + at + ": " + why;
}

}  // namespace

std::string byte_address(const eeprom_parts::Part& part, unsigned at) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*x", static_cast<int>(eeprom_parts::address_digits(part)),
                at);
  return text;
}

std::string read(const Target& target, unsigned from, unsigned count, Bytes& memory) {
  const bus_access::Exports& bus = *target.bus;
  memory.assign(count, 0);
  for (unsigned done = 0; done < count;) {
    const unsigned at = from + done;
    // Up to the end of the 256-byte block, which the address byte may choose.
    const unsigned chunk = std::min(count - done, eeprom_parts::kBlockSize - at % eeprom_parts::kBlockSize);
    const std::string where = byte_address(target.part, at);
    if (std::string why = bus_access::start(bus); !why.empty()) return not_opened(why, where);
    const std::int16_t device = device_for(target, at);
    const Bytes word = word_address(target, at);
    const auto word_length = static_cast<std::int16_t>(word.size());
    std::string failure;
    if (bus.I2C_Address(device) != kAcknowledged) {
      failure = "no acknowledge to address " + hex_byte(static_cast<unsigned>(device)) +
                " when reading byte address " + where;
    } else if (bus.I2C_Send(word_length, word.data()) != word_length) {
      failure = "the EEPROM refused the word address of byte address " + where;
    } else if (bus.I2C_Read(static_cast<std::int16_t>(chunk), memory.data() + done) !=
               static_cast<std::int16_t>(chunk)) {
      failure = "reading from byte address " + where + " failed";
    }
    bus.I2C_Stop();
    if (!failure.empty()) return failure;
    done += chunk;
  }
  return {};
}

std::string write_page(const Target& target, unsigned at, const std::uint8_t* data,
                       unsigned count) {
  const bus_access::Exports& bus = *target.bus;
  const std::string where = byte_address(target.part, at);
  if (std::string why = bus_access::start(bus); !why.empty()) return not_opened(why, where);
  const std::int16_t device = device_for(target, at);
  if (bus.I2C_Address(device) != kAcknowledged) {
    bus.I2C_Stop();
    return "no acknowledge to address " + hex_byte(static_cast<unsigned>(device)) +
           " when writing byte address " + where;
  }
  // The word address and the page's bytes in one transfer; the STOP starts
  // the part's write cycle.
  Bytes message = word_address(target, at);
  const auto word_length = static_cast<int>(message.size());
  message.insert(message.end(), data, data + count);
  const auto length = static_cast<std::int16_t>(message.size());
  const std::int16_t sent = bus.I2C_Send(length, message.data());
  bus.I2C_Stop();
  if (const auto refused = bus_access::refused_index(target.counting, length, sent)) {
    if (*refused < word_length) {
      return "the EEPROM refused the word address of byte address " + where;
    }
    return "the EEPROM refused the byte at byte address " +
           byte_address(target.part, at + static_cast<unsigned>(*refused - word_length)) +
           " (no acknowledge)";
  }
  return wait_for_write_cycle(target, at);
}

std::string wait_for_write_cycle(const Target& target, unsigned at) {
  const bus_access::Exports& bus = *target.bus;
  const std::int16_t device = device_for(target, at);
  const Clock::time_point deadline = Clock::now() + target.write_cycle_limit;
  unsigned polls = 0;
  do {
    if (std::string why = bus_access::start(bus); !why.empty()) {
      return not_opened(why, byte_address(target.part, at));
    }
    const bool acknowledged = bus.I2C_Address(device) == kAcknowledged;
    bus.I2C_Stop();
    ++polls;
    if (acknowledged) return {};
  } while (Clock::now() < deadline);
  return "time-out: the write cycle of the page at byte address " +
         byte_address(target.part, at) + " did not end within " +
         std::to_string(target.write_cycle_limit.count()) + " ms (" + std::to_string(polls) +
         " polls without an acknowledge)";
}

std::string write(const Target& target, unsigned from, const Bytes& data,
                  const std::function<void(unsigned)>& progress) {
  if (from > target.part.size || data.size() > target.part.size - from) {
    return "the data holds " + std::to_string(data.size()) + " bytes from byte address " +
           byte_address(target.part, from) + ", a " + std::string(target.part.name) + " " +
           std::to_string(target.part.size);
  }
  const auto size = static_cast<unsigned>(data.size());
  for (unsigned done = 0; done < size;) {
    const unsigned at = from + done;
    const unsigned count = std::min(target.part.page - at % target.part.page, size - done);
    if (std::string failure = write_page(target, at, data.data() + done, count);
        !failure.empty()) {
      return failure;
    }
    done += count;
    if (progress) progress(done);
  }
  return {};
}

std::string compare(const eeprom_parts::Part& part, const Bytes& memory, const Bytes& expected,
                    const std::string& file, unsigned from) {
  unsigned differing = 0;
  std::string first;
  for (std::size_t at = 0; at < expected.size() && at < memory.size(); ++at) {
    if (memory[at] == expected[at]) continue;
    if (differing++ == 0) {
      first = "byte address " + byte_address(part, from + static_cast<unsigned>(at)) + " reads " +
              hex_byte(memory[at]) + ", " + file + " has " + hex_byte(expected[at]);
    }
  }
  if (differing == 0) return {};
  return "mismatch at " + first + " (" + std::to_string(differing) + " of " +
         std::to_string(expected.size()) + " bytes differ)";
}

}  // namespace eeprom_transfer
