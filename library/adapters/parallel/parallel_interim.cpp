// Interim parallel adapters: until the bit-driven engine is in, both answer
// as adapters whose bus cannot be opened, and touch no port.
#include "library/adapters/parallel/parallel_adapters.h"

namespace {
constexpr std::int16_t kNotOpened = 2;
}

namespace philips {
std::int16_t init() { return 0; }
std::int16_t start() { return kNotOpened; }
std::int16_t stop() { return 0; }
std::int16_t address(std::int16_t) { return kNotOpened; }
std::int16_t send(std::int16_t, const std::uint8_t*) { return kNotOpened; }
std::int16_t read(std::int16_t, std::uint8_t*) { return kNotOpened; }
}  // namespace philips

namespace custom {
std::int16_t init() { return 0; }
std::int16_t start() { return kNotOpened; }
std::int16_t stop() { return 0; }
std::int16_t address(std::int16_t) { return kNotOpened; }
std::int16_t send(std::int16_t, const std::uint8_t*) { return kNotOpened; }
std::int16_t read(std::int16_t, std::uint8_t*) { return kNotOpened; }
}  // namespace custom
