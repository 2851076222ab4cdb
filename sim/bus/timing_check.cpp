#include "sim/bus/timing_check.h"

namespace sim {

namespace {

// The standard's minimums, as its table lists them: one row per
// parameter, in ns for standard and fast mode.
struct Row {
  TimingParameter parameter;
  std::string_view symbol;
  std::uint32_t standard_ns;
  std::uint32_t fast_ns;
};

constexpr std::array<Row, kTimingParameters> kMinimums{{
    {TimingParameter::low, "tLOW", 4700, 1300},
    {TimingParameter::high, "tHIGH", 4000, 600},
    {TimingParameter::su_sta, "tSU;STA", 4700, 600},
    {TimingParameter::hd_sta, "tHD;STA", 4000, 600},
    {TimingParameter::su_dat, "tSU;DAT", 250, 100},
    {TimingParameter::hd_dat, "tHD;DAT", 0, 0},
    {TimingParameter::su_sto, "tSU;STO", 4000, 600},
    {TimingParameter::buf, "tBUF", 4700, 1300},
}};

constexpr const Row& row(TimingParameter parameter) {
  return kMinimums[static_cast<std::size_t>(parameter)];
}

static_assert([] {
  for (std::size_t i = 0; i < kMinimums.size(); ++i) {
    if (static_cast<std::size_t>(kMinimums[i].parameter) != i) return false;
  }
  return true;
}(), "one row per parameter, in the order of TimingParameter");

}  // namespace

std::string_view timing_symbol(TimingParameter parameter) { return row(parameter).symbol; }

std::string_view timing_mode_name(TimingMode mode) {
  switch (mode) {
    case TimingMode::standard:
      return "standard mode (100 kHz)";
    case TimingMode::fast:
      return "fast mode (400 kHz)";
    case TimingMode::off:
      break;
  }
  return "off";
}

std::uint32_t timing_minimum_ns(TimingMode mode, TimingParameter parameter) {
  if (mode == TimingMode::off) return 0;
  return mode == TimingMode::standard ? row(parameter).standard_ns : row(parameter).fast_ns;
}

TimingCheck::TimingCheck(TimingMode mode, Report report)
    : mode_(mode), report_(std::move(report)) {}

void TimingCheck::check(TimingParameter parameter, std::uint64_t from, std::uint64_t to) {
  if (from == kNever || to < from) return;
  const std::uint32_t minimum = timing_minimum_ns(mode_, parameter);
  const std::uint64_t measured = to - from;
  if (measured * 1000 < minimum) {
    report_(TimingViolation{parameter, static_cast<std::int64_t>(measured), minimum});
  }
}

void TimingCheck::scl_rose(std::uint64_t at) {
  check(TimingParameter::low, fell_, at);
  check(TimingParameter::su_dat, data_, at);
  rose_ = at;
  data_ = kNever;
  started_ = kNever;
}

void TimingCheck::scl_fell(std::uint64_t at) {
  check(TimingParameter::high, rose_, at);
  check(TimingParameter::hd_sta, started_, at);
  fell_ = at;
  data_ = kNever;
  started_ = kNever;
}

void TimingCheck::data_changed(std::uint64_t at) {
  check(TimingParameter::hd_dat, fell_, at);
  data_ = at;
}

void TimingCheck::start(std::uint64_t at) {
  check(TimingParameter::su_sta, rose_, at);
  check(TimingParameter::buf, stopped_, at);
  started_ = at;
  stopped_ = kNever;
}

void TimingCheck::stop(std::uint64_t at) {
  check(TimingParameter::su_sto, rose_, at);
  stopped_ = at;
}

void TimingCheck::data_changed_while_high(std::uint64_t /*at*/) {
  report_(TimingViolation{TimingParameter::hd_dat, -1, timing_minimum_ns(mode_, TimingParameter::hd_dat)});
}

}  // namespace sim
