// The 24Cxx parts the EEPROM tool knows. Up to the 24C16 one word address
// byte follows the address byte, and a part above 256 bytes takes the upper
// byte address bits (the block) from bits 3 to 1 of its address byte; the
// 24C32 to 24C512 take two word address bytes, high byte first, and no
// block bits.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "platform/scan.h"

namespace eeprom_parts {

struct Part {
  std::string_view name;
  unsigned size;        // bytes
  unsigned page;        // bytes one page write may hold
  unsigned word_bytes;  // word address bytes after the address byte
};

inline constexpr std::array<Part, 10> kParts{{
    {"24C01", 128, 8, 1},
    {"24C02", 256, 8, 1},
    {"24C04", 512, 16, 1},
    {"24C08", 1024, 16, 1},
    {"24C16", 2048, 16, 1},
    {"24C32", 4096, 32, 2},
    {"24C64", 8192, 32, 2},
    {"24C128", 16384, 64, 2},
    {"24C256", 32768, 64, 2},
    {"24C512", 65536, 128, 2},
}};

inline constexpr unsigned kBlockSize = 256;

// The blocks the address byte chooses: one for the small parts and for
// those with two word address bytes.
inline unsigned blocks(const Part& part) {
  return part.word_bytes == 1 && part.size > kBlockSize ? part.size / kBlockSize : 1;
}

// The address byte bits the block number takes: none for most parts.
inline unsigned block_bits(const Part& part) { return 2 * (blocks(part) - 1); }

// Hexadecimal digits of the part's last byte address: 2, 3 or 4.
inline unsigned address_digits(const Part& part) {
  return part.size <= 0x100 ? 2 : part.size <= 0x1000 ? 3 : 4;
}

inline std::optional<Part> named(std::string_view name) {
  for (const Part& part : kParts) {
    if (scan::equal_ignoring_case(part.name, name)) return part;
  }
  return std::nullopt;
}

// "24C01, 24C02, ..., 24C256 or 24C512"
inline std::string names() {
  std::string all;
  for (std::size_t i = 0; i < kParts.size(); ++i) {
    if (i > 0) all += i + 1 == kParts.size() ? " or " : ", ";
    all += kParts[i].name;
  }
  return all;
}

}  // namespace eeprom_parts
