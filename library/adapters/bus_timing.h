// What the modern transfer engines share about time: the I2C-bus standard's
// minimum times for standard mode and fast mode, the port access time that
// every delay is counted in, and the keys of an adapter's section that set
// its default speed and how long a held clock is waited for.
//
// Nothing here sleeps: a delay is a run of reads of the port-delay port,
// each taking one port access time, so the same counts hold on the bench
// (bench time advances by the access time per access) and on a real port.
#pragma once

#include <cstdint>

namespace bus_timing {

// Minimum times in ns (the I2C-bus standard, table of SDA and SCL bus
// characteristics). tHD;DAT is 0 for I2C-bus devices in both modes.
struct Minimums {
  std::int32_t low;     // tLOW
  std::int32_t high;    // tHIGH
  std::int32_t su_sta;  // tSU;STA, set-up of a repeated START
  std::int32_t hd_sta;  // tHD;STA, hold of a (repeated) START
  std::int32_t su_dat;  // tSU;DAT
  std::int32_t hd_dat;  // tHD;DAT
  std::int32_t su_sto;  // tSU;STO
  std::int32_t buf;     // tBUF, bus free between a STOP and a START
};

inline constexpr std::int32_t kStandardModeHz = 100000;
inline constexpr std::int32_t kFastModeHz = 400000;
inline constexpr Minimums kStandardMode{4700, 4000, 4700, 4000, 250, 0, 4000, 4700};
inline constexpr Minimums kFastMode{1300, 600, 600, 600, 100, 0, 600, 1300};

// Standard mode up to 100 kHz, fast mode above.
const Minimums& minimums_for(std::int32_t hz);

// Whether section "Port IO" names no real backend: the port layer then
// runs the bench, whose time is counted in port accesses, not read off a
// clock.
bool on_the_bench();

// One port access in ns. On the bench (section "Port IO" names no real
// backend) it is "Access Time" of section "Simulation" in us (default 1);
// on a real port it is measured once per process, by timing a run of
// reads of `delay_port` with CLOCK_MONOTONIC.
std::int32_t access_time_ns(std::uint16_t delay_port);

// Whole accesses that last at least `ns` (at least 0).
std::int32_t accesses_for(std::int64_t ns, std::int32_t access_ns);

// `reads` reads of `port`.
void delay(std::uint16_t port, std::int32_t reads);

// The settings of an adapter's section for this interface.
inline constexpr std::int32_t kDefaultHz = kStandardModeHz;
inline constexpr std::int32_t kDefaultStretchMs = 25;
struct Settings {
  std::int32_t hz = kDefaultHz;                   // "Bus Speed", decimal Hz
  std::int32_t stretch_ms = kDefaultStretchMs;    // "Stretch Timeout", decimal ms
};
// A key that is missing or not a decimal number in range keeps its default;
// `slowest_hz` is the least speed the adapter can make.
Settings read_settings(const char* section, std::int32_t slowest_hz);

}  // namespace bus_timing
