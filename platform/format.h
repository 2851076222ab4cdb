// Hexadecimal text the way the configuration file's keys take it and the
// port layer and the bench write it in their messages: upper-case digits,
// no prefix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace format {

// `value` in hexadecimal, zero-padded to at least `width` digits: like
// printf's "%X" (width 0 or 1), "%02X" (2) and "%04X" (4). Callers that
// show a port or a byte mask it to its 16 or 8 bits themselves.
std::string hexadecimal(std::uint32_t value, std::size_t width = 0);

}  // namespace format
