// The Custom adapter: the same bit-driven bus as the Philips adapter, with
// each of its four lines on whatever I/O port, bit mask and polarity the
// configuration names: its wiring row is read from the file at init. Any
// wiring of the lines to byte-wide ports works without new code; lines may
// share a port, since every write keeps the port's other bits as read.
#include <array>
#include <cstdint>

#include "library/adapters/parallel/adapter_config.h"
#include "library/adapters/parallel/parallel_adapters.h"
#include "library/adapters/parallel/parallel_bus.h"
#include "library/frame/library_state.h"

namespace {

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

constexpr const char* kSection = "I2C para Gen";
constexpr const char* kDebugKey = "Barbican";

void read_wiring() {
  for (std::size_t i = 0; i < kLineKeys.size(); ++i) {
    const LineKeys& keys = kLineKeys[i];
    wiring::Line& line = custom::configured_wiring.lines[i];
    line.port = static_cast<std::uint16_t>(
        adapter_config::hexadecimal_key(kSection, keys.port, "0"));
    line.mask = static_cast<std::uint8_t>(
        adapter_config::hexadecimal_key(kSection, keys.mask, "0"));
    line.polarity = static_cast<std::uint8_t>(
        adapter_config::hexadecimal_key(kSection, keys.polarity, "0"));
  }
}

}  // namespace

namespace custom {

// Every line at port 0, mask 0, until an init reads the section.
wiring::Wiring configured_wiring{};

std::int16_t init() {
  if (!frame::take_slot(frame::kParallelSlot)) return 0;
  adapter_config::read_timing(kSection, kDebugKey);
  read_wiring();
  parallel_bus::set_idle(configured_wiring);
  parallel_bus::forget_transaction();
  frame::give_slot(frame::kParallelSlot);
  return 0;
}

}  // namespace custom
