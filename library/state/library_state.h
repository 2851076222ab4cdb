// What the adapters and the library's frame share: the library-wide
// variables, the port delay and the bus semaphore slots.
#pragma once

#include <array>
#include <cstdint>

#include "platform/bus_semaphore.h"

namespace state {

// Adapter index: 0 PCF8584 card, 1 Philips adapter, 2 Custom adapter.
extern std::int16_t adapter_index;
// Set by whichever adapter's init ran last; 0 until then.
extern std::int16_t base_port;
extern std::int16_t nops;

// Slot 0 guards the card, slot 1 both parallel adapters; slot 2 is unused.
inline constexpr int kCardSlot = 0;
inline constexpr int kParallelSlot = 1;
inline constexpr int kSlotCount = 3;
extern std::array<bus_semaphore::Handle, kSlotCount> bus_semaphores;

// Waits at most 100 ms for the slot's count; false when not obtained.
bool take_slot(int slot);
// Gives one count back; false when the slot was not held.
bool give_slot(int slot);

// The counts of each slot that this thread has taken and not given back.
using SlotCounts = std::array<int, kSlotCount>;
SlotCounts slots_taken_here();
// Gives back what this thread took of each slot since `before`: a call cut
// short between taking a slot and giving it back (memory ran out) must
// not keep every host off that bus for the rest of the process.
void give_back_slots_since(const SlotCounts& before);

// The bus timing of every adapter: Nops reads of port base port + 2.
void port_delay();

}  // namespace state
