#include "utilities/hex_dump.h"

#include <cstdio>

namespace hex_dump {

std::string text(const std::vector<std::uint8_t>& memory, unsigned first, unsigned digits) {
  std::string out(digits > 2 ? digits - 2 : 0, ' ');
  out += "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n";
  char cell[16];
  for (std::size_t row = 0; row < memory.size(); row += 16) {
    std::snprintf(cell, sizeof cell, "%0*zx: ", static_cast<int>(digits), first + row);
    out += cell;
    std::string characters;
    for (std::size_t at = row; at < row + 16; ++at) {
      if (at >= memory.size()) {
        out += "   ";
        continue;
      }
      const std::uint8_t byte = memory[at];
      std::snprintf(cell, sizeof cell, "%02x ", byte);
      out += cell;
      characters += byte == 0x00 || byte == 0xFF ? '.'
                    : byte < 0x20 || byte >= 0x7F ? '?'
                                                  : static_cast<char>(byte);
    }
    out += "   " + characters + "\n";
  }
  return out;
}

}  // namespace hex_dump
