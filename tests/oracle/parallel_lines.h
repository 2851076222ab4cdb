// What the two bit-banged adapters (Philips and Custom) put on their lines
// for each bus sequence, step by step as the adapters are meant to do it,
// written down apart from the library so that tests and the benchmark can
// hold the library's port accesses against it. One character per step:
//   D d   data-line write, released (high) / driven (low)
//   C c   clock-line write, released (high) / driven (low)
//   r     data-line read (also the Philips adapter's status check reads)
//   .     one port delay (Nops reads of base port + 2)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace oracle::lines {

// Init: data high, clock high; the Philips adapter then reads its status
// port twice to check the adapter, the Custom adapter has no check.
inline constexpr std::string_view kCustomInit = "DC";
inline constexpr std::string_view kPhilipsInit = "DCrr";

// From the idle state: the data line falls while the clock is high (the
// start condition), then both lines low.
inline constexpr std::string_view kStartSequence = "dC.dc.";
// From the clock low; the data line rising at the end is the stop condition.
inline constexpr std::string_view kStopSequence = "D.dc.dC.D.";
inline constexpr std::string_view kSettleWait = "..........";

constexpr std::string start_sequence() { return std::string(kStartSequence); }
constexpr std::string stop_sequence() { return std::string(kStopSequence); }
constexpr std::string settle_wait() { return std::string(kSettleWait); }
// A start on the open bus: stop sequence, settle wait, start sequence.
// (Appended piece by piece: g++ 12 cannot join two strings in a constant
// expression.)
constexpr std::string restart() {
  std::string out(kStopSequence);
  out += kSettleWait;
  out += kStartSequence;
  return out;
}

// Per bit, most significant first: data, clock low, delay, clock high,
// delay, clock low, delay; then the acknowledge clock with the line
// released, the acknowledge read, clock low and two delays.
constexpr std::string byte_out(std::uint8_t byte) {
  std::string out;
  for (int bit = 7; bit >= 0; --bit) {
    out += ((byte >> bit) & 1) != 0 ? 'D' : 'd';
    out += "c.C.c.";
  }
  return out + "DcC.rc..";
}

// Per bit: data released, clock low, delay, clock high, delay, read, clock
// low, delay; then the master's acknowledge (data low) or not (high).
constexpr std::string byte_in(bool acknowledge) {
  std::string out;
  for (int bit = 0; bit < 8; ++bit) out += "Dc.C.rc.";
  return out + ".dc" + (acknowledge ? 'd' : 'D') + "C.c.D..";
}

// The port delays in a sequence.
constexpr long delays(std::string_view sequence) {
  long count = 0;
  for (const char step : sequence) count += step == '.' ? 1 : 0;
  return count;
}

// The adapters' timing is built from these delay budgets.
static_assert(delays(byte_out(0xA5)) == 27);
static_assert(delays(byte_in(true)) == 29);
static_assert(delays(start_sequence()) == 2);
static_assert(delays(kStopSequence) + delays(kSettleWait) == 14);
static_assert(delays(restart()) == 16);

}  // namespace oracle::lines
