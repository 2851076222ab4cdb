// The PCF8584 card: an ISA card whose bus controller makes the conditions
// and moves the bytes; the library programs its S0 and S1 registers.
#pragma once

#include <cstdint>

namespace pcf8584 {

std::int16_t init();
std::int16_t start();
std::int16_t stop();
std::int16_t address(std::int16_t address);
std::int16_t send(std::int16_t count, const std::uint8_t* data);
std::int16_t read(std::int16_t count, std::uint8_t* buffer);

}  // namespace pcf8584
