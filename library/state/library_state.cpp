// The library-wide variables, the bus semaphore slots and the port delay.
#include "library/state/library_state.h"

#include "dlportio.h"

namespace state {

std::int16_t adapter_index = 0;
std::int16_t base_port = 0;
std::int16_t nops = 0;
std::array<bus_semaphore::Handle, kSlotCount> bus_semaphores{};

namespace {

// Long enough for a holder's transaction step, short enough that a host
// finds out soon that another process has the adapter.
constexpr int kSlotWaitMs = 100;

bool is_slot(int slot) { return slot >= 0 && slot < kSlotCount; }

// Counts this thread took and did not give back yet, per slot.
thread_local SlotCounts taken_here{};

}  // namespace

SlotCounts slots_taken_here() { return taken_here; }

void give_back_slots_since(const SlotCounts& before) {
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const auto index = static_cast<std::size_t>(slot);
    while (taken_here[index] > before[index] && give_slot(slot)) {
    }
  }
}

bool take_slot(int slot) {
  // An empty slot (its semaphore could be neither opened nor created)
  // fails the wait, so its adapter behaves as if another process held it.
  if (!is_slot(slot) || !bus_semaphore::wait(bus_semaphores[slot], kSlotWaitMs)) return false;
  ++taken_here[static_cast<std::size_t>(slot)];
  return true;
}

bool give_slot(int slot) {
  if (!is_slot(slot) || !bus_semaphore::release(bus_semaphores[slot])) return false;
  --taken_here[static_cast<std::size_t>(slot)];
  return true;
}

void port_delay() {
  // The bus has no clock of its own here: every signal is held for as long
  // as Nops reads of an I/O port take. A negative Nops gives no read at all.
  const auto port = static_cast<std::uint16_t>(static_cast<std::uint16_t>(base_port) + 2);
  for (std::int16_t done = 0; done < nops; ++done) {
    static_cast<void>(DlPortReadPortUchar(port));
  }
}

}  // namespace state
