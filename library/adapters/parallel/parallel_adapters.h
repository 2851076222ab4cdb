// The two bit-driven adapters on I/O ports: the Philips adapter on a PC
// parallel port, and the Custom adapter whose four lines sit wherever the
// configuration file says. Both run one bus engine over their own line
// routines and share its bus state.
#pragma once

#include <cstdint>

namespace philips {

std::int16_t init();
std::int16_t start();
std::int16_t stop();
std::int16_t address(std::int16_t address);
std::int16_t send(std::int16_t count, const std::uint8_t* data);
std::int16_t read(std::int16_t count, std::uint8_t* buffer);

}  // namespace philips

namespace custom {

std::int16_t init();
std::int16_t start();
std::int16_t stop();
std::int16_t address(std::int16_t address);
std::int16_t send(std::int16_t count, const std::uint8_t* data);
std::int16_t read(std::int16_t count, std::uint8_t* buffer);

}  // namespace custom
