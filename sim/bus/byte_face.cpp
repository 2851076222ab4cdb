// The bench bus's byte face: the master a controller chip such as the
// PCF8584 is. It makes its conditions and clocks its bytes through the same
// line state machine as the line face; where nobody could tell, a byte's
// outcome is applied without its edges.
#include "sim/bus/i2c_bus.h"

namespace sim {

namespace {

constexpr const char* kClockHeld =
    "SCL held low by another master while the controller clocks the bus";

}  // namespace

void Bus::byte_lines(bool sda, bool scl) {
  if (sda != !byte_master_.sda_low || scl != !byte_master_.scl_low) {
    const std::uint64_t next = edge_at_ + half_period_us_;
    edge_at_ = next > clock_.now() ? next : clock_.now();
  }
  set_master(byte_master_, sda, scl);
}

// Conditions do not wait for the clock: one made while another master holds
// SCL low is a fault of whoever asked for it.
void Bus::byte_release_scl(bool sda) {
  byte_lines(sda, true);
  if (!scl_) report("%s", kClockHeld);
}

// A byte still waiting for SCL is finished first, clock held or not: the
// controller was told to go on without waiting for it. Behind a START or
// STOP that waits for a slave's stretched clock the next `steps` are queued
// instead, as the controller's clock generator makes them in turn.
void Bus::new_program(int steps) {
  if (byte_waiting() && program_.condition &&
      program_.count - program_.at + steps <= static_cast<int>(program_.steps.size())) {
    Program rest;
    rest.condition = true;
    for (int at = program_.at; at < program_.count; ++at) {
      rest.steps[static_cast<std::size_t>(rest.count++)] =
          program_.steps[static_cast<std::size_t>(at)];
    }
    program_ = rest;
    return;
  }
  finish_byte();
  program_ = Program{};
}

// Where the byte face's lines stand once what it has queued is done.
Bus::LineMaster Bus::planned_lines() const {
  if (!byte_waiting()) return byte_master_;
  const Step& last = program_.steps[static_cast<std::size_t>(program_.count - 1)];
  return LineMaster{!last.sda, !last.scl};
}

// A START or STOP while a slave stretches SCL: the controller synchronises
// its clock for conditions as for bits, so the condition waits for the
// clock and goes on when the slave lets go.
void Bus::queue_condition(bool start) {
  if (!byte_waiting()) abandon_unfinished_read(start ? "START" : "STOP");
  new_program(5);
  const LineMaster at = planned_lines();
  Program& p = program_;
  p.condition = true;
  if (start) {
    if (at.scl_low) {
      p.add(true, false);
    } else if (at.sda_low) {
      p.add(false, false);
      p.add(true, false);
    }
    p.add(true, true);
    p.add(false, true);
    p.add(false, false);
  } else {
    if (!at.scl_low && !at.sda_low) return;
    if (at.scl_low) p.add(false, false);
    p.add(false, true);
    p.add(true, true);
  }
  run_program(false);
}

void Bus::run_program(bool forced) {
  program_running_ = true;
  while (program_.at < program_.count) {
    const Step& step = program_.steps[static_cast<std::size_t>(program_.at)];
    byte_lines(step.sda, step.scl);
    if (step.scl && !scl_) {
      // Another master holds the clock low: wait for it (clock
      // synchronisation), unless told to go on.
      if (!forced) break;
      report("%s", kClockHeld);
    }
    ++program_.at;
    switch (step.check) {
      case Check::bit_out:
        if (step.sda && !sda_) {
          // Someone else drives a 0 where we send a 1: arbitration lost.
          program_.lost = true;
          program_.at = program_.count;
          byte_lines(true, true);
        }
        break;
      case Check::bit_in:
        program_.value = static_cast<std::uint8_t>((program_.value << 1) | (sda_ ? 1 : 0));
        break;
      case Check::ack_in:
        program_.acked = !sda_;
        break;
      case Check::none:
        break;
    }
  }
  program_running_ = false;
}

// A controller told to make a condition while the slave still sends (the
// last byte read was ACKed) cannot get SDA back on real wires. The byte face
// tells the fault and lets the slave drop out so the condition goes through.
void Bus::abandon_unfinished_read(const char* condition) {
  if (phase_ != Phase::slave_sends || !master_acked_ || clocks_ != 0) return;
  report("%s while the slave sends: the last byte read must be answered "
         "with NACK",
         condition);
  phase_ = Phase::ignoring;
  slave_sda_low_ = false;
  settle();
}

// The edges of a byte matter only to a waveform, to the timing checker, to
// another master or a fault on the same wires (clock stretching by a
// master or a slave, a line held low, a condition in the wrong place), or
// when the slaves are somewhere inside a frame. Between two frames, with the controller alone on the lines, its nine
// clocks end the same way every time: the receiver has taken the byte and
// answered it, and the ninth clock has fallen.
bool Bus::edges_unobserved() const {
  return !every_edge_ && !waveform_ && !timing_ && !sda_held_ && !stretchers_ && clocks_ == 0 &&
         sda_pulls_ == (byte_master_.sda_low ? 1u : 0u) &&
         scl_pulls_ == (byte_master_.scl_low ? 1u : 0u);
}

// Where nine clocks leave the wires: the ninth clock has fallen, the
// controller holds SCL low with SDA released, and SDA shows what the slave
// now drives (the first bit of its next byte, or nothing).
void Bus::byte_done_at_once() {
  ++bytes_without_edges_;
  frame_over();
  byte_master_ = LineMaster{false, true};
  sda_pulls_ = 0;
  scl_pulls_ = 1;
  scl_ = false;
  sda_ = !slave_sda_low_;
}

// Address, data byte, or a byte nobody listens to: the slaves see the
// eighth bit end, and the acknowledge is what the receiver drives then.
bool Bus::write_at_once(std::uint8_t byte) {
  shift_in_ = byte;
  eighth_bit_over();
  const bool acked = slave_sda_low_;
  byte_done_at_once();
  return acked;
}

// The slave already drives the first bit of the byte it loaded; the master
// samples all eight and answers, and the slave loads the next or lets go.
std::uint8_t Bus::read_at_once(bool ack) {
  const std::uint8_t value = shift_out_;
  master_acked_ = ack;
  byte_done_at_once();
  return value;
}

void Bus::start() {
  if (behind_stretch()) return queue_condition(true);
  finish_byte();
  abandon_unfinished_read("START");
  if (byte_master_.scl_low) {
    byte_lines(true, false);
  } else if (byte_master_.sda_low) {
    // A START that no byte followed: clock low, then set up again.
    byte_lines(false, false);
    byte_lines(true, false);
  }
  byte_release_scl(true);
  byte_lines(false, true);
  byte_lines(false, false);
}

bool Bus::write(std::uint8_t byte) {
  new_program(28);
  if (!slave_sda_low_ && edges_unobserved() &&
      (phase_ == Phase::address || phase_ == Phase::master_writes ||
       phase_ == Phase::ignoring)) {
    program_.acked = write_at_once(byte);
    return program_.acked;
  }
  Program& p = program_;
  const LineMaster at = planned_lines();
  if (!at.scl_low) p.add(!at.sda_low, false);
  for (int bit = 7; bit >= 0; --bit) {
    const bool sda = ((byte >> bit) & 1) != 0;
    p.add(sda, false);
    p.add(sda, true, Check::bit_out);
    p.add(sda, false);
  }
  p.add(true, false);
  p.add(true, true, Check::ack_in);
  p.add(true, false);
  run_program(false);
  return p.acked;
}

std::uint8_t Bus::read(bool ack) {
  new_program(22);
  if (phase_ == Phase::slave_sends && master_acked_ && edges_unobserved()) {
    program_.value = read_at_once(ack);
    return program_.value;
  }
  Program& p = program_;
  const LineMaster at = planned_lines();
  if (!at.scl_low) p.add(!at.sda_low, false);
  p.add(true, false);
  for (int bit = 0; bit < 8; ++bit) {
    p.add(true, true, Check::bit_in);
    p.add(true, false);
  }
  p.add(!ack, false);
  p.add(!ack, true);
  p.add(!ack, false);
  p.add(true, false);
  run_program(false);
  return p.value;
}

void Bus::stop() {
  if (behind_stretch()) return queue_condition(false);
  finish_byte();
  if (!byte_master_.scl_low && !byte_master_.sda_low) return;
  abandon_unfinished_read("STOP");
  if (byte_master_.scl_low) byte_lines(false, false);
  byte_release_scl(false);
  byte_lines(true, true);
}

}  // namespace sim
