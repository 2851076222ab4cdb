// The ten exported functions. The six bus functions hand their arguments to
// the current adapter's routine and its bus result back unchanged; every
// check of bus state, counts and pointers is the adapter's.
#include "tarnwick.h"

#include <cstddef>

#include "library/frame/adapter_tables.h"
#include "library/frame/information.h"
#include "library/state/library_state.h"

namespace {

// The adapter index only ever holds 0 to 2; reading it through this keeps a
// stray value from indexing past the tables.
std::size_t current_adapter() {
  const auto index = static_cast<std::size_t>(static_cast<std::uint16_t>(state::adapter_index));
  return index < frame::kAdapterCount ? index : 0;
}

std::int16_t send_bytes(std::int16_t count, const std::uint8_t* data) {
  return frame::send_operations[current_adapter()](count, data);
}

std::int16_t read_bytes(std::int16_t count, std::uint8_t* buffer) {
  return frame::read_operations[current_adapter()](count, buffer);
}

// Interface numbers 1 to 3 name the adapters; every other number the card.
std::int16_t adapter_for_interface(std::int16_t number) {
  switch (number) {
    case 2: return 1;
    case 3: return 2;
    default: return 0;
  }
}

std::int16_t get_byte() {
  std::uint8_t byte = 0;
  const std::int16_t result = read_bytes(1, &byte);
  if (result < 0) {
    return result;
  }
  // Only a read of exactly one byte filled the buffer; any other code (a
  // parallel adapter's 2 for a bus not started) read nothing.
  if (result != 1) {
    return -1;
  }
  return byte;
}

// No C++ exception may leave through a C function: the host has no way to
// catch it and would be aborted. Running out of memory (a configuration
// file read whole, a trace line) ends the call as a refusal instead, with
// any bus slot that the call took given back: the caller sees a failure and
// will not stop a transaction it was never told had begun.
constexpr std::int16_t kFailed = -1;

template <typename Call>
std::int16_t guarded(Call call) noexcept {
  const state::SlotCounts taken_before = state::slots_taken_here();
  try {
    return call();
  } catch (...) {
    state::give_back_slots_since(taken_before);
    return kFailed;
  }
}

}  // namespace

extern "C" {

int16_t I2C_Init(void) {
  return guarded([] { return frame::init_operations[current_adapter()](); });
}

int16_t I2C_Start(void) {
  return guarded([] { return frame::start_operations[current_adapter()](); });
}

int16_t I2C_Stop(void) {
  return guarded([] { return frame::stop_operations[current_adapter()](); });
}

int16_t I2C_Address(int16_t address) {
  return guarded([=] { return frame::address_operations[current_adapter()](address); });
}

int16_t I2C_Send(int16_t count, const uint8_t* data) {
  return guarded([=] { return send_bytes(count, data); });
}

int16_t I2C_Read(int16_t count, uint8_t* buffer) {
  return guarded([=] { return read_bytes(count, buffer); });
}

int16_t I2C_SendByte(uint8_t byte) {
  return guarded([&] { return send_bytes(1, &byte); });
}

int16_t I2C_GetByte(void) {
  return guarded([] { return get_byte(); });
}

int16_t I2C_Info(void) {
  return guarded([] {
    frame::show_information();
    return std::int16_t{0};
  });
}

int16_t I2C_SelectInterface(int16_t number) {
  return guarded([=] {
    state::adapter_index = adapter_for_interface(number);
    return std::int16_t{0};
  });
}

}  // extern "C"
