// The 24Cxx parts the EEPROM tool knows. Above 256 bytes a part takes the
// upper byte address bits (the block) from bits 3 to 1 of its address byte.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "platform/scan.h"

namespace eeprom_parts {

struct Part {
  std::string_view name;
  unsigned size;  // bytes
  unsigned page;  // bytes one page write may hold
};

inline constexpr std::array<Part, 5> kParts{{
    {"24C01", 128, 8},
    {"24C02", 256, 8},
    {"24C04", 512, 16},
    {"24C08", 1024, 16},
    {"24C16", 2048, 16},
}};

inline constexpr unsigned kBlockSize = 256;

inline unsigned blocks(const Part& part) {
  return part.size > kBlockSize ? part.size / kBlockSize : 1;
}

// The address byte bits the block number takes: none for the small parts.
inline unsigned block_bits(const Part& part) { return 2 * (blocks(part) - 1); }

inline std::optional<Part> named(std::string_view name) {
  for (const Part& part : kParts) {
    if (scan::equal_ignoring_case(part.name, name)) return part;
  }
  return std::nullopt;
}

}  // namespace eeprom_parts
