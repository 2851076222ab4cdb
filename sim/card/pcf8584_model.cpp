// The simulated PCF8584: register selection, the bus conditions and byte
// transfers its commands make, and the status it shows.
#include "sim/card/pcf8584_model.h"

#include <algorithm>

#include "hardware/pcf8584_registers.h"
#include "sim/bus/i2c_bus.h"

namespace sim {

using namespace pcf8584_registers;

namespace {

// What a read of a register the card does not decode returns: nothing
// drives the ISA data lines.
constexpr std::uint8_t kFloating = 0xFF;
constexpr std::uint8_t kReadBit = 0x01;

}  // namespace

Pcf8584Model::Pcf8584Model(Bus& bus, CardFaults faults)
    : bus_(bus), faults_(faults) {
  faults_.pin_polls = std::max(faults_.pin_polls, 0);
}

std::uint8_t Pcf8584Model::read(unsigned reg) {
  if (reg == kS0) return read_data();
  if (reg == kS1) return read_status();
  return kFloating;
}

void Pcf8584Model::write(unsigned reg, std::uint8_t value) {
  if (reg == kS0) write_data(value);
  else if (reg == kS1) write_control(value);
}

std::uint8_t& Pcf8584Model::register_behind_s0() {
  if (control_ & ES1) return clock_;
  if (control_ & ES2) return vector_;
  return own_address_;
}

void Pcf8584Model::write_control(std::uint8_t value) {
  control_ = value & static_cast<std::uint8_t>(~PIN);
  if (value & PIN) {
    // Writing PIN = 1 is the controller's software reset of its status.
    pin_ = true;
    pin_held_reads_ = 0;
    ber_ = false;
    lrb_ = false;
  }

  if (!(value & ES0)) {
    // The serial interface lets go of SDA and SCL; a transfer still open
    // ends the way released lines end it, with a STOP.
    if (master_) {
      bus_.stop();
      master_ = false;
      address_pending_ = false;
      receiving_ = false;
    }
    return;
  }

  const bool start = value & STA;
  const bool stop = value & STO;
  if (start && stop) {
    // Data chaining: the STOP closes the frame we are master of; with no
    // frame open only the START is made.
    if (master_) make_stop();
    make_start();
  } else if (start) {
    make_start();
  } else if (stop) {
    make_stop();
  }

  // With PIN set, a START is followed at once by the byte already in S0;
  // without it the address waits for the next write to S0.
  if (start && (value & PIN)) transmit(data_, true);
}

void Pcf8584Model::make_start() {
  bus_.start();
  master_ = true;
  address_pending_ = true;
  receiving_ = false;
  if (faults_.bus_error) ber_ = true;
}

void Pcf8584Model::make_stop() {
  // A STOP command while not master has nothing to close on the bus.
  if (master_) {
    bus_.stop();
    master_ = false;
    address_pending_ = false;
    receiving_ = false;
  }
  if (faults_.bus_error) ber_ = true;
}

void Pcf8584Model::write_data(std::uint8_t value) {
  if (!(control_ & ES0)) {
    std::uint8_t& behind = register_behind_s0();
    behind = &behind == &clock_ ? value & kClockBits : value;
    if (&behind == &own_address_) own_address_loaded_ = true;
    return;
  }
  if (master_ && address_pending_) {
    transmit(value, true);
  } else if (master_ && !receiving_) {
    transmit(value, false);
  } else {
    // No transfer open, or we are the receiver: the byte only loads S0.
    data_ = value;
  }
}

std::uint8_t Pcf8584Model::read_data() {
  if (!(control_ & ES0)) return register_behind_s0();
  if (master_ && receiving_ && !address_pending_) return receive();
  return data_;
}

void Pcf8584Model::transmit(std::uint8_t byte, bool is_address) {
  data_ = byte;
  lrb_ = !bus_.write(byte);
  if (is_address) {
    address_pending_ = false;
    receiving_ = (byte & kReadBit) != 0;
  }
  byte_transfer_started();
}

std::uint8_t Pcf8584Model::receive() {
  // S0 is handed over as it stands (after the address: whatever it held)
  // and the next byte is clocked in behind it.
  const std::uint8_t handed_over = data_;
  const bool ack = (control_ & ACK) != 0;
  data_ = bus_.read(ack);
  // The ninth bit on the bus is our own answer now.
  lrb_ = !ack;
  byte_transfer_started();
  return handed_over;
}

void Pcf8584Model::byte_transfer_started() {
  pin_ = false;
  pin_held_reads_ = faults_.pin_polls;
}

std::uint8_t Pcf8584Model::read_status() {
  bool pin_shown = pin_;
  if (!(control_ & ES0)) {
    // With the serial interface off, S1 reads back as the control register.
    return static_cast<std::uint8_t>((pin_shown ? PIN : 0) | control_);
  }
  if (pin_held_reads_ > 0) {
    pin_shown = true;
    --pin_held_reads_;
  }
  std::uint8_t status = 0;
  if (pin_shown) status |= PIN;
  if (!own_address_loaded_) status |= INI;
  if (ber_) status |= BER;
  if (lrb_) status |= LRB;
  if (!master_ && !faults_.bus_busy) status |= BB;
  return status;
}

}  // namespace sim
