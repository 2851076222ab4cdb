// The Philips and Custom adapters: what each wiring holds of its own (the
// Philips adapter's presence check, the Custom adapter's lines read from
// the configuration), and the configuration both read at init.
//
// The Philips adapter is a passive I2C adapter on a PC parallel port. SDA
// is driven through bit 7 of the data port and read back on bit 7 of the
// status port; SCL is bit 3 of the control port. Status bits 4 to 6 tell
// whether the adapter is plugged in and powered.
//
// The Custom adapter is the same bit-driven bus with each of its four lines
// on whatever I/O port, bit mask and polarity the configuration names: its
// wiring row is read from the file at init. Any wiring of the lines to
// byte-wide ports works without new code; lines may share a port, since
// every write keeps the port's other bits as read.
#include "library/adapters/parallel_wirings.h"

#include <array>
#include <cstdint>
#include <cstdio>

#include "dlportio.h"
#include "library/adapters/parallel_bus.h"
#include "library/state/library_state.h"
#include "platform/message_box.h"
#include "platform/profile/profile.h"
#include "platform/scan.h"

namespace {

// --- configuration shared by both adapters ---

constexpr std::size_t kValueSize = 80;
constexpr const char* kDebugSection = "Debug";

// The number held by `key` of `section` as hexadecimal text. A key that is
// missing, or present without a hexadecimal number, gives `fallback`.
std::int32_t hexadecimal_key(const char* section, const char* key, const char* fallback) {
  char value[kValueSize];
  profile::get(section, key, fallback, value, sizeof value);
  if (const auto number = scan::hexadecimal(value)) return *number;
  return scan::hexadecimal(fallback).value_or(0);
}

// Base port and Nops as signed 16-bit values widened to 32 bits, so that
// 0x8000 and above show with FFFF in front.
void write_debug_record(const char* debug_key) {
  char record[kValueSize];
  std::snprintf(record, sizeof record, "Base:0x%X Nops:0x%X",
                static_cast<unsigned>(static_cast<std::int32_t>(state::base_port)),
                static_cast<unsigned>(static_cast<std::int32_t>(state::nops)));
  // The record is a trace for the user; a file that cannot be written
  // must not keep the adapter from starting.
  profile::put(kDebugSection, debug_key, record);
}

// Sets the library-wide base port and Nops from "Base" and "Nops" of the
// adapter's section, then records both under `debug_key` of "Debug".
void read_timing(const char* section, const char* debug_key) {
  state::base_port = static_cast<std::int16_t>(hexadecimal_key(section, "Base", "378"));
  state::nops = static_cast<std::int16_t>(hexadecimal_key(section, "Nops", "100"));
  write_debug_record(debug_key);
}

// --- the Philips adapter ---

constexpr std::uint16_t kStatusOffset = 1;
// Status lines the adapter holds low when it sits on the port.
constexpr std::uint8_t kStatusAdapterAbsent = 0x50;
// Status line the adapter's supply holds high.
constexpr std::uint8_t kStatusPowered = 0x20;

constexpr const char* kPhilipsSection = "I2C para";
constexpr const char* kPhilipsDebugKey = "Bastion";
constexpr const char* kErrorCaption = "Tarnwick Error";

std::uint8_t read_status() {
  return DlPortReadPortUchar(static_cast<std::uint16_t>(
      static_cast<std::uint16_t>(state::base_port) + kStatusOffset));
}

void check_adapter() {
  if ((read_status() & kStatusAdapterAbsent) != 0)
    message_box::show("Check Philips I2C adapter !", kErrorCaption);
  if ((read_status() & kStatusPowered) == 0)
    message_box::show("Check power of I2C adapter !", kErrorCaption);
}

// --- the Custom adapter ---

struct LineKeys {
  const char* port;
  const char* mask;
  const char* polarity;
};

// In the order the section is read, which is the wiring row's line order.
constexpr std::array<LineKeys, wiring::kLineCount> kLineKeys{{
    {"SDA IN Port", "SDA IN Bit", "SDA IN Pol"},
    {"SDA OUT Port", "SDA OUT Bit", "SDA OUT Pol"},
    {"SCL IN Port", "SCL IN Bit", "SCL IN Pol"},
    {"SCL OUT Port", "SCL OUT Bit", "SCL OUT Pol"},
}};

constexpr const char* kCustomSection = "I2C para Gen";
constexpr const char* kCustomDebugKey = "Barbican";

void read_wiring(wiring::Wiring& row) {
  for (std::size_t i = 0; i < kLineKeys.size(); ++i) {
    const LineKeys& keys = kLineKeys[i];
    wiring::Line& line = row.lines[i];
    line.port = static_cast<std::uint16_t>(hexadecimal_key(kCustomSection, keys.port, "0"));
    line.mask = static_cast<std::uint8_t>(hexadecimal_key(kCustomSection, keys.mask, "0"));
    line.polarity =
        static_cast<std::uint8_t>(hexadecimal_key(kCustomSection, keys.polarity, "0"));
  }
}

}  // namespace

namespace philips {

std::int16_t init() {
  // A bus this process holds open keeps the slot, so init then changes nothing.
  if (!state::take_slot(state::kParallelSlot)) return 0;
  read_timing(kPhilipsSection, kPhilipsDebugKey);
  parallel_bus::set_idle(kWiring);
  parallel_bus::forget_transaction();
  check_adapter();
  state::give_slot(state::kParallelSlot);
  return 0;
}

std::uint16_t configured_base() {
  return static_cast<std::uint16_t>(hexadecimal_key(kPhilipsSection, "Base", "378"));
}

}  // namespace philips

namespace custom {

// Every line at port 0, mask 0, until an init reads the section.
wiring::Wiring configured_wiring{};

std::int16_t init() {
  if (!state::take_slot(state::kParallelSlot)) return 0;
  read_timing(kCustomSection, kCustomDebugKey);
  read_wiring(configured_wiring);
  parallel_bus::set_idle(configured_wiring);
  parallel_bus::forget_transaction();
  state::give_slot(state::kParallelSlot);
  return 0;
}

std::uint16_t configured_base() {
  return static_cast<std::uint16_t>(hexadecimal_key(kCustomSection, "Base", "378"));
}

wiring::Wiring configured_row() {
  wiring::Wiring row{};
  read_wiring(row);
  return row;
}

}  // namespace custom
