// Memory as i2cdump prints it: a header of column digits, then 16 bytes a
// row in hex and as characters ('.' for 00 and FF, '?' for other bytes
// that do not print).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hex_dump {

// `memory` read from byte address `first` on, 16 bytes a row, each row
// labelled with its first byte address in `digits` hexadecimal digits
// (the header moves right with labels wider than two).
std::string text(const std::vector<std::uint8_t>& memory, unsigned first = 0,
                 unsigned digits = 2);

}  // namespace hex_dump
