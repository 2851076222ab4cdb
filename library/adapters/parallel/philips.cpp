// The Philips adapter: a passive I2C adapter on a PC parallel port. SDA is
// driven through bit 7 of the data port and read back on bit 7 of the status
// port; SCL is bit 3 of the control port. Status bits 4 to 6 tell whether
// the adapter is plugged in and powered. Its wiring is a row of data
// (parallel_adapters.h); what is its own is the check at init.
#include <cstdint>

#include "library/adapters/parallel/adapter_config.h"
#include "library/adapters/parallel/parallel_adapters.h"
#include "library/adapters/parallel/parallel_bus.h"
#include "library/frame/library_state.h"
#include "platform/msgbox/message_box.h"
#include "platform/portio/dlportio.h"

namespace {

constexpr std::uint16_t kStatusOffset = 1;
// Status lines the adapter holds low when it sits on the port.
constexpr std::uint8_t kStatusAdapterAbsent = 0x50;
// Status line the adapter's supply holds high.
constexpr std::uint8_t kStatusPowered = 0x20;

constexpr const char* kSection = "I2C para";
constexpr const char* kDebugKey = "Bastion";
constexpr const char* kErrorCaption = "Tarnwick Error";

std::uint8_t read_status() {
  return DlPortReadPortUchar(static_cast<std::uint16_t>(
      static_cast<std::uint16_t>(frame::base_port) + kStatusOffset));
}

void check_adapter() {
  if ((read_status() & kStatusAdapterAbsent) != 0)
    message_box::show("Check Philips I2C adapter !", kErrorCaption);
  if ((read_status() & kStatusPowered) == 0)
    message_box::show("Check power of I2C adapter !", kErrorCaption);
}

}  // namespace

namespace philips {

std::int16_t init() {
  // A bus this process holds open keeps the slot, so init then changes nothing.
  if (!frame::take_slot(frame::kParallelSlot)) return 0;
  adapter_config::read_timing(kSection, kDebugKey);
  parallel_bus::set_idle(kWiring);
  parallel_bus::forget_transaction();
  check_adapter();
  frame::give_slot(frame::kParallelSlot);
  return 0;
}

}  // namespace philips
