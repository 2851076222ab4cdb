// Reaching the bus the way every host does, through the ten functions:
// picking and initialising the adapter, opening a transaction, and reading
// the adapters' bus results. The functions come as a table, so that the
// utilities' bus logic can also run against a scripted bus in tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "utilities/tarnwick_exports.h"

namespace bus_access {

using Exports = tarnwick_host::Exports;

// The functions of the libtarnwick.so this program is linked against.
const Exports& linked();

// I2C_SelectInterface(adapter) when one is given, then I2C_Init: without
// one, key "Default" of section "I2C Device" picks the adapter.
void open_library(const Exports& bus, std::optional<int> adapter);

// I2C_Start. An empty text: the bus is open. Otherwise why not; the
// transaction is already closed again.
std::string start(const Exports& bus);

// How I2C_Send counts when a slave refuses a byte: the parallel adapters
// count the bytes acknowledged, the card counts the refused one too. An
// address call on a bus that is not open tells them apart (the card says
// -1, the parallel adapters 2) without touching the bus. Call it while no
// transaction of this process is open.
enum class SendCount { acknowledged, including_refused };
SendCount send_count(const Exports& bus);

// The index of the byte that was refused when I2C_Send(count) gave `sent`;
// nothing when every byte went through.
std::optional<int> refused_index(SendCount counting, std::int16_t count, std::int16_t sent);

}  // namespace bus_access
