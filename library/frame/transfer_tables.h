// The transfer interface's operation tables: one routine per adapter, in
// adapter-index order (0 PCF8584 card, 1 Philips adapter, 2 Custom
// adapter), and the bus slot each adapter's transactions hold.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "library/adapters/bit_transfer.h"
#include "library/adapters/card_transfer.h"
#include "library/frame/adapter_tables.h"
#include "library/state/library_state.h"

namespace frame {

using TransferOperation = std::int16_t (*)(const tarnwick_msg* msgs, std::int16_t count);
using SpeedOperation = std::int32_t (*)(std::int32_t hz);
using RecoverOperation = std::int16_t (*)();

inline constexpr std::array<int, kAdapterCount> transfer_slots{
    state::kCardSlot, state::kParallelSlot, state::kParallelSlot};
inline constexpr std::array<TransferOperation, kAdapterCount> transfer_operations{
    card_transfer::transfer, bit_transfer::transfer<bit_transfer::kPhilips>,
    bit_transfer::transfer<bit_transfer::kCustom>};
inline constexpr std::array<SpeedOperation, kAdapterCount> speed_operations{
    card_transfer::set_speed, bit_transfer::set_speed<bit_transfer::kPhilips>,
    bit_transfer::set_speed<bit_transfer::kCustom>};
inline constexpr std::array<RecoverOperation, kAdapterCount> recover_operations{
    card_transfer::recover, bit_transfer::recover<bit_transfer::kPhilips>,
    bit_transfer::recover<bit_transfer::kCustom>};

}  // namespace frame
