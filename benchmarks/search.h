// The library calls of the console's SEARCH command on an open bus.
#pragma once

#include <cstdint>

#include "benchmarks/host.h"

namespace bench {

// Probes the address bytes 4, 6, ..., 198, then addresses the current
// slave again, as SEARCH does. Gives the number of slaves that answered.
inline int console_search(const Exports& lib, std::int16_t current_address) {
  int found = 0;
  for (std::int16_t address = 4; address < 200; address += 2) {
    if (lib.I2C_Address(address) == 0) ++found;
  }
  lib.I2C_Address(current_address);
  return found;
}

}  // namespace bench
