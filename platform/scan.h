// Number scanning with the behaviour of the C library's "%d" and "%x"
// conversions, as the configuration file and the console both rely on it:
// leading white space skipped, an optional sign, for hexadecimal an optional
// 0x/0X prefix, then digits up to the first other character.
//
// Values are accumulated modulo 2^32, so the low 16 and 8 bits that callers
// keep are always those of the number as written, however long it is
// ("65538" keeps 2 in its low 16 bits; "-1" is 0xFFFFFFFF, low byte 255).
//
// The edges, as in C: a sign must be followed directly by the number, so a
// lone sign, "+ 5" or "-x" is no number; a sign is also allowed before a
// hexadecimal number ("-5" is 0xFFFFFFFB, "-0x5" likewise); "0x" not
// followed by a hexadecimal digit is the number 0 (the scan stops at the
// "x"); in decimal, "0x40" is 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace scan {

// The number at the start of `text` in decimal, or nothing when the text
// (after white space and sign) does not begin with a decimal digit.
std::optional<std::int32_t> decimal(std::string_view text);

// The number at the start of `text` in hexadecimal, or nothing when no
// hexadecimal digit follows (a lone "0" before an "x" still counts as 0).
std::optional<std::int32_t> hexadecimal(std::string_view text);

// For values that must be exactly a number, the stricter reading of the
// bench's settings and device list: the whole of `text`, blanks around it
// aside, is one number without sign in `base` 10 or 16 (hexadecimal may
// begin with 0x or 0X), of at most `max_digits` digits and at most `max`.
// Anything else, or nothing at all, gives nothing; no value ever wraps.
struct Whole {
  int base = 16;
  std::uint32_t max = std::numeric_limits<std::uint32_t>::max();
  std::size_t max_digits = std::numeric_limits<std::size_t>::max();
};
std::optional<std::uint32_t> whole_number(std::string_view text, const Whole& rules);

// Names in the configuration (sections, keys, backends, parts) compare
// without regard to case, ASCII letters only, whatever the locale.
bool equal_ignoring_case(std::string_view a, std::string_view b);

}  // namespace scan
