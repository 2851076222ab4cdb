// The bench bus's side of the timing checker: which edge each change of
// SDA is, and where each violation is told.
#include <cstdio>
#include <string>

#include "sim/bus/i2c_bus.h"
#include "sim/bus/waveform.h"

namespace sim {

namespace {

// A minimum in ns as the standard writes it in us: 4.7, 0.25, 0.
std::string in_us(std::uint32_t ns) {
  char text[16];
  if (ns % 1000 == 0) std::snprintf(text, sizeof text, "%u", ns / 1000);
  else if (ns % 100 == 0) std::snprintf(text, sizeof text, "%u.%u", ns / 1000, ns % 1000 / 100);
  else std::snprintf(text, sizeof text, "%u.%02u", ns / 1000, ns % 1000 / 10);
  return text;
}

}  // namespace

void Bus::check_timing(TimingMode mode, bool strict) {
  timing_strict_ = strict && mode != TimingMode::off;
  strict_broken_ = false;
  if (mode == TimingMode::off) {
    timing_.reset();
    return;
  }
  if (waveform_) waveform_->add_timing_marker();
  timing_ = std::make_unique<TimingCheck>(
      mode, [this](const TimingViolation& violation) { timing_violated(violation); });
}

void Bus::on_timing_violation(std::function<void(TimingParameter, std::string_view)> sink) {
  timing_sink_ = std::move(sink);
}

// SDA changing with SCL high is a START or STOP between bytes, and a data
// bit changed too early inside one.
void Bus::timing_sda_edge() {
  const std::uint64_t at = stamp();
  if (!scl_) {
    timing_->data_changed(at);
  } else if (phase_ != Phase::idle && clocks_ >= 2) {
    timing_->data_changed_while_high(at);
  } else if (sda_) {
    timing_->stop(at);
  } else {
    timing_->start(at);
  }
}

void Bus::timing_violated(const TimingViolation& violation) {
  ++timing_violations_;
  ++timing_counts_[static_cast<std::size_t>(violation.parameter)];
  if (timing_strict_ && phase_ != Phase::idle) strict_broken_ = true;

  const std::string symbol(timing_symbol(violation.parameter));
  const std::string mode(timing_mode_name(timing_->mode()));
  std::string text = "timing: " + symbol + " ";
  if (violation.measured_us < 0) {
    text += "broken: SDA changed inside a byte while SCL was still high";
  } else {
    text += std::to_string(violation.measured_us) + " us, below the " +
            in_us(violation.minimum_ns) + " us";
  }
  text += " of " + mode + " (at " + std::to_string(stamp()) + " us)";
  if (waveform_) timing_marked_ = true;
  const std::string line = "! " + text;
  if (timing_sink_) timing_sink_(violation.parameter, line);
  else if (violation_sink_) violation_sink_(line);
}

void Bus::mark_timing() {
  timing_marked_ = false;
  if (waveform_) waveform_->mark_timing();
}

}  // namespace sim
