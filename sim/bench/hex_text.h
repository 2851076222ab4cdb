// Port numbers and register values in warnings are written as the keys of
// the configuration file take them: upper-case hexadecimal, no prefix.
#pragma once

#include <string>

namespace sim {

inline std::string hex_text(unsigned value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return text;
}

}  // namespace sim
