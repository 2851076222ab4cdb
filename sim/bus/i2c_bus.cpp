#include "sim/bus/i2c_bus.h"

#include <cstdarg>
#include <cstdio>

#include "sim/bus/waveform.h"

namespace sim {

Bus::Bus() = default;

Bus::~Bus() {
  if (waveform_) waveform_->finish(stamp());
}

void Bus::attach(std::unique_ptr<Device> device) {
  if (!device) return;
  Device*& slot = by_address_[device->address() >> 1];
  if (slot == nullptr) slot = device.get();
  if (device->stretch_us() != 0) stretchers_ = true;
  devices_.push_back(std::move(device));
}

Device* Bus::device_at(std::uint8_t address) const {
  return by_address_[address >> 1];
}

void Bus::record_waveform(std::unique_ptr<Waveform> waveform) {
  if (waveform_) waveform_->finish(stamp());
  waveform_ = std::move(waveform);
  if (waveform_ && timing_) waveform_->add_timing_marker();
  if (waveform_) waveform_->begin(scl_, sda_);
}

void Bus::on_violation(std::function<void(std::string_view)> sink) {
  violation_sink_ = std::move(sink);
}

void Bus::report(const char* format, ...) {
  ++violations_;
  frame_faulted_ = true;
  if (!violation_sink_) return;
  char text[200] = "! ";
  std::va_list args;
  va_start(args, format);
  int length = std::vsnprintf(text + 2, sizeof text - 2, format, args);
  va_end(args);
  std::size_t total = 2 + static_cast<std::size_t>(length < 0 ? 0 : length);
  if (total >= sizeof text) total = sizeof text - 1;
  total += static_cast<std::size_t>(
      std::snprintf(text + total, sizeof text - total, " (at %llu us)",
                    static_cast<unsigned long long>(clock_.now())));
  if (total >= sizeof text) total = sizeof text - 1;
  violation_sink_(std::string_view(text, total));
}

// ---------------------------------------------------------------- line face

int Bus::add_line_master() {
  line_masters_.emplace_back();
  return static_cast<int>(line_masters_.size() - 1);
}

void Bus::drive(int id, bool sda, bool scl) {
  if (id < 0 || static_cast<std::size_t>(id) >= line_masters_.size()) return;
  set_master(line_masters_[static_cast<std::size_t>(id)], sda, scl);
  // A byte of the byte face that waits for SCL goes on once it is free.
  if (byte_waiting() && !program_running_ && byte_face_alone_on_scl()) run_program(false);
}

// A slave stretches where its firmware has work: after the eighth clock it
// takes the byte (or has matched its address) and decides its answer; after
// the ninth it stores the byte or loads the next one to send. A slave that
// was NACKed, or refused a byte, is no longer in the transfer.
void Bus::stretch_if_slave_does() {
  if (selected_ == nullptr || phase_ == Phase::ignoring || phase_ == Phase::idle) return;
  const std::uint32_t us = selected_->stretch_us();
  if (us == 0) return;
  slave_scl_low_ = true;
  stretch_until_ = stamp() + us;
}

// The slave lets SCL go: the clock rises now if no master holds it, and a
// byte of the byte face that waited for it goes on (clock synchronisation).
void Bus::end_stretch() {
  stretch_until_ = kNoStretch;
  slave_scl_low_ = false;
  settle();
  if (byte_waiting() && !program_running_ && byte_face_alone_on_scl()) run_program(false);
}

// The fault is a wire shorted to ground, or freed again, not a master: the
// slaves read no START or STOP into it and wait for the next real START.
void Bus::hold_sda_low(bool held) {
  if (held == sda_held_) return;
  sda_held_ = held;
  phase_ = Phase::idle;
  clocks_ = 0;
  selected_ = nullptr;
  slave_sda_low_ = false;
  const bool was_sda = sda_;
  sda_ = sda_pulls_ == 0 && !sda_held_;
  if (waveform_ && sda_ != was_sda) waveform_->change(stamp(), scl_, sda_);
}

void Bus::set_master(LineMaster& master, bool sda, bool scl) {
  const bool sda_low = !sda;
  const bool scl_low = !scl;
  // Most port accesses change no line; they cost this comparison only.
  if (master.sda_low == sda_low && master.scl_low == scl_low) return;
  if (master.sda_low != sda_low) {
    if (sda_low) ++sda_pulls_;
    else --sda_pulls_;
    master.sda_low = sda_low;
  }
  if (master.scl_low != scl_low) {
    if (scl_low) ++scl_pulls_;
    else --scl_pulls_;
    master.scl_low = scl_low;
  }
  settle();
}

// Brings the bus levels to what the drivers now want, one edge at a time in
// the order real wires would show them: with SCL falling the clock goes
// first (data changes while the clock is low), with SCL rising the data goes
// first (set-up before the clock), so two lines switched in one access never
// make a START or STOP that neither master meant.
void Bus::settle() {
  const bool was_scl = scl_;
  const bool was_sda = sda_;
  for (;;) {
    const bool want_scl = scl_pulls_ == 0 && !slave_scl_low_;
    const bool want_sda = sda_pulls_ == 0 && !slave_sda_low_ && !sda_held_;
    if (want_scl == scl_ && want_sda == sda_) break;
    if (want_scl != scl_ && (!want_scl || want_sda == sda_)) {
      scl_ = want_scl;
      if (timing_) {
        if (scl_) timing_->scl_rose(stamp());
        else timing_->scl_fell(stamp());
      }
      if (scl_) clock_rose();
      else clock_fell();
    } else {
      sda_ = want_sda;
      if (timing_) timing_sda_edge();
      if (scl_) {
        if (sda_) stop_seen();
        else start_seen();
      }
    }
  }
  if (waveform_ && (scl_ != was_scl || sda_ != was_sda)) {
    waveform_->change(stamp(), scl_, sda_);
  }
  if (timing_marked_) mark_timing();
}

void Bus::clock_rose() {
  if (phase_ == Phase::idle) return;
  if (clocks_ < 8) {
    if (phase_ == Phase::slave_sends && sda_pulls_ != 0 && !frame_faulted_) {
      report("master holding SDA low while the slave sends read bit %d",
             7 - clocks_);
    }
    shift_in_ = static_cast<std::uint8_t>((shift_in_ << 1) | (sda_ ? 1 : 0));
  } else if (clocks_ == 8) {
    if (phase_ == Phase::slave_sends) {
      master_acked_ = !sda_;
    } else if (sda_pulls_ != 0 && !frame_faulted_) {
      // A master that does not let go of SDA here reads its own level as
      // the slave's acknowledge.
      report("master holding SDA low during the acknowledge clock");
    }
  }
  if (clocks_ < 9) ++clocks_;
}

void Bus::clock_fell() {
  if (phase_ == Phase::idle) return;
  if (strict_broken_) {
    // A slave that misread the clock is out of step with the master: it
    // lets go and waits for the next START or STOP.
    strict_broken_ = false;
    phase_ = Phase::ignoring;
    slave_sda_low_ = false;
  }
  if (clocks_ == 8) {
    eighth_bit_over();
    stretch_if_slave_does();
  } else if (clocks_ == 9) {
    frame_over();
    stretch_if_slave_does();
  } else if (phase_ == Phase::slave_sends && clocks_ >= 1) {
    slave_sda_low_ = ((shift_out_ >> (8 - clocks_ - 1)) & 1) == 0;
  }
}

// The eighth bit is over: the receiver answers in the ninth clock.
void Bus::eighth_bit_over() {
  switch (phase_) {
    case Phase::address:
      address_received();
      break;
    case Phase::master_writes:
      slave_sda_low_ = slave_takes(shift_in_);
      break;
    case Phase::slave_sends:
      slave_sda_low_ = false;  // the master answers now
      break;
    default:
      break;
  }
}

// The ninth clock fell: the next frame begins.
void Bus::frame_over() {
  clocks_ = 0;
  shift_in_ = 0;
  frame_faulted_ = false;
  if (phase_ == Phase::slave_sends) {
    if (master_acked_) {
      shift_out_ = selected_->on_read();
      slave_sda_low_ = (shift_out_ & 0x80) == 0;
    } else {
      // NACK: the transmitter lets go and waits for STOP or START.
      phase_ = Phase::ignoring;
      slave_sda_low_ = false;
    }
  } else {
    slave_sda_low_ = false;
  }
}

bool Bus::slave_takes(std::uint8_t byte) {
  // A slave that refuses a byte lets SDA float in the acknowledge clock
  // and, like a real one, listens to nothing more until START or STOP.
  if (refused_byte_ != 0 && ++bytes_taken_ == refused_byte_) {
    phase_ = Phase::ignoring;
    return false;
  }
  return selected_->on_write(byte);
}

void Bus::address_received() {
  selected_ = by_address_[shift_in_ >> 1];
  if (selected_ == nullptr && roaming_ != nullptr &&
      roaming_->address() == (shift_in_ & 0xFE)) {
    selected_ = roaming_;
  }
  bytes_taken_ = 0;
  if (selected_ != nullptr && !selected_->answers()) selected_ = nullptr;
  if (selected_ == nullptr) {
    phase_ = Phase::ignoring;
    return;
  }
  const bool read = (shift_in_ & 1) != 0;
  selected_->on_selected(read);
  slave_sda_low_ = true;
  if (read) {
    phase_ = Phase::slave_sends;
    master_acked_ = true;  // the first byte follows the address ACK
  } else {
    phase_ = Phase::master_writes;
  }
}

// A START or STOP belongs between bytes: right after the ninth clock, made
// with the first clock of the next frame still high.
void Bus::check_condition_placement(const char* condition) {
  if (phase_ == Phase::idle) return;
  if (clocks_ >= 2) {
    report("%s in the middle of a byte, after %d of 9 clocks", condition,
           clocks_ - 1);
  } else if (phase_ == Phase::slave_sends && master_acked_ &&
             !frame_faulted_) {
    report("%s while the slave sends: the last byte read must be answered "
           "with NACK",
           condition);
  }
}

void Bus::start_seen() {
  check_condition_placement("START");
  // A pause before a transfer counts as the wall time it took.
  clock_.sample_wall();
  busy_ = true;
  for (auto& device : devices_) device->on_start();
  if (roaming_ != nullptr) roaming_->on_start();
  begin_frame(Phase::address);
}

void Bus::stop_seen() {
  check_condition_placement("STOP");
  strict_broken_ = false;  // the transfer is over: nothing is left to fail
  busy_ = false;
  for (auto& device : devices_) device->on_stop();
  if (roaming_ != nullptr) roaming_->on_stop();
  begin_frame(Phase::idle);
}

// After a START or STOP no slave is selected or drives SDA, and the next
// byte starts from its first bit.
void Bus::begin_frame(Phase phase) {
  phase_ = phase;
  clocks_ = 0;
  shift_in_ = 0;
  selected_ = nullptr;
  master_acked_ = false;
  frame_faulted_ = false;
  slave_sda_low_ = false;
}

}  // namespace sim
