// Reading and programming a 24Cxx through the ten functions: block reads,
// page writes, acknowledge polling of the write cycle, and verifying, over
// the whole part or a range of its byte addresses.
// Every function returns an empty text on success, otherwise the message
// for the user, naming the byte address where it failed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "utilities/bus_access.h"
#include "utilities/eeprom_parts.h"

namespace eeprom_transfer {

using Bytes = std::vector<std::uint8_t>;

struct Target {
  const bus_access::Exports* bus;
  eeprom_parts::Part part;
  std::uint8_t address;  // the part's 8-bit write address, block bits clear
  bus_access::SendCount counting;
  // How long a write cycle may keep the part from acknowledging. Parts
  // take up to 5 or 10 ms; the rest is room for a slow adapter and a busy
  // machine.
  std::chrono::milliseconds write_cycle_limit{100};
};

// "0x1f", "0x01f" for parts up to 4 KiB, "0x001f" above.
std::string byte_address(const eeprom_parts::Part& part, unsigned at);

// `count` bytes from byte address `from` on into `memory`, one transaction
// per 256-byte block.
std::string read(const Target& target, unsigned from, unsigned count, Bytes& memory);
// The whole part.
inline std::string read_all(const Target& target, Bytes& memory) {
  return read(target, 0, target.part.size, memory);
}

// `data` from byte address `from` on, in page writes that never cross a
// page boundary, each followed by polling until the part acknowledges
// again. `progress` hears the bytes written so far.
std::string write(const Target& target, unsigned from, const Bytes& data,
                  const std::function<void(unsigned)>& progress = {});
inline std::string write_all(const Target& target, const Bytes& data,
                             const std::function<void(unsigned)>& progress = {}) {
  return write(target, 0, data, progress);
}

// One page write, then the acknowledge polling of its write cycle.
std::string write_page(const Target& target, unsigned at, const std::uint8_t* data,
                       unsigned count);

// Addresses the part in write direction, each time in a transaction of its
// own, until it acknowledges or the write cycle limit has passed.
std::string wait_for_write_cycle(const Target& target, unsigned at);

// The first byte address at which `memory` differs from `expected` (which
// may be shorter), both read from byte address `from` on, with the count
// of differing bytes; empty when equal.
std::string compare(const eeprom_parts::Part& part, const Bytes& memory, const Bytes& expected,
                    const std::string& file, unsigned from = 0);

}  // namespace eeprom_transfer
