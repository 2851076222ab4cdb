#include "sim/devices/ds1307.h"

#include <algorithm>
#include <ctime>

namespace sim {

namespace {

constexpr unsigned kControl = 7;
constexpr unsigned kRamStart = 8;
constexpr unsigned kLastRegister = 0x3F;
constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kSecond = 1'000'000;  // us
constexpr int kThursday = 4;  // 1970-01-01, day 5 counted from Sunday = 1

constexpr std::uint8_t kClockHalt = 0x80;
constexpr std::uint8_t kTwelveHour = 0x40;
constexpr std::uint8_t kPm = 0x20;
constexpr std::uint8_t kControlBits = 0x93;  // OUT, SQWE, RS1, RS0

int from_bcd(std::uint8_t value) { return (value >> 4) * 10 + (value & 0x0F); }

std::uint8_t to_bcd(int value) {
  return static_cast<std::uint8_t>(((value / 10) << 4) | (value % 10));
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// Days since 1970-01-01 of a proleptic Gregorian date (month 1 to 12).
std::int64_t days_from_civil(int year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int era = (year >= 0 ? year : year - 399) / 400;
  const int year_of_era = year - era * 400;
  const int day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return static_cast<std::int64_t>(era) * 146097 + day_of_era - 719468;
}

void civil_from_days(std::int64_t days, int& year, int& month, int& day) {
  days += 719468;
  const std::int64_t era = floor_div(days, 146097);
  const auto day_of_era = static_cast<int>(days - era * 146097);
  const int year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int shifted_month = (5 * day_of_year + 2) / 153;
  day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
  year = static_cast<int>(year_of_era + era * 400) + (month <= 2 ? 1 : 0);
}

int days_in_month(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

Ds1307::Clock Ds1307::host_local_clock() {
  return [] {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return static_cast<std::int64_t>(now) + local.tm_gmtoff;
  };
}

Ds1307::Ds1307(std::uint8_t address, Clock clock, const BenchClock* bench)
    : address_(address), clock_(std::move(clock)), bench_(bench) {
  if (bench_ != nullptr) {
    power_up_s_ = clock_() - static_cast<std::int64_t>(bench_->now() / kSecond);
  }
}

std::int64_t Ds1307::host_us() const {
  if (bench_ == nullptr) return clock_() * kSecond;
  return power_up_s_ * kSecond + static_cast<std::int64_t>(bench_->now());
}

std::int64_t Ds1307::clock_us() const { return halted_ ? frozen_us_ : host_us() + offset_us_; }

std::int64_t Ds1307::clock_seconds() const { return floor_div(clock_us(), kSecond); }

Ds1307::Fields Ds1307::fields_now() const {
  const std::int64_t seconds = clock_seconds();
  const std::int64_t days = floor_div(seconds, kDay);
  const auto in_day = static_cast<int>(seconds - days * kDay);
  Fields fields{};
  civil_from_days(days, fields.year, fields.month, fields.date);
  fields.hour = in_day / 3600;
  fields.minute = in_day / 60 % 60;
  fields.second = in_day % 60;
  fields.weekday = static_cast<int>(((days + weekday_offset_) % 7 + 7) % 7) + 1;
  fields.halted = halted_;
  fields.twelve_hour = twelve_hour_;
  return fields;
}

std::uint8_t Ds1307::time_register(const Fields& fields, unsigned index) const {
  switch (index) {
    case 0:
      return static_cast<std::uint8_t>(to_bcd(fields.second) |
                                       (fields.halted ? kClockHalt : 0));
    case 1:
      return to_bcd(fields.minute);
    case 2: {
      if (!fields.twelve_hour) return to_bcd(fields.hour);
      const int hour12 = fields.hour % 12 == 0 ? 12 : fields.hour % 12;
      return static_cast<std::uint8_t>(kTwelveHour | (fields.hour >= 12 ? kPm : 0) |
                                       to_bcd(hour12));
    }
    case 3:
      return static_cast<std::uint8_t>(fields.weekday);
    case 4:
      return to_bcd(fields.date);
    case 5:
      return to_bcd(fields.month);
    default:
      return to_bcd(((fields.year % 100) + 100) % 100);
  }
}

void Ds1307::write_time_register(unsigned index, std::uint8_t value) {
  if (!have_pending_time_) {
    pending_time_ = fields_now();
    have_pending_time_ = true;
  }
  Fields& f = pending_time_;
  switch (index) {
    case 0:
      seconds_written_ = true;
      seconds_written_at_ = host_us();
      f.halted = (value & kClockHalt) != 0;
      f.second = std::min(from_bcd(value & 0x7F), 59);
      break;
    case 1:
      f.minute = std::min(from_bcd(value & 0x7F), 59);
      break;
    case 2:
      f.twelve_hour = (value & kTwelveHour) != 0;
      if (f.twelve_hour) {
        const int hour12 = std::clamp(from_bcd(value & 0x1F), 1, 12);
        f.hour = hour12 % 12 + ((value & kPm) != 0 ? 12 : 0);
      } else {
        f.hour = std::min(from_bcd(value & 0x3F), 23);
      }
      break;
    case 3:
      f.weekday = std::clamp(value & 0x07, 1, 7);
      break;
    case 4:
      f.date = std::clamp(from_bcd(value & 0x3F), 1, 31);
      break;
    case 5:
      f.month = std::clamp(from_bcd(value & 0x1F), 1, 12);
      break;
    default:
      f.year = 2000 + std::min(from_bcd(value), 99);
      break;
  }
}

void Ds1307::commit_time() {
  if (!have_pending_time_) return;
  have_pending_time_ = false;
  const Fields& f = pending_time_;
  const int date = std::min(f.date, days_in_month(f.year, f.month));
  const std::int64_t days = days_from_civil(f.year, f.month, date);
  const std::int64_t seconds = days * kDay + f.hour * 3600 + f.minute * 60 + f.second;
  // Without a write of the seconds the countdown to the next second goes
  // on; a write of them started it anew at that write.
  const std::int64_t now = host_us();
  const std::int64_t into_second = clock_us() - floor_div(clock_us(), kSecond) * kSecond;
  const std::int64_t elapsed = seconds_written_ ? now - seconds_written_at_ : into_second;
  seconds_written_ = false;
  halted_ = f.halted;
  twelve_hour_ = f.twelve_hour;
  if (halted_) frozen_us_ = seconds * kSecond;
  else offset_us_ = seconds * kSecond + elapsed - now;
  // The day register counts on its own; it keeps the value written.
  weekday_offset_ = static_cast<int>((((f.weekday - 1) - days) % 7 + 7) % 7);
}

bool Ds1307::set_time(std::int64_t local_seconds) {
  int year = 0;
  int month = 0;
  int date = 0;
  civil_from_days(floor_div(local_seconds, kDay), year, month, date);
  if (year < 2000 || year > 2099) return false;
  have_pending_time_ = false;
  seconds_written_ = false;
  halted_ = false;
  offset_us_ = local_seconds * kSecond - host_us();
  weekday_offset_ = kThursday;
  return true;
}

void Ds1307::on_start() {
  commit_time();
  have_read_snapshot_ = false;
}

void Ds1307::on_selected(bool read) { expecting_pointer_ = !read; }

bool Ds1307::on_write(std::uint8_t byte) {
  if (expecting_pointer_) {
    expecting_pointer_ = false;
    pointer_ = byte & kLastRegister;
    return true;
  }
  if (pointer_ < kControl) {
    write_time_register(pointer_, byte);
  } else if (pointer_ == kControl) {
    control_ = byte & kControlBits;
  } else {
    ram_[pointer_ - kRamStart] = byte;
  }
  pointer_ = (pointer_ + 1) & kLastRegister;
  return true;
}

std::uint8_t Ds1307::on_read() {
  std::uint8_t value;
  if (pointer_ < kControl) {
    if (!have_read_snapshot_) {
      read_snapshot_ = fields_now();
      have_read_snapshot_ = true;
    }
    value = time_register(read_snapshot_, pointer_);
  } else if (pointer_ == kControl) {
    value = control_;
  } else {
    value = ram_[pointer_ - kRamStart];
  }
  pointer_ = (pointer_ + 1) & kLastRegister;
  return value;
}

void Ds1307::on_stop() { commit_time(); }

}  // namespace sim
