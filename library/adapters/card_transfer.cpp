// PCF8584 transfers in the manner of the Linux kernel's i2c-algo-pcf:
//   first message   S0 = address, S1 = START (the address follows it)
//   later messages  S1 = repeated START (no PIN), then S0 = address
//   writes          S0 = byte, wait for PIN, LRB says whether it was taken
//   reads           each read of S0 hands over the byte received and
//                   clocks in the next; ACK is cleared in S1 before the read
//                   that clocks in the last byte, and the STOP or repeated
//                   START is written before the read that hands it over, so
//                   the slave never sends a byte more than asked
// The bus clock is set in S2 at every transfer, and the classic setting
// (90 kHz) put back after one that used another.
#include "library/adapters/card_transfer.h"

#include <algorithm>
#include <array>
#include <cerrno>

#include "dlportio.h"
#include "hardware/pcf8584_registers.h"
#include "library/adapters/bus_timing.h"
#include "platform/profile/profile.h"
#include "platform/scan.h"

namespace card_transfer {
namespace {

using namespace pcf8584_registers;

constexpr const char* kSection = "I2C Card";
constexpr std::size_t kValueSize = 80;
constexpr std::int64_t kNsPerMs = 1000000;
constexpr std::uint8_t kOwnAddress = 0x55;
constexpr std::uint8_t kReadBit = 0x01;

// S21 S20 with the 12 MHz clock input: the SCL rates of the data sheet.
struct Rate {
  std::int32_t hz;
  std::uint8_t bits;
};
constexpr std::array<Rate, 4> kRates{{{90000, 0x00}, {45000, S20}, {11000, S21}, {1500, S21 | S20}}};
constexpr std::uint8_t kClassicClock = kClockInput12MHz | kBus90kHz;

struct Card {
  bool loaded = false;
  bool own_address_set = false;
  std::uint16_t base = 0;
  std::int32_t pin_polls = 0;
  Rate rate = kRates[0];
};
Card card;

std::uint16_t port(unsigned reg) { return static_cast<std::uint16_t>(card.base + reg); }
void write_s0(std::uint8_t value) { DlPortWritePortUchar(port(kS0), value); }
void write_s1(std::uint8_t value) { DlPortWritePortUchar(port(kS1), value); }
std::uint8_t read_s0() { return DlPortReadPortUchar(port(kS0)); }
std::uint8_t read_s1() { return DlPortReadPortUchar(port(kS1)); }

const Rate& rate_for(std::int32_t hz) {
  for (const Rate& rate : kRates) {
    if (rate.hz <= hz) return rate;
  }
  return kRates.back();
}

void load() {
  if (card.loaded) return;
  char text[kValueSize];
  profile::get(kSection, "Base", "300", text, sizeof text);
  card.base = static_cast<std::uint16_t>(scan::hexadecimal(text).value_or(0x300));
  const std::int32_t access_ns =
      bus_timing::access_time_ns(static_cast<std::uint16_t>(card.base + 2));
  const bus_timing::Settings settings = bus_timing::read_settings(kSection, kRates.back().hz);
  card.pin_polls = std::max(1, bus_timing::accesses_for(settings.stretch_ms * kNsPerMs, access_ns));
  card.rate = rate_for(settings.hz);
  card.loaded = true;
}

// With the serial interface off, S0 reaches S2; the own address must be
// loaded once before the interface may be switched on.
void set_clock(std::uint8_t clock) {
  if (!card.own_address_set) {
    write_s1(kSelectOwnAddress);
    write_s0(kOwnAddress);
    card.own_address_set = true;
  }
  write_s1(kSelectClock);
  write_s0(clock);
  write_s1(kIdle);
}

// The status once PIN has cleared (the byte and its acknowledge are
// over), or -ETIMEDOUT.
std::int16_t wait_for_pin() {
  for (std::int32_t poll = 0; poll < card.pin_polls; ++poll) {
    const std::uint8_t status = read_s1();
    if ((status & PIN) == 0) return status;
  }
  return -ETIMEDOUT;
}

bool wait_for_free_bus() {
  for (std::int32_t poll = 0; poll < card.pin_polls; ++poll) {
    if ((read_s1() & BB) != 0) return true;
  }
  return false;
}

// -EAGAIN for a lost arbitration (the card is no longer master), -EIO for
// a misplaced START or STOP seen; else 0.
std::int16_t bus_trouble(std::int16_t status) {
  if ((status & LAB) != 0) return -EAGAIN;
  if ((status & BER) != 0) return -EIO;
  return 0;
}

// The end of a message: STOP after the last, else a repeated START whose
// address the next message writes.
void end_message(bool last) { write_s1(last ? kStop : kRepeatedStart); }

std::int16_t write_bytes(const tarnwick_msg& msg, bool last) {
  for (std::uint16_t at = 0; at < msg.len; ++at) {
    write_s0(msg.buf[at]);
    const std::int16_t status = wait_for_pin();
    if (status < 0) return status;
    if (const std::int16_t trouble = bus_trouble(status); trouble != 0) return trouble;
    if ((status & LRB) != 0) return -EIO;
  }
  end_message(last);
  return 0;
}

std::int16_t read_bytes(const tarnwick_msg& msg, bool last) {
  // The first read of S0 hands over nothing and clocks in the first byte.
  for (std::uint16_t at = 0; at <= msg.len; ++at) {
    if (at > 0) {
      const std::int16_t status = wait_for_pin();
      if (status < 0) return status;
      if (const std::int16_t trouble = bus_trouble(status); trouble != 0) return trouble;
    }
    if (at + 1 == msg.len) write_s1(kEnableNoAck);
    if (at == msg.len) end_message(last);
    const std::uint8_t value = read_s0();
    if (at > 0) msg.buf[at - 1] = value;
  }
  return 0;
}

std::int16_t messages(const tarnwick_msg* msgs, std::int16_t count) {
  for (std::int16_t i = 0; i < count; ++i) {
    const tarnwick_msg& msg = msgs[i];
    const bool reading = (msg.flags & TARNWICK_M_RD) != 0;
    write_s0(static_cast<std::uint8_t>((msg.addr << 1) | (reading ? kReadBit : 0)));
    if (i == 0) write_s1(kStart);
    const std::int16_t status = wait_for_pin();
    if (status < 0) return status;
    if (const std::int16_t trouble = bus_trouble(status); trouble != 0) return trouble;
    if ((status & LRB) != 0) return -ENXIO;
    const bool last = i + 1 == count;
    const std::int16_t result = reading ? read_bytes(msg, last) : write_bytes(msg, last);
    if (result < 0) return result;
  }
  return 0;
}

bool supported(const tarnwick_msg* msgs, std::int16_t count) {
  for (std::int16_t i = 0; i < count; ++i) {
    if ((msgs[i].flags & (TARNWICK_M_NOSTART | TARNWICK_M_IGNORE_NAK)) != 0) return false;
    // Straight after an address the controller cannot repeat the START.
    if (msgs[i].len == 0 && i + 1 < count) return false;
  }
  return true;
}

}  // namespace

std::int16_t transfer(const tarnwick_msg* msgs, std::int16_t count) {
  if (!supported(msgs, count)) return -EOPNOTSUPP;
  load();
  set_clock(static_cast<std::uint8_t>(kClockInput12MHz | card.rate.bits));
  std::int16_t result = -ETIMEDOUT;
  if (wait_for_free_bus()) {
    result = messages(msgs, count);
    // A lost arbitration left the card a slave: no STOP of ours. Any other
    // failure leaves the transaction open.
    if (result < 0 && result != -EAGAIN) write_s1(kStop);
  }
  if (card.rate.bits != kBus90kHz) {
    // Switching the interface off cuts a STOP still on the wire short.
    static_cast<void>(wait_for_free_bus());
    set_clock(kClassicClock);
  }
  return result < 0 ? result : count;
}

std::int32_t set_speed(std::int32_t hz) {
  if (hz != 0 && hz < kRates.back().hz) return -EINVAL;
  load();
  if (hz != 0) card.rate = rate_for(hz);
  return card.rate.hz;
}

std::int16_t recover() { return -EOPNOTSUPP; }

}  // namespace card_transfer
