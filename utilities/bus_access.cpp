#include "utilities/bus_access.h"

#include "tarnwick.h"

namespace bus_access {

namespace {

constexpr std::int16_t kOpened = 0;
constexpr std::int16_t kCardBusError = 1;
constexpr std::int16_t kCardRefused = -1;

const Exports kLinked{&::I2C_Init,    &::I2C_Start,   &::I2C_Stop,       &::I2C_Address,
                      &::I2C_Send,    &::I2C_Read,    &::I2C_SendByte,   &::I2C_GetByte,
                      &::I2C_Info,    &::I2C_SelectInterface};

}  // namespace

const Exports& linked() { return kLinked; }

void open_library(const Exports& bus, std::optional<int> adapter) {
  if (adapter) bus.I2C_SelectInterface(static_cast<std::int16_t>(*adapter));
  bus.I2C_Init();
}

std::string start(const Exports& bus) {
  const std::int16_t result = bus.I2C_Start();
  if (result == kOpened) return {};
  if (result == kCardBusError) {
    // Open, but what the card saw on the bus cannot be trusted.
    bus.I2C_Stop();
    return "the card flags a bus error (bus result 1)";
  }
  return "the adapter is held by another transaction or the bus is busy (bus result " +
         std::to_string(result) + ")";
}

SendCount send_count(const Exports& bus) {
  return bus.I2C_Address(0) == kCardRefused ? SendCount::including_refused
                                             : SendCount::acknowledged;
}

std::optional<int> refused_index(SendCount counting, std::int16_t count, std::int16_t sent) {
  if (sent == count) return std::nullopt;
  if (sent < 0) return 0;
  if (counting == SendCount::including_refused) return sent > 0 ? sent - 1 : 0;
  return sent;
}

}  // namespace bus_access
