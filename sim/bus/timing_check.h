// The bench's timing checker: every phase of the bus measured in bench time
// against the minimums that the I2C-bus standard (NXP UM10204, the table of
// SDA and SCL bus characteristics) sets for standard mode (100 kHz) or fast
// mode (400 kHz). It is told the bus's edges as they happen and names each
// phase that was too short.
//
// Bench time counts whole microseconds, one port access at least between
// two edges that a line master makes: a measured 0 is two edges of one
// access (or of one instant of the card), which on real wires come in no
// guaranteed order. The data hold time's minimum is 0; the only way to
// break it is to change SDA before SCL has fallen, which inside a byte the
// checker reports as a hold time below 0 (the bus itself reads it as a
// START or STOP in the wrong place and reports that too).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>

namespace sim {

enum class TimingMode : std::uint8_t { off, standard, fast };

enum class TimingParameter : std::uint8_t {
  low,     // tLOW: SCL low
  high,    // tHIGH: SCL high
  su_sta,  // tSU;STA: SCL high before a (repeated) START
  hd_sta,  // tHD;STA: after a START, before SCL falls
  su_dat,  // tSU;DAT: SDA set before SCL rises
  hd_dat,  // tHD;DAT: SDA held after SCL falls
  su_sto,  // tSU;STO: SCL high before a STOP
  buf,     // tBUF: bus free between a STOP and the next START
};
inline constexpr std::size_t kTimingParameters = 8;

// The parameter's symbol as the standard writes it ("tSU;STA").
std::string_view timing_symbol(TimingParameter parameter);
// "standard mode (100 kHz)", "fast mode (400 kHz)", "off".
std::string_view timing_mode_name(TimingMode mode);
// The standard's minimum for the parameter in that mode, in ns.
std::uint32_t timing_minimum_ns(TimingMode mode, TimingParameter parameter);

struct TimingViolation {
  TimingParameter parameter;
  std::int64_t measured_us;  // below 0: the hold was broken before SCL fell
  std::uint32_t minimum_ns;
};

class TimingCheck {
 public:
  using Report = std::function<void(const TimingViolation&)>;
  TimingCheck(TimingMode mode, Report report);

  TimingMode mode() const { return mode_; }

  // The edges, each at bench time `at` in us.
  void scl_rose(std::uint64_t at);
  void scl_fell(std::uint64_t at);
  // SDA changed while SCL was low: a data bit (or the set-up of a
  // condition).
  void data_changed(std::uint64_t at);
  void start(std::uint64_t at);
  void stop(std::uint64_t at);
  // SDA changed while SCL was high inside a byte.
  void data_changed_while_high(std::uint64_t at);

 private:
  static constexpr std::uint64_t kNever = ~std::uint64_t{0};
  void check(TimingParameter parameter, std::uint64_t from, std::uint64_t to);

  TimingMode mode_;
  Report report_;
  std::uint64_t rose_ = kNever;
  std::uint64_t fell_ = kNever;
  std::uint64_t data_ = kNever;      // last SDA change since SCL fell
  std::uint64_t started_ = kNever;   // last START since SCL rose
  std::uint64_t stopped_ = kNever;   // last STOP, while no START came since
};

}  // namespace sim
