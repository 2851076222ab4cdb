// Bit-banged I2C over the three line routines of a wiring row. The master never reads the clock
// back: no clock stretching, no bus-busy test, no arbitration. Every bit is
// spaced by port delays, three per bit; nothing sleeps.
#include "library/adapters/parallel_bus.h"

#include "library/state/library_state.h"

namespace parallel_bus {
namespace {

constexpr int kBitsPerByte = 8;
constexpr int kSettleDelays = 10;
constexpr std::uint8_t kReadBit = 0x01;
constexpr std::uint8_t kWriteAddressMask = 0xFE;

std::int16_t bus_open = 0;
// Set once a byte has moved since the last start condition: the next
// address byte then needs a repeated start first.
std::int16_t traffic = 0;
std::int16_t last_address = 0;
// Set while a slave that acknowledged a read address has not yet been sent
// a NACK: it drives SDA with its next data bit whenever SCL falls.
std::int16_t slave_sending = 0;

void delay() { state::port_delay(); }

// Entered from the idle bus (or the end of a stop), both lines high.
void start_sequence(const wiring::Wiring& wired) {
  wiring::write_data(wired, kLow);  // SDA falls while SCL is high: start condition
  wiring::write_clock(wired, kHigh);
  delay();
  wiring::write_data(wired, kLow);
  wiring::write_clock(wired, kLow);
  delay();
}

// Entered with SCL low, as every byte leaves it.
void stop_sequence(const wiring::Wiring& wired) {
  wiring::write_data(wired, kHigh);
  delay();
  wiring::write_data(wired, kLow);
  wiring::write_clock(wired, kLow);
  delay();
  wiring::write_data(wired, kLow);
  wiring::write_clock(wired, kHigh);
  delay();
  wiring::write_data(wired, kHigh);  // SDA rises while SCL is high: stop condition
  delay();
}

// Bus free time after a stop condition.
void settle_wait() {
  for (int i = 0; i < kSettleDelays; ++i) delay();
}

// Gives the acknowledge bit: 0 when the slave pulled SDA low, 1 when not.
std::uint8_t byte_out(const wiring::Wiring& wired, std::uint8_t byte) {
  for (int bit = kBitsPerByte - 1; bit >= 0; --bit) {
    wiring::write_data(wired, static_cast<std::uint8_t>((byte >> bit) & 1U));
    wiring::write_clock(wired, kLow);
    delay();
    wiring::write_clock(wired, kHigh);  // the slave samples SDA on this edge
    delay();
    wiring::write_clock(wired, kLow);
    delay();
  }
  // SDA released so that the slave can pull it low for the ninth clock.
  wiring::write_data(wired, kHigh);
  wiring::write_clock(wired, kLow);
  wiring::write_clock(wired, kHigh);
  delay();
  const std::uint8_t acknowledge = wiring::read_data(wired);
  wiring::write_clock(wired, kLow);
  delay();
  delay();
  traffic = 1;
  return acknowledge;
}

// `acknowledge` 1 answers the byte with ACK (the slave goes on), any other
// value with NACK (the slave lets go of SDA for a stop or restart).
std::uint8_t byte_in(const wiring::Wiring& wired, std::int16_t acknowledge) {
  std::uint8_t value = 0;
  for (int bit = 0; bit < kBitsPerByte; ++bit) {
    wiring::write_data(wired, kHigh);  // released: the slave drives the bit
    wiring::write_clock(wired, kLow);
    delay();
    wiring::write_clock(wired, kHigh);
    delay();
    value = static_cast<std::uint8_t>((value << 1) | (wiring::read_data(wired) & 1U));
    wiring::write_clock(wired, kLow);
    delay();
  }
  delay();
  wiring::write_data(wired, kLow);
  wiring::write_clock(wired, kLow);
  wiring::write_data(wired, acknowledge == 1 ? kLow : kHigh);
  wiring::write_clock(wired, kHigh);
  delay();
  wiring::write_clock(wired, kLow);
  delay();
  wiring::write_data(wired, kHigh);
  traffic = 1;
  delay();
  delay();
  return value;
}

// A slave left sending after its read address may hold SDA low through
// the clock pulse of the stop sequence, so that no stop condition (and no
// following start condition or address) reaches the bus. One byte read and
// answered with NACK makes it let go of the line.
void release_sending_slave(const wiring::Wiring& wired) {
  if (slave_sending == 0) return;
  byte_in(wired, 0);
  slave_sending = 0;
}

}  // namespace

std::int16_t start(const wiring::Wiring& wired) {
  if (bus_open == 0) {
    if (!state::take_slot(state::kParallelSlot)) return kSlotNotObtained;
  } else {
    // A restart keeps the slot: this process holds it until the stop.
    release_sending_slave(wired);
    stop_sequence(wired);
    settle_wait();
  }
  start_sequence(wired);
  traffic = 0;
  bus_open = 1;
  return kOk;
}

std::int16_t stop(const wiring::Wiring& wired) {
  if (bus_open == 0) return kOk;
  release_sending_slave(wired);
  stop_sequence(wired);
  bus_open = 0;
  settle_wait();
  state::give_slot(state::kParallelSlot);
  return kOk;
}

std::int16_t address(const wiring::Wiring& wired, std::int16_t value) {
  if (bus_open == 0) return kBusNotOpen;
  // Every restart is a full stop, settle wait and start; the open bus
  // cannot fail to restart.
  if (traffic != 0) start(wired);
  last_address = value;
  const std::uint8_t acknowledge =
      byte_out(wired, static_cast<std::uint8_t>(value));
  slave_sending = (value & kReadBit) != 0 && acknowledge == 0 ? 1 : 0;
  return acknowledge != 0 ? kNotAcknowledged : kOk;
}

std::int16_t send(const wiring::Wiring& wired, std::int16_t count,
                  const std::uint8_t* data) {
  if (bus_open == 0) return kBusNotOpen;
  if (count < 0 || (count > 0 && data == nullptr)) return kRefused;
  if ((last_address & kReadBit) != 0) {
    const auto write_address =
        static_cast<std::int16_t>(last_address & kWriteAddressMask);
    if (address(wired, write_address) != kOk) return kRefused;
  }
  std::int16_t acknowledged = 0;
  while (acknowledged < count) {
    if (byte_out(wired, data[acknowledged]) != 0) break;
    ++acknowledged;
  }
  return acknowledged;
}

std::int16_t read(const wiring::Wiring& wired, std::int16_t count,
                  std::uint8_t* buffer) {
  if (bus_open == 0) return kBusNotOpen;
  if (count < 1 || buffer == nullptr) return kRefused;
  if ((last_address & kReadBit) == 0) {
    const auto read_address =
        static_cast<std::int16_t>(static_cast<std::uint8_t>(last_address | kReadBit));
    if (address(wired, read_address) != kOk) return kRefused;
  }
  for (std::int16_t i = 0; i < count - 1; ++i) buffer[i] = byte_in(wired, 1);
  buffer[count - 1] = byte_in(wired, 0);
  slave_sending = 0;
  return count;
}

void set_idle(const wiring::Wiring& wired) {
  wiring::write_data(wired, kHigh);
  wiring::write_clock(wired, kHigh);
}

void forget_transaction() {
  bus_open = 0;
  last_address = 0;
  slave_sending = 0;
}

}  // namespace parallel_bus
