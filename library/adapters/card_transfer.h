// The transfer interface on the PCF8584 card: whole i2c-dev transactions
// made with the controller's own START, repeated START and STOP, its read
// sequence (ACK cleared before the last byte is clocked in) and the bus
// clock its S2 register selects. The classic card adapter (pcf8584.h) is
// untouched; between transfers the card's clock is the one it sets.
#pragma once

#include <cstdint>

#include "tarnwick/i2c.h"

namespace card_transfer {

// Messages checked by the caller, who holds the card's slot. Messages
// done, or -errno; NOSTART, IGNORE_NAK and an empty message before the
// last are -EOPNOTSUPP (the controller cannot make them).
std::int16_t transfer(const tarnwick_msg* msgs, std::int16_t count);
// The S2 clock nearest not above `hz` (0 asks only): its speed in Hz.
std::int32_t set_speed(std::int32_t hz);
// The controller cannot clock SCL by itself: -EOPNOTSUPP.
std::int16_t recover();

}  // namespace card_transfer
