// The transfer interface on the two bit-banged adapters: whole i2c-dev
// transactions over the same wiring rows as the classic engine, with what
// that engine leaves out: a true repeated START, a clock read back and
// waited for while a slave stretches it, a bus-free check before START,
// delays that hold the I2C-bus standard's minimum times at a speed in Hz,
// and bus recovery. The classic engine (parallel_bus.h) is untouched.
#pragma once

#include <cstdint>

#include "tarnwick/i2c.h"

namespace bit_transfer {

enum Adapter : std::uint8_t { kPhilips, kCustom, kAdapterCount };

// Messages already checked by the caller (addresses, lengths, buffers,
// flags known); the caller holds the parallel slot. Messages done, or -errno.
std::int16_t transfer(Adapter adapter, const tarnwick_msg* msgs, std::int16_t count);
// The speed achieved, after setting the fastest not above `hz` (0 asks only).
std::int32_t set_speed(Adapter adapter, std::int32_t hz);
// Clocks a held SDA free and makes a STOP; the caller holds the slot.
std::int16_t recover(Adapter adapter);

template <Adapter A>
std::int16_t transfer(const tarnwick_msg* msgs, std::int16_t count) {
  return transfer(A, msgs, count);
}
template <Adapter A>
std::int32_t set_speed(std::int32_t hz) {
  return set_speed(A, hz);
}
template <Adapter A>
std::int16_t recover() {
  return recover(A);
}

}  // namespace bit_transfer
