// A slave stranded mid-read: the master that was reading from it was reset
// (a host killed, a PC rebooted) between two clocks, so the slave still
// drives the 0 bit it had put on SDA and waits for the clock to go on. It
// sends the rest of its byte on the next clocks and lets go of SDA for the
// acknowledge slot; a master that leaves SDA high there (NACK) ends the
// read, and the STOP after it frees the bus. This is what a bus recovery
// (up to nine clocks, then STOP) is for; nothing else frees the bus, since
// no START can be made while SDA is held low.
#include "sim/bus/i2c_bus.h"
#include "sim/bus/waveform.h"

namespace sim {

namespace {

// The stranded slave's byte and every one after it read 00: SDA held low
// for the longest time the bits left allow.
class Stranded final : public Device {
 public:
  std::uint8_t address() const override { return 0xFF; }
  bool on_write(std::uint8_t) override { return false; }
  std::uint8_t on_read() override { return 0x00; }
};

Stranded stranded;  // holds no state: one serves every bus

}  // namespace

// The master's reset let SCL go, and that rise clocked the bit on SDA: the
// slave stands with 9 - clocks rises of its frame made, each pulse after it
// sends one more 0, and the fall that ends the eighth bit lets SDA go, so
// SDA reads high in the acknowledge slot of the `clocks`-th pulse.
void Bus::strand_slave(unsigned clocks) {
  if (clocks == 0 || clocks > 9) return;
  phase_ = Phase::slave_sends;
  selected_ = &stranded;
  clocks_ = static_cast<int>(9 - clocks);
  shift_in_ = 0;
  shift_out_ = 0x00;
  master_acked_ = true;
  frame_faulted_ = false;
  slave_sda_low_ = true;
  // The line was already low when the bench came to it: no edge, so the
  // slaves read no START into it.
  const bool was_sda = sda_;
  sda_ = false;
  if (waveform_ && was_sda) waveform_->change(stamp(), scl_, sda_);
}

}  // namespace sim
