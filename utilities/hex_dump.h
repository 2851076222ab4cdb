// Memory as i2cdump prints it: a header of column digits, then 16 bytes a
// row in hex and as characters ('.' for 00 and FF, '?' for other bytes
// that do not print).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hex_dump {

// Rows are labelled with two hex digits up to 256 bytes, three above.
std::string text(const std::vector<std::uint8_t>& memory);

}  // namespace hex_dump
