// The simulated PCF8584: register selection, the bus conditions and byte
// transfers its commands make, and the status it shows.
#include "sim/bench/pcf8584_model.h"

#include <algorithm>
#include <array>

#include "hardware/pcf8584_registers.h"
#include "sim/bus/i2c_bus.h"

namespace sim {

using namespace pcf8584_registers;

namespace {

// What a read of a register the card does not decode returns: nothing
// drives the ISA data lines.
constexpr std::uint8_t kFloating = 0xFF;
constexpr std::uint8_t kReadBit = 0x01;

// A byte and its acknowledge: nine SCL periods at the rate S21 S20 select
// (about 90, 45, 11 and 1.5 kHz with the prescaler set for the input clock).
constexpr std::array<std::uint32_t, 4> kByteTimeUs{100, 200, 818, 6000};
constexpr std::uint8_t kSclRateBits = 0x03;
constexpr std::uint32_t kEdgesPerByte = 18;
// No own address: matches no address byte (bit 0 is always compared clear).
constexpr std::uint8_t kNoAddress = 0xFF;

}  // namespace

Pcf8584Model::Pcf8584Model(Bus& bus, CardFaults faults)
    : bus_(bus), faults_(faults) {
  faults_.pin_polls = std::max(faults_.pin_polls, 0);
  bus_.attach_roaming(&own_face_);
  bus_.byte_half_period(kByteTimeUs[0] / kEdgesPerByte);
}

std::uint8_t Pcf8584Model::OwnAddress::address() const {
  const Pcf8584Model& card = card_;
  if (!(card.control_ & ES0) || !card.own_address_loaded_ || card.master_) return kNoAddress;
  return static_cast<std::uint8_t>(card.own_address_ << 1);
}

void Pcf8584Model::OwnAddress::on_selected(bool /*read*/) {
  card_.flags_ |= AAS;
  card_.pin_ = false;
}

bool Pcf8584Model::OwnAddress::on_write(std::uint8_t byte) {
  card_.data_ = byte;
  card_.pin_ = false;
  return (card_.control_ & ACK) != 0;
}

std::uint8_t Pcf8584Model::OwnAddress::on_read() {
  card_.pin_ = false;
  return card_.data_;
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
  flags_ &= static_cast<std::uint8_t>(~AAS);
  if (value & PIN) {
    // Writing PIN = 1 is the controller's software reset of its status.
    if (byte_open_) byte_over();
    pin_ = true;
    flags_ &= static_cast<std::uint8_t>(~(BER | LRB | LAB));
  }

  if (!(value & ES0)) {
    if (byte_open_) byte_over();
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
  if (faults_.bus_error) flags_ |= BER;
}

void Pcf8584Model::make_stop() {
  // A STOP command while not master has nothing to close on the bus.
  if (master_) {
    bus_.stop();
    master_ = false;
    address_pending_ = false;
    receiving_ = false;
  }
  if (faults_.bus_error) flags_ |= BER;
}

void Pcf8584Model::write_data(std::uint8_t value) {
  flags_ &= static_cast<std::uint8_t>(~AAS);
  if (!(control_ & ES0)) {
    std::uint8_t& behind = register_behind_s0();
    behind = &behind == &clock_ ? value & kClockBits : value;
    if (&behind == &own_address_) own_address_loaded_ = true;
    if (&behind == &clock_) {
      bus_.byte_half_period(kByteTimeUs[clock_ & kSclRateBits] / kEdgesPerByte);
    }
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
  flags_ &= static_cast<std::uint8_t>(~AAS);
  // A host that reads S0 before PIN cleared gets the byte as it stands.
  if (byte_open_) byte_over();
  if (master_ && receiving_ && !address_pending_) return receive();
  return data_;
}

void Pcf8584Model::transmit(std::uint8_t byte, bool is_address) {
  if (byte_open_) byte_over();
  data_ = byte;
  bus_.write(byte);
  byte_received_ = false;
  if (is_address) {
    address_pending_ = false;
    receiving_ = (byte & kReadBit) != 0;
  }
  byte_transfer_started();
  // A lost arbitration ends the byte there and then.
  if (!bus_.byte_waiting() && bus_.arbitration_lost()) byte_end_ = bus_.time();
}

std::uint8_t Pcf8584Model::receive() {
  // S0 is handed over as it stands (after the address: whatever it held)
  // and the next byte is clocked in behind it.
  const std::uint8_t handed_over = data_;
  const bool ack = (control_ & ACK) != 0;
  bus_.read(ack);
  byte_received_ = true;
  byte_ack_ = ack;
  byte_transfer_started();
  return handed_over;
}

void Pcf8584Model::byte_transfer_started() {
  pin_ = false;
  byte_open_ = true;
  byte_end_ = bus_.time() + kByteTimeUs[clock_ & kSclRateBits];
  pin_shown_reads_ = 0;
}

// The ninth clock is over: S0 and the status show how the byte went.
void Pcf8584Model::byte_over() {
  bus_.finish_byte();
  byte_open_ = false;
  if (byte_received_) {
    data_ = bus_.byte_value();
    // The ninth bit on the bus is our own answer.
    show(LRB, !byte_ack_);
    return;
  }
  show(LRB, !bus_.byte_acked());
  if (bus_.arbitration_lost()) {
    // Nobody acknowledged us; the card is no longer master of the bus.
    flags_ |= LAB | LRB;
    master_ = false;
    address_pending_ = false;
    receiving_ = false;
  }
}

std::uint8_t Pcf8584Model::read_status() {
  if (byte_open_) {
    // Most status reads are polls while the byte is still on the wire.
    if (bus_.time() < byte_end_ || pin_shown_reads_ < faults_.pin_polls || bus_.byte_waiting()) {
      ++pin_shown_reads_;
    } else {
      byte_over();
    }
  }
  const bool pin_shown = byte_open_ || pin_;
  if (!(control_ & ES0)) {
    // With the serial interface off, S1 reads back as the control register.
    return static_cast<std::uint8_t>((pin_shown ? PIN : 0) | control_);
  }
  std::uint8_t status = 0;
  if (pin_shown) status |= PIN;
  if (!own_address_loaded_) status |= INI;
  status |= flags_;
  // BB: any master's START on the bus until its STOP.
  if (!master_ && !bus_.busy() && !faults_.bus_busy) status |= BB;
  return status;
}

}  // namespace sim
