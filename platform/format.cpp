// Hexadecimal text for messages.
#include "platform/format.h"

namespace format {

std::string hexadecimal(std::uint32_t value, std::size_t width) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  if (text.size() < width) text.insert(0, width - text.size(), '0');
  return text;
}

}  // namespace format
