// An EEPROM's contents as a file holds them: the part's bytes as they are
// (binary), or the text i2cdump(8) prints, which people keep and mail
// around:
//
//        0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef
//   00: 54 61 72 6e ff ff ff ff ff ff ff ff ff ff ff ff    Tarn............
//
// A row is a label (the address of its first byte in hex, 16 bytes a row;
// parts above 256 bytes take wider labels), a colon, and 16 cells of
// three characters: two hex digits, "XX" for a byte i2cdump could not
// read, or blanks for a byte outside its -r range. What follows the
// cells (the characters column) and lines that are no rows (the header,
// i2cdump's note on standard error) are ignored.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim::eeprom_image {

// The `size` bytes of a part that `file` gives: a file of exactly `size`
// bytes is binary (i2cdump's text of a whole part is always longer), any
// other is i2cdump's text and must give every byte once. Otherwise
// nothing, and `error` says why in a few words, naming the line at fault.
std::optional<std::vector<std::uint8_t>> parse(std::string_view file, unsigned size,
                                               std::string& error);

}  // namespace sim::eeprom_image
