// How a bit-driven adapter's four lines sit on byte-wide I/O ports, as one
// row of data per adapter (the Linux i2c-parport driver describes every
// parallel-port wiring the same way), and the one set of line routines that
// drives any such row. The bus engine knows only these routines; the
// Philips and Custom adapters differ only in their rows.
#pragma once

#include <array>
#include <cstdint>

#include "library/frame/library_state.h"
#include "platform/portio/dlportio.h"

namespace wiring {

// How a line's register is written.
enum class Write : std::uint8_t {
  // Read, change the line's bits, write back: the register's other bits
  // belong to other lines or printer signals and keep their values.
  kReadModifyWrite,
  // Written whole, never read: the register holds this line alone, and its
  // other bits follow the line's level (all 1 while high, all 0 while low).
  kWhole,
};

// One line: its port, the bits that carry it and their polarity. Polarity
// counts only as zero or non-zero: on an output, non-zero means a set bit
// drives the line low; on an input, it means a set bit reads as high. An
// input counts as set only when every bit of its mask reads 1.
struct Line {
  std::uint16_t port = 0;
  std::uint8_t mask = 0;
  std::uint8_t polarity = 0;
  Write write = Write::kReadModifyWrite;
};

enum LineIndex { kSdaIn, kSdaOut, kSclIn, kSclOut, kLineCount };

struct Wiring {
  // Ports are offsets from the library-wide base port (an adapter on a
  // parallel port), or absolute port numbers.
  bool ports_from_base = false;
  // SDA IN, SDA OUT, SCL IN, SCL OUT. The clock input is kept but never
  // read: the master does not wait for a stretched clock.
  std::array<Line, kLineCount> lines{};
};

// Every line routine makes its port accesses at once, without a port delay;
// each call is a fresh access, nothing is cached.

inline std::uint16_t port_of(const Wiring& wiring, const Line& line) {
  if (!wiring.ports_from_base) return line.port;
  return static_cast<std::uint16_t>(static_cast<std::uint16_t>(frame::base_port) + line.port);
}

inline void write_line(const Wiring& wiring, const Line& line, std::uint8_t level) {
  const bool set_bits = (level != 0) == (line.polarity == 0);
  const std::uint16_t port = port_of(wiring, line);
  const auto others = static_cast<std::uint8_t>(~line.mask);
  if (line.write == Write::kWhole) {
    DlPortWritePortUchar(port, static_cast<std::uint8_t>((set_bits ? line.mask : 0) |
                                                         (level != 0 ? others : 0)));
    return;
  }
  const std::uint8_t value = DlPortReadPortUchar(port);
  DlPortWritePortUchar(port, set_bits ? value | line.mask : value & others);
}

inline void write_data(const Wiring& wiring, std::uint8_t level) {
  write_line(wiring, wiring.lines[kSdaOut], level);
}

inline void write_clock(const Wiring& wiring, std::uint8_t level) {
  write_line(wiring, wiring.lines[kSclOut], level);
}

inline std::uint8_t read_data(const Wiring& wiring) {
  const Line& line = wiring.lines[kSdaIn];
  const bool all_set = (DlPortReadPortUchar(port_of(wiring, line)) & line.mask) == line.mask;
  return all_set == (line.polarity != 0) ? 1 : 0;
}

}  // namespace wiring
