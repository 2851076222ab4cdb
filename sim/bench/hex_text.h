// Port numbers and register values in the bench's warnings are written as
// the keys of the configuration file take them: upper-case hexadecimal, no
// prefix, by the one formatter of platform/text.
#pragma once

#include <string>

#include "platform/text/format.h"

namespace sim {

inline std::string hex_text(unsigned value) { return format::hexadecimal(value); }

}  // namespace sim
