// Probing each 7-bit address in turn, and the grid that i2cdetect prints.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "utilities/bus_access.h"

namespace probe_grid {

// How an address is probed. `automatic` picks per address as i2cdetect
// does: a one-byte read where a quick write could change a slave's state
// (0x30 to 0x37, 0x50 to 0x5F, where EEPROMs live: a write there can latch
// a word address or start a write), a quick write elsewhere.
enum class Method { automatic, quick_write, read_byte };

struct Range {
  int first = 0x03;
  int last = 0x77;
};

enum class Cell { not_probed, no_answer, answered };

struct Scan {
  std::array<Cell, 128> cells{};
  int answered = 0;
  int probed = 0;
  std::string failure;  // why the bus could not be opened; empty when scanned
};

// Probes every address of `range`, each in a transaction of its own (START,
// address, STOP, and for a read one byte), so that no other host waits
// longer than one probe for the bus. Stops at the first START that fails.
Scan scan(const bus_access::Exports& bus, Range range, Method method);

// The header line and the rows 00 to 70: "   " for addresses not probed,
// "--" for no answer, the address in hex where a slave answered.
std::string grid(const Scan& scan);

}  // namespace probe_grid
