// The bench's I2C bus: the wires that the simulated masters and slaves share.
//
// It has two faces over one set of slave devices:
//  - the line face, for masters that switch SDA and SCL themselves (the
//    parallel port): open-drain, wired-AND with the slaves; the bus finds
//    START, repeated START and STOP in the edges, samples bits on SCL rising,
//    and lets the addressed slave pull SDA after SCL falls;
//  - the byte face, for controller models that make the conditions and move
//    whole bytes themselves (the PCF8584 card).
// Both faces reach the same devices, so a byte written through one can be
// read through the other.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/bus/bench_clock.h"
#include "sim/bus/timing_check.h"

namespace sim {

class Waveform;

// A slave device. The bus turns whatever the masters do into these events.
class Device {
 public:
  virtual ~Device() = default;
  // The 8-bit write address the device answers to (bit 0 clear).
  virtual std::uint8_t address() const = 0;
  // A START or repeated START appeared on the bus (told to every device).
  virtual void on_start() {}
  // False while the device does not acknowledge its own address (an
  // EEPROM inside its write cycle); it is then not selected.
  virtual bool answers() { return true; }
  // The device was addressed; `read` is the direction bit of the address.
  virtual void on_selected(bool /*read*/) {}
  // The master wrote a data byte to the device; true acknowledges it.
  virtual bool on_write(std::uint8_t byte) = 0;
  // The master reads: the device hands over its next byte.
  virtual std::uint8_t on_read() = 0;
  // A STOP appeared on the bus (told to every device).
  virtual void on_stop() {}
  // Bench us the device holds SCL low after each byte and after each
  // acknowledge while it is addressed (clock stretching, as a
  // microcontroller slave does while its firmware handles the byte); 0 for
  // a part that keeps pace with any clock.
  virtual std::uint32_t stretch_us() const { return 0; }
};

class Bus {
 public:
  Bus();
  ~Bus();
  Bus(const Bus&) = delete;
  Bus& operator=(const Bus&) = delete;

  // A second device on an address already taken is told of START and STOP
  // but never addressed: the first one answers.
  void attach(std::unique_ptr<Device> device);
  // A slave whose address can change while the bench runs (a controller's
  // own address), owned elsewhere; asked when no attached device answers.
  // It is told of START and STOP too.
  void attach_roaming(Device* device) { roaming_ = device; }
  // The device answering to this 8-bit address (bit 0 ignored), or null.
  Device* device_at(std::uint8_t address) const;

  // ---- byte face ----
  // The byte face is one more master on the same wires: every call below
  // acts as if clocked out edge by edge, so the slaves, the violation checks
  // and the waveform see exactly what a controller chip would put on the
  // lines. When nothing can tell the edges apart (no waveform, no other
  // master or fault on the lines, the slaves between two bytes), a byte's
  // outcome is applied at once instead, with the same events and levels.
  // START, or repeated START when a transfer is already open.
  void start();
  // One byte from the master; true when a slave acknowledged it.
  bool write(std::uint8_t byte);
  // One byte to the master, which answers it with ACK (true) or NACK.
  std::uint8_t read(bool ack);
  void stop();
  // While another master holds SCL low the byte face waits (clock
  // synchronisation): the byte goes on when SCL is released, and until then
  // write() and read() gave no outcome. These tell it once the byte is over.
  bool byte_waiting() const { return program_.at < program_.count; }
  // Ends a waiting byte at once, clock held or not (a fault: told as one).
  void finish_byte() {
    if (byte_waiting()) run_program(true);
  }
  bool byte_acked() const { return program_.acked; }
  std::uint8_t byte_value() const { return program_.value; }
  // The last byte written lost arbitration: the byte face sent a 1 while
  // SDA read 0, and let go of both lines.
  bool arbitration_lost() const { return program_.lost; }
  // Half an SCL period of the byte face in us: its edges are spaced so in
  // the waveform (0: one edge per us, packed together).
  void byte_half_period(std::uint32_t us) { half_period_us_ = us; }
  // A START was seen on the wires and no STOP since, whichever master made it.
  bool busy() const { return busy_; }

  // ---- line face ----
  // Registers a master that drives the lines; both released at first.
  int add_line_master();
  // What master `id` does with the lines: true releases, false pulls low.
  void drive(int id, bool sda, bool scl);
  // The levels on the bus now: every master, slave and fault wired-AND.
  // SCL reads low while a slave stretches it, whoever released it.
  bool sda() const { return sda_; }
  bool scl() const { return scl_; }
  // A slave holds SCL low right now.
  bool clock_stretched() const { return slave_scl_low_; }

  // A fault that holds SDA low whatever anyone drives.
  void hold_sda_low(bool held);
  // A fault: a slave stranded mid-read by a master reset, driving a 0 on SDA
  // with SCL high, which reads high again only once the master has made
  // `clocks` (1 to 9) SCL pulses: the slave's byte (all 0) is then clocked
  // out and the pulse's high is the acknowledge slot (see
  // stranded_slave.cpp). 0 strands nothing.
  void strand_slave(unsigned clocks);
  // A fault in every slave: each refuses (NACKs) the n-th data byte written
  // to it after its address, counted from 1, and then ignores the rest of
  // the transfer until the next START or STOP. 0 turns it off.
  void refuse_data_byte(unsigned n) { refused_byte_ = n; }

  // For tests: the byte face clocks every byte edge by edge even when
  // nothing could observe the edges; and how many bytes it moved without.
  void clock_every_edge(bool always) { every_edge_ = always; }
  std::uint64_t bytes_without_edges() const { return bytes_without_edges_; }

  // ---- observation ----
  // One port access: bench time advances (see BenchClock), and a slave
  // whose stretch is over lets SCL go before the access is served.
  void tick() {
    clock_.tick();
    if (clock_.now() >= stretch_until_) end_stretch();
  }
  // Bench time in us.
  std::uint64_t time() const { return clock_.now(); }
  BenchClock& clock() { return clock_; }
  const BenchClock& clock() const { return clock_; }
  // Draws the SDA/SCL levels into a VCD file from now on.
  void record_waveform(std::unique_ptr<Waveform> waveform);
  // Receives one line per protocol violation, each beginning with "! ".
  void on_violation(std::function<void(std::string_view)> sink);
  std::uint64_t violations() const { return violations_; }

  // ---- timing ----
  // Measures every phase of the bus against the I2C-bus standard's
  // minimums for `mode` (see TimingCheck); off, the bus measures nothing.
  // Each phase too short is one line, beginning with "! timing:", to the
  // timing sink (or, without one, the violation sink) and a mark on the
  // waveform's `timing` wire at its edge (when the recording began after
  // this call). Strict, the transfer it happened in fails as it
  // would on wires the slaves misread: from the next fall of SCL on, the
  // addressed slave lets go of SDA and ignores the rest until a START or
  // STOP, so it NACKs what is written and what is read reads FF.
  void check_timing(TimingMode mode, bool strict);
  void on_timing_violation(std::function<void(TimingParameter, std::string_view)> sink);
  std::uint64_t timing_violations() const { return timing_violations_; }
  std::uint64_t timing_violations(TimingParameter parameter) const {
    return timing_counts_[static_cast<std::size_t>(parameter)];
  }
  TimingMode timing_mode() const { return timing_ ? timing_->mode() : TimingMode::off; }

 private:
  // Where the slave side of the bus stands within a transfer.
  enum class Phase : std::uint8_t {
    idle,           // no START seen since the last STOP
    address,        // clocking in the byte after a START
    master_writes,  // the addressed slave receives data bytes
    slave_sends,    // the addressed slave transmits data bytes
    ignoring,       // nobody addressed, or the master NACKed: wait for START/STOP
  };
  struct LineMaster {
    bool sda_low = false;
    bool scl_low = false;
  };

  void set_master(LineMaster& master, bool sda, bool scl);
  void settle();
  void clock_rose();
  void clock_fell();
  void eighth_bit_over();
  void frame_over();
  bool slave_takes(std::uint8_t byte);
  void start_seen();
  void stop_seen();
  void begin_frame(Phase phase);
  void address_received();
  void check_condition_placement(const char* condition);
  void stretch_if_slave_does();
  void timing_violated(const TimingViolation& violation);
  void timing_sda_edge();
  void mark_timing();
  [[gnu::noinline]] void end_stretch();
  bool byte_face_alone_on_scl() const {
    return !slave_scl_low_ && scl_pulls_ == (byte_master_.scl_low ? 1u : 0u);
  }
  void report(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // A byte of the byte face as the line steps it takes, so that it can
  // wait in the middle for a clock held low and go on later.
  enum class Check : std::uint8_t { none, bit_out, bit_in, ack_in };
  struct Step {
    bool sda;
    bool scl;
    Check check;
  };
  struct Program {
    std::array<Step, 32> steps{};
    int count = 0;
    int at = 0;
    std::uint8_t value = 0;
    bool acked = false;
    bool lost = false;
    bool condition = false;  // holds a START or STOP that waits for SCL
    void add(bool sda, bool scl, Check check = Check::none) {
      steps[static_cast<std::size_t>(count++)] = Step{sda, scl, check};
    }
  };
  void new_program(int steps = 0);
  void run_program(bool forced);
  bool behind_stretch() const { return slave_scl_low_ || (byte_waiting() && program_.condition); }
  void queue_condition(bool start);
  LineMaster planned_lines() const;
  std::uint64_t stamp() const { return edge_at_ > clock_.now() ? edge_at_ : clock_.now(); }

  // Byte-face helpers: one edge each.
  void byte_lines(bool sda, bool scl);
  void byte_release_scl(bool sda);
  void abandon_unfinished_read(const char* condition);
  // Byte-face shortcut: whole bytes without the edges.
  bool edges_unobserved() const;
  void byte_done_at_once();
  bool write_at_once(std::uint8_t byte);
  std::uint8_t read_at_once(bool ack);

  BenchClock clock_;
  bool sda_ = true;
  bool scl_ = true;

  // Wired-AND: how many drivers pull each line low right now.
  unsigned sda_pulls_ = 0;  // masters only (line face and byte face)
  unsigned scl_pulls_ = 0;
  bool slave_sda_low_ = false;
  bool sda_held_ = false;
  // Clock stretching: the addressed slave holds SCL low until this bench
  // time (never, while nobody stretches).
  static constexpr std::uint64_t kNoStretch = ~std::uint64_t{0};
  bool slave_scl_low_ = false;
  std::uint64_t stretch_until_ = kNoStretch;
  bool stretchers_ = false;  // a device that stretches is attached
  std::vector<LineMaster> line_masters_;
  LineMaster byte_master_;

  std::vector<std::unique_ptr<Device>> devices_;
  std::array<Device*, 128> by_address_{};

  Phase phase_ = Phase::idle;
  int clocks_ = 0;             // SCL rises in the current 9-clock frame
  std::uint8_t shift_in_ = 0;  // what the bits sampled so far spell
  std::uint8_t shift_out_ = 0;  // the byte the selected slave is sending
  bool master_acked_ = false;  // slave_sends: the master wants another byte
  bool frame_faulted_ = false;  // a violation was already told for this frame
  Device* selected_ = nullptr;
  Device* roaming_ = nullptr;
  bool busy_ = false;
  Program program_;
  bool program_running_ = false;
  std::uint32_t half_period_us_ = 0;
  std::uint64_t edge_at_ = 0;  // bench time of the byte face's last edge
  unsigned refused_byte_ = 0;  // fault: the data byte every slave NACKs
  unsigned bytes_taken_ = 0;   // data bytes since the address, up to that one
  bool every_edge_ = false;
  std::uint64_t bytes_without_edges_ = 0;

  std::unique_ptr<TimingCheck> timing_;
  bool timing_strict_ = false;
  bool strict_broken_ = false;  // a violation waits to end the transfer at the next fall
  std::uint64_t timing_violations_ = 0;
  std::array<std::uint64_t, kTimingParameters> timing_counts_{};
  std::function<void(TimingParameter, std::string_view)> timing_sink_;
  bool timing_marked_ = false;  // the waveform marks the edge once it is recorded

  std::unique_ptr<Waveform> waveform_;
  std::function<void(std::string_view)> violation_sink_;
  std::uint64_t violations_ = 0;
};

}  // namespace sim
