// The bit-driven I2C master behind both parallel adapters. It makes the bus
// conditions and moves bytes bit by bit through the line routines and the
// port delay, and never knows which port or pin a line sits on: the Philips
// adapter and the Custom adapter differ only in the wiring rows they hand in.
//
// There is one parallel bus per process. Its state (open, traffic since the
// last start, last address) belongs to the bus, not to an adapter, so a
// transaction opened through one adapter continues through the other.
// Across processes the bus is guarded by the parallel slot of the frame.
#pragma once

#include <cstdint>

#include "library/adapters/parallel/wiring.h"

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
