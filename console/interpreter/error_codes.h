// The error codes that command actions return, and their report.
#pragma once

#include <cstdint>

namespace console::error {

inline constexpr std::int16_t none = 0;
inline constexpr std::int16_t bus_not_opened = 1;
inline constexpr std::int16_t no_ack_from_slave = 2;
inline constexpr std::int16_t no_ack = 3;
inline constexpr std::int16_t syntax = 4;
inline constexpr std::int16_t bus_already_opened = 5;
inline constexpr std::int16_t bus_already_closed = 6;
inline constexpr std::int16_t interface_number = 7;
inline constexpr std::int16_t interface_busy = 8;
inline constexpr std::int16_t interface_error = 9;
inline constexpr std::int16_t unexpected = 255;

// Prints the one "ERROR : ..." line for a code other than none.
void report(std::int16_t code);

}  // namespace console::error
