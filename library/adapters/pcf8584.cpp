// The PCF8584 card: an ISA card whose PCF8584 controller makes the START
// and STOP conditions and shifts whole bytes itself. The library only writes
// commands and bytes into its two registers, S0 and S1, and polls its
// status. The controller runs without interrupts (ENI and ES2 are never set), so all
// waiting is polling of the PIN bit. Every register access is followed by
// one port delay.
#include "library/adapters/pcf8584.h"

#include <cstddef>

#include "dlportio.h"
#include "hardware/pcf8584_registers.h"
#include "library/state/library_state.h"
#include "platform/profile/profile.h"
#include "platform/scan.h"

namespace pcf8584 {

namespace {

using namespace pcf8584_registers;

// No command this adapter writes turns on the interrupt or selects S3.
static_assert(((kSelectOwnAddress | kSelectClock | kIdle | kEnableNoAck | kStart |
                kRepeatedStart | kStopThenStart | kStop) & (ES2 | ENI)) == 0);

// Values written to S0.
constexpr std::uint8_t kOwnAddress = 0x55;
constexpr std::uint8_t kClock12MHzBus90kHz = kClockInput12MHz | kBus90kHz;
// The START of a transaction goes out with this address; the first address
// operation replaces it by a STOP and a START with the real one.
constexpr std::uint8_t kPlaceholderAddress = 0xC0;
constexpr std::uint8_t kAfterStop = 0xC2;
// What the last address holds after a start (write direction).
constexpr std::int16_t kAddressAfterStart = 0xF0;

constexpr std::uint8_t kReadDirection = 0x01;

// A controller that never clears PIN gives up after this many polls, and
// the operation goes on as if the byte had finished.
constexpr std::int32_t kPinPolls = 99999;

constexpr std::int16_t kRefused = -1;
constexpr std::int16_t kNotOpened = 2;
constexpr std::int16_t kNotAcknowledged = 3;

constexpr std::size_t kTextSize = 80;

// Adapter state; each process has its own.
bool bus_open = false;
std::int16_t last_address = 0;
// A START with an address has gone out and no data byte has moved since.
bool address_phase = false;
// A read of S0 has started the reception of a byte, which the controller
// acknowledges: the slave goes on driving SDA for the byte after it.
bool receiving = false;

std::uint16_t port(unsigned reg) {
  return static_cast<std::uint16_t>(static_cast<std::uint16_t>(state::base_port) + reg);
}

void write_s0(std::uint8_t value) {
  DlPortWritePortUchar(port(kS0), value);
  state::port_delay();
}

void write_s1(std::uint8_t value) {
  DlPortWritePortUchar(port(kS1), value);
  state::port_delay();
}

std::uint8_t read_s0() {
  const std::uint8_t value = DlPortReadPortUchar(port(kS0));
  state::port_delay();
  return value;
}

std::uint8_t read_s1() {
  const std::uint8_t value = DlPortReadPortUchar(port(kS1));
  state::port_delay();
  return value;
}

bool reading() { return (last_address & kReadDirection) != 0; }

void wait_for_pin() {
  for (std::int32_t poll = 0; poll < kPinPolls; ++poll) {
    if ((read_s1() & PIN) == 0) {
      return;
    }
  }
}

bool bus_free() { return (read_s1() & BB) != 0; }

std::int16_t bus_error() { return (read_s1() & BER) != 0 ? 1 : 0; }

// A receiving slave keeps sending until it gets a NACK, and a STOP or START
// made while it drives SDA goes wrong on the wire. Reading S0 with ACK off
// starts one more byte, which the controller does not acknowledge, and the
// slave lets go. This is also needed right after a read address, whose
// dummy read has already started the first byte.
void terminate_read() {
  if (!receiving) {
    return;
  }
  write_s1(kEnableNoAck);
  static_cast<void>(read_s0());
  wait_for_pin();
  receiving = false;
}

// A value that is not hexadecimal text (or is empty) keeps the setting.
void read_hex_setting(const char* key, const char* fallback, std::int16_t& setting) {
  char text[kTextSize];
  profile::get("I2C Card", key, fallback, text, sizeof text);
  if (const auto value = scan::hexadecimal(text)) {
    setting = static_cast<std::int16_t>(*value);
  }
}

}  // namespace

std::int16_t init() {
  if (!state::take_slot(state::kCardSlot)) {
    return 0;
  }
  read_hex_setting("Base", "300", state::base_port);
  read_hex_setting("Nops", "100", state::nops);

  write_s1(kSelectOwnAddress);
  write_s0(kOwnAddress);
  write_s1(kSelectClock);
  write_s0(kClock12MHzBus90kHz);
  write_s1(kIdle);

  address_phase = false;
  receiving = false;
  last_address = 0;
  bus_open = false;
  state::give_slot(state::kCardSlot);
  return 0;
}

std::int16_t start() {
  if (!state::take_slot(state::kCardSlot)) {
    return kNotOpened;
  }
  write_s1(kEnableNoAck);
  if (!bus_free()) {
    // Another master has the bus. The caller sees a start that failed and
    // will not stop, so the card must not stay reserved for this process.
    state::give_slot(state::kCardSlot);
    return kNotOpened;
  }
  write_s0(kPlaceholderAddress);
  last_address = kAddressAfterStart;
  write_s1(kStart);
  address_phase = true;
  bus_open = true;
  // No PIN wait: the START and placeholder byte finish in the background.
  return bus_error();
}

std::int16_t stop() {
  // Nothing of ours is open: touching the card or giving slot 0 back here
  // could end another process's transaction.
  if (!bus_open) {
    return 0;
  }
  wait_for_pin();
  terminate_read();
  write_s1(kStop);
  write_s0(kAfterStop);
  const std::int16_t result = bus_error();
  write_s1(kInterfaceOff);
  bus_open = false;
  state::give_slot(state::kCardSlot);
  return result;
}

std::int16_t address(std::int16_t value) {
  if (!bus_open) {
    return kRefused;
  }
  terminate_read();
  // Straight after a START (no data moved) the controller cannot repeat the
  // START; it chains a STOP and a new START instead.
  write_s1(address_phase ? kStopThenStart : kRepeatedStart);
  address_phase = true;
  write_s0(static_cast<std::uint8_t>(value));
  last_address = value;
  wait_for_pin();
  if ((read_s1() & LRB) != 0) {
    return kNotAcknowledged;
  }
  if (reading()) {
    // Reading S0 hands over nothing yet but starts the first data byte.
    static_cast<void>(read_s0());
    receiving = true;
  }
  return 0;
}

std::int16_t send(std::int16_t count, const std::uint8_t* data) {
  if (count <= 0 || !bus_open || data == nullptr) {
    return kRefused;
  }
  wait_for_pin();
  if (reading() && address(static_cast<std::int16_t>(last_address & 0xFE)) != 0) {
    return kRefused;
  }
  std::int16_t sent = 0;
  while (count != 0) {
    address_phase = false;
    write_s0(*data);
    ++sent;
    ++data;
    --count;
    wait_for_pin();
    // The byte the slave refused is counted; nothing after it goes out.
    if ((read_s1() & LRB) != 0) {
      break;
    }
  }
  return sent;
}

std::int16_t read(std::int16_t count, std::uint8_t* buffer) {
  if (count <= 0 || !bus_open || buffer == nullptr) {
    return kRefused;
  }
  wait_for_pin();
  if (!reading() &&
      address(static_cast<std::int16_t>((last_address & 0xFF) | kReadDirection)) != 0) {
    return kRefused;
  }
  std::int16_t received = 0;
  while (count != 0) {
    wait_for_pin();
    address_phase = false;
    // Each read of S0 hands over the byte just received and starts the next,
    // which the controller acknowledges; the final NACK comes with the next
    // address or stop.
    *buffer = read_s0();
    receiving = true;
    ++received;
    ++buffer;
    --count;
  }
  return received;
}

}  // namespace pcf8584
