// What the library does when a process loads and unloads it: hold handles
// to the three bus semaphores, and select the adapter that the configuration
// file names. No adapter is initialised here; base port and Nops stay 0
// until the host calls I2C_Init.
#include <cstddef>
#include <cstdio>

#include "library/state/library_state.h"
#include "platform/bus_semaphore.h"
#include "platform/message_box.h"
#include "platform/profile/profile.h"
#include "platform/scan.h"
#include "tarnwick.h"

namespace {

constexpr std::size_t kTextSize = 80;

// A value that does not begin with a decimal number selects the card, as a
// missing key does.
constexpr std::int32_t kDefaultInterface = 1;

void open_bus_semaphores() {
  char name[kTextSize];
  for (int slot = 0; slot < state::kSlotCount; ++slot) {
    std::snprintf(name, sizeof name, "I2CSEMA%d", slot);
    bus_semaphore::Handle handle = bus_semaphore::open(name);
    if (!handle.valid()) {
      handle = bus_semaphore::create(name);
    }
    // The load still succeeds: the slot stays empty and every wait on it
    // fails, so its adapters behave as if another process held them.
    if (!handle.valid()) {
      message_box::show(name, "TARNWICK failed");
    }
    state::bus_semaphores[static_cast<std::size_t>(slot)] = handle;
  }
}

void select_configured_adapter() {
  char value[kTextSize];
  profile::get("I2C Device", "Default", "1", value, sizeof value);
  const std::int32_t number = scan::decimal(value).value_or(kDefaultInterface);
  // The interface number is a 16-bit value: 65538 names interface 2.
  I2C_SelectInterface(static_cast<std::int16_t>(number));
}

void close_bus_semaphores() {
  for (auto& handle : state::bus_semaphores) {
    bus_semaphore::close(handle);
    handle = bus_semaphore::Handle{};
  }
}

__attribute__((constructor)) void on_load() {
  open_bus_semaphores();
  select_configured_adapter();
}

__attribute__((destructor)) void on_unload() { close_bus_semaphores(); }

}  // namespace
