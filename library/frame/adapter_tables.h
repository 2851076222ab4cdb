// The six operation tables: one routine per adapter, in adapter-index order
// (0 PCF8584 card, 1 Philips adapter, 2 Custom adapter).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "library/adapters/parallel_bus.h"
#include "library/adapters/parallel_wirings.h"
#include "library/adapters/pcf8584.h"

namespace frame {

inline constexpr std::size_t kAdapterCount = 3;

using ControlOperation = std::int16_t (*)();
using AddressOperation = std::int16_t (*)(std::int16_t address);
using SendOperation = std::int16_t (*)(std::int16_t count, const std::uint8_t* data);
using ReadOperation = std::int16_t (*)(std::int16_t count, std::uint8_t* buffer);

inline constexpr std::array<ControlOperation, kAdapterCount> init_operations{
    pcf8584::init, philips::init, custom::init};
inline constexpr std::array<ControlOperation, kAdapterCount> start_operations{
    pcf8584::start, parallel_bus::start<philips::kWiring>,
    parallel_bus::start<custom::configured_wiring>};
inline constexpr std::array<ControlOperation, kAdapterCount> stop_operations{
    pcf8584::stop, parallel_bus::stop<philips::kWiring>,
    parallel_bus::stop<custom::configured_wiring>};
inline constexpr std::array<AddressOperation, kAdapterCount> address_operations{
    pcf8584::address, parallel_bus::address<philips::kWiring>,
    parallel_bus::address<custom::configured_wiring>};
inline constexpr std::array<SendOperation, kAdapterCount> send_operations{
    pcf8584::send, parallel_bus::send<philips::kWiring>,
    parallel_bus::send<custom::configured_wiring>};
inline constexpr std::array<ReadOperation, kAdapterCount> read_operations{
    pcf8584::read, parallel_bus::read<philips::kWiring>,
    parallel_bus::read<custom::configured_wiring>};

}  // namespace frame
