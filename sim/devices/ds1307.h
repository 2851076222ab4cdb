// A DS1307 real-time clock with 56 bytes of RAM.
//
// Registers 0 to 6 hold the time in BCD: seconds (bit 7 CH halts the
// clock), minutes, hours (bit 6 selects 12-hour mode, bit 5 then PM),
// day of week 1 to 7, date, month, year 00 to 99 (2000 to 2099); register 7
// is the control register; 0x08 to 0x3F are RAM. The first byte written
// after the address sets the register pointer (bits 7 and 6 ignored); reads
// and writes go on from it, wrapping from 0x3F to 0x00.
//
// The bench's DS1307 is a battery-backed part that was set to the host's
// local time and is running: a fresh model reads the host clock, in 24-hour
// mode, with day 1 = Sunday. Writing the time registers sets the clock to
// the written time, from which it then runs along with the host clock (the
// model keeps an offset to it). Like the real part's user buffers, a read
// transfer sees the time as it stood at its START, and time written in one
// transfer takes effect at its STOP (or at the next START), so setting all
// seven registers in one go never passes through a half-set date. Writing
// the seconds register resets the part's divider chain: the next second
// comes a full second after that write. On the bench the clock counts bench
// time from the host's time at power-up. Values
// the part could not count to (minute 75, month 13) are held in range.
// Power-up: control register 0x03, RAM all 0x00.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "sim/bus/i2c_bus.h"

namespace sim {

class Ds1307 final : public Device {
 public:
  // Seconds since 1970-01-01 00:00:00 of the host's local wall-clock time.
  using Clock = std::function<std::int64_t()>;

  // With `bench` the clock runs in bench time from `clock` at power-up;
  // without, it follows `clock` itself (whole seconds).
  explicit Ds1307(std::uint8_t address, Clock clock = host_local_clock(),
                  const BenchClock* bench = nullptr);
  static Clock host_local_clock();

  // Sets the running clock to `local_seconds` (seconds since 1970-01-01
  // 00:00:00 of local wall-clock time, a date of 2000 to 2099), as if the
  // battery-backed part had been set to it: the clock runs on from there,
  // in the hour mode it has, and the day register follows the calendar
  // (1 = Sunday). False, the part unchanged, for another year.
  bool set_time(std::int64_t local_seconds);

  std::uint8_t address() const override { return address_; }
  void on_start() override;
  void on_selected(bool read) override;
  bool on_write(std::uint8_t byte) override;
  std::uint8_t on_read() override;
  void on_stop() override;

 private:
  struct Fields {
    int second, minute, hour, weekday, date, month, year;  // year 2000-2099
    bool halted, twelve_hour;
  };

  std::int64_t host_us() const;
  std::int64_t clock_us() const;
  std::int64_t clock_seconds() const;
  Fields fields_now() const;
  std::uint8_t time_register(const Fields& fields, unsigned index) const;
  void write_time_register(unsigned index, std::uint8_t value);
  void commit_time();

  std::uint8_t address_;
  Clock clock_;
  const BenchClock* bench_;
  std::int64_t power_up_s_ = 0;  // host time at power-up, with a bench clock
  std::int64_t offset_us_ = 0;   // clock time minus host time while running
  std::int64_t frozen_us_ = 0;   // clock time while halted
  bool halted_ = false;
  bool twelve_hour_ = false;
  int weekday_offset_ = 4;       // 1970-01-01 was a Thursday, day 5
  std::uint8_t control_ = 0x03;
  std::array<std::uint8_t, 56> ram_{};

  std::uint8_t pointer_ = 0;
  bool expecting_pointer_ = false;
  bool have_read_snapshot_ = false;
  Fields read_snapshot_{};
  bool have_pending_time_ = false;
  bool seconds_written_ = false;
  std::int64_t seconds_written_at_ = 0;  // host time of that write, us
  Fields pending_time_{};
};

}  // namespace sim
