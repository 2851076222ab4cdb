#include "utilities/probe_grid.h"

#include <cstdio>

namespace probe_grid {

namespace {

constexpr std::int16_t kAcknowledged = 0;

bool reads_by_default(int address) {
  return (address >= 0x30 && address <= 0x37) || (address >= 0x50 && address <= 0x5F);
}

// A quick write: the address in write direction, then STOP. A read: the
// address in read direction and one byte, which the STOP answers with NACK.
bool answers(const bus_access::Exports& bus, int address, bool read) {
  const auto byte = static_cast<std::int16_t>(address << 1 | (read ? 1 : 0));
  const bool acknowledged = bus.I2C_Address(byte) == kAcknowledged;
  if (acknowledged && read) bus.I2C_GetByte();
  return acknowledged;
}

}  // namespace

Scan scan(const bus_access::Exports& bus, Range range, Method method) {
  Scan result;
  result.cells.fill(Cell::not_probed);
  for (int address = range.first; address <= range.last; ++address) {
    std::string failure = bus_access::start(bus);
    if (!failure.empty()) {
      result.failure = std::move(failure);
      return result;
    }
    const bool read = method == Method::read_byte ||
                      (method == Method::automatic && reads_by_default(address));
    const bool answered = answers(bus, address, read);
    bus.I2C_Stop();
    result.cells[static_cast<std::size_t>(address)] = answered ? Cell::answered : Cell::no_answer;
    ++result.probed;
    if (answered) ++result.answered;
  }
  return result;
}

std::string grid(const Scan& scan) {
  std::string text = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n";
  char cell[8];
  for (int row = 0; row < 128; row += 16) {
    std::snprintf(cell, sizeof cell, "%02x: ", row);
    text += cell;
    for (int column = 0; column < 16; ++column) {
      switch (scan.cells[static_cast<std::size_t>(row + column)]) {
        case Cell::not_probed: text += "   "; break;
        case Cell::no_answer: text += "-- "; break;
        case Cell::answered:
          std::snprintf(cell, sizeof cell, "%02x ", row + column);
          text += cell;
          break;
      }
    }
    text += '\n';
  }
  return text;
}

}  // namespace probe_grid
