// The Philips adapter: a passive I2C adapter on a PC parallel port. SDA is
// driven through bit 7 of the data port and read back on bit 7 of the status
// port; SCL is bit 3 of the control port. Status bits 4 to 6 tell whether
// the adapter is plugged in and powered.
#include <cstdint>

#include "library/adapters/parallel/adapter_config.h"
#include "library/adapters/parallel/parallel_adapters.h"
#include "library/adapters/parallel/parallel_bus.h"
#include "library/frame/library_state.h"
#include "platform/msgbox/message_box.h"
#include "platform/portio/dlportio.h"

namespace {

constexpr std::uint16_t kDataOffset = 0;
constexpr std::uint16_t kStatusOffset = 1;
constexpr std::uint16_t kControlOffset = 2;

// The data port is written whole: all bits set but bit 7 releases SDA,
// bit 7 alone pulls it low.
constexpr std::uint8_t kDataReleased = 0x7F;
constexpr std::uint8_t kDataDriven = 0x80;
constexpr std::uint8_t kControlClock = 0x08;
constexpr std::uint8_t kStatusData = 0x80;
// Status lines the adapter holds low when it sits on the port.
constexpr std::uint8_t kStatusAdapterAbsent = 0x50;
// Status line the adapter's supply holds high.
constexpr std::uint8_t kStatusPowered = 0x20;

constexpr const char* kSection = "I2C para";
constexpr const char* kDebugKey = "Bastion";
constexpr const char* kErrorCaption = "Tarnwick Error";

std::uint16_t port(std::uint16_t offset) {
  return static_cast<std::uint16_t>(static_cast<std::uint16_t>(frame::base_port) +
                                    offset);
}

void write_data(std::uint8_t level) {
  DlPortWritePortUchar(port(kDataOffset),
                       level != 0 ? kDataReleased : kDataDriven);
}

// The other control bits drive printer lines that must keep their values.
void write_clock(std::uint8_t level) {
  const std::uint8_t control = DlPortReadPortUchar(port(kControlOffset));
  DlPortWritePortUchar(port(kControlOffset),
                       level != 0 ? control | kControlClock
                                  : control & static_cast<std::uint8_t>(~kControlClock));
}

std::uint8_t read_data() {
  return (DlPortReadPortUchar(port(kStatusOffset)) & kStatusData) != 0 ? 1 : 0;
}

constexpr parallel_bus::Lines kLines{write_data, write_clock, read_data};

void check_adapter() {
  if ((DlPortReadPortUchar(port(kStatusOffset)) & kStatusAdapterAbsent) != 0)
    message_box::show("Check Philips I2C adapter !", kErrorCaption);
  if ((DlPortReadPortUchar(port(kStatusOffset)) & kStatusPowered) == 0)
    message_box::show("Check power of I2C adapter !", kErrorCaption);
}

}  // namespace

namespace philips {

std::int16_t init() {
  // A bus this process holds open keeps the slot, so init then changes nothing.
  if (!frame::take_slot(frame::kParallelSlot)) return 0;
  adapter_config::read_timing(kSection, kDebugKey);
  parallel_bus::set_idle(kLines);
  parallel_bus::forget_transaction();
  check_adapter();
  frame::give_slot(frame::kParallelSlot);
  return 0;
}

std::int16_t start() { return parallel_bus::start(kLines); }
std::int16_t stop() { return parallel_bus::stop(kLines); }

std::int16_t address(std::int16_t address) {
  return parallel_bus::address(kLines, address);
}

std::int16_t send(std::int16_t count, const std::uint8_t* data) {
  return parallel_bus::send(kLines, count, data);
}

std::int16_t read(std::int16_t count, std::uint8_t* buffer) {
  return parallel_bus::read(kLines, count, buffer);
}

}  // namespace philips
