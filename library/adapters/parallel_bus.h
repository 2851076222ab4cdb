// The bit-driven I2C master behind both parallel adapters. It makes the bus
// conditions and moves bytes bit by bit through the line routines and the
// port delay, and never knows which port or pin a line sits on: the Philips
// adapter and the Custom adapter differ only in the wiring rows they hand in.
//
// There is one parallel bus per process. Its state (open, traffic since the
// last start, last address) belongs to the bus, not to an adapter, so a
// transaction opened through one adapter continues through the other.
// Across processes the bus is guarded by the library's parallel slot.
//
// A wiring says how an adapter's four lines sit on byte-wide I/O ports, as
// one row of data per adapter (the Linux i2c-parport driver describes every
// parallel-port wiring the same way); one set of line routines drives any
// such row, and the engine knows only those routines.
#pragma once

#include <array>
#include <cstdint>

#include "dlportio.h"
#include "library/state/library_state.h"

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
  // SDA IN, SDA OUT, SCL IN, SCL OUT. This engine never reads the clock
  // input: its master does not wait for a stretched clock. The transfer
  // interface's engine (bit_transfer.h) does.
  std::array<Line, kLineCount> lines{};
};

// Every line routine makes its port accesses at once, without a port delay;
// each call is a fresh access, nothing is cached.

inline std::uint16_t port_of(const Wiring& wiring, const Line& line) {
  if (!wiring.ports_from_base) return line.port;
  return static_cast<std::uint16_t>(static_cast<std::uint16_t>(state::base_port) + line.port);
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


namespace parallel_bus {

// Line levels: high is released (pulled up), low is driven.
inline constexpr std::uint8_t kLow = 0;
inline constexpr std::uint8_t kHigh = 1;

// Bus results shared by both adapters.
inline constexpr std::int16_t kOk = 0;
inline constexpr std::int16_t kSlotNotObtained = 2;
inline constexpr std::int16_t kBusNotOpen = 2;
inline constexpr std::int16_t kNotAcknowledged = 3;
inline constexpr std::int16_t kRefused = -1;

// Opens the bus (taking the parallel slot) or, on an open bus, restarts it
// with a stop condition, the settle wait and a new start condition.
std::int16_t start(const wiring::Wiring& wired);
// Closes an open bus and gives the parallel slot back; nothing on a closed one.
std::int16_t stop(const wiring::Wiring& wired);
// Sends an address byte (low 8 bits of `value`), restarting first when any
// byte has moved since the last start.
std::int16_t address(const wiring::Wiring& wired, std::int16_t value);
// Writes bytes to the last addressed slave until one is not acknowledged.
std::int16_t send(const wiring::Wiring& wired, std::int16_t count,
                  const std::uint8_t* data);
// Reads `count` bytes from the last addressed slave, the last one NACKed.
std::int16_t read(const wiring::Wiring& wired, std::int16_t count,
                  std::uint8_t* buffer);

// Both lines released: the idle bus.
void set_idle(const wiring::Wiring& wired);
// An init forgets any transaction: the bus counts as closed and the last
// address is 0. The traffic flag is left as it is.
void forget_transaction();

// The routines of the operation tables, one set per wiring row.
template <const wiring::Wiring& W>
std::int16_t start() {
  return start(W);
}
template <const wiring::Wiring& W>
std::int16_t stop() {
  return stop(W);
}
template <const wiring::Wiring& W>
std::int16_t address(std::int16_t value) {
  return address(W, value);
}
template <const wiring::Wiring& W>
std::int16_t send(std::int16_t count, const std::uint8_t* data) {
  return send(W, count, data);
}
template <const wiring::Wiring& W>
std::int16_t read(std::int16_t count, std::uint8_t* buffer) {
  return read(W, count, buffer);
}

}  // namespace parallel_bus
