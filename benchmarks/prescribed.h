// The port accesses each bus operation is meant to make, counted from the
// adapters' prescribed sequences (tests/oracle/), not from the library's code, so
// that a count measured through the library can be held against them.
//
// Bit-banged adapters: the line steps of tests/oracle/parallel_lines.h. The
// Philips adapter writes SDA with one port write and SCL with a read and a
// write of the control port; the Custom adapter reads and writes the
// output port for either line. A data-line read is one port read on both.
//
// PCF8584 card: the register accesses of tests/oracle/card_registers.h, each
// followed by one port delay; a PIN wait is status reads until its byte's
// time is over on the bench (100 us at the adapter's 90 kHz, every port
// access 1 us: "Access Time = 1", "Wall Clock = 0").
#pragma once

#include <cstdint>
#include <string>

#include "benchmarks/adapter.h"

namespace prescribed {

// The operations whose counts are held against the sequences.
enum class Operation {
  init,            // I2C_Init with the slot free
  start,           // I2C_Start on a closed bus
  stop,            // I2C_Stop after a byte written
  stop_after_read, // I2C_Stop after a byte read
  restart,         // bit-banged: I2C_Start on the open bus; card: I2C_Address after data
  address,         // I2C_Address(0xA0) straight after the start
  address_read,    // I2C_Address(0xA1) straight after the start
  byte_sent,       // I2C_Send of one byte
  byte_read,       // I2C_Read of one byte after a read address
  eeprom_read_16,  // start, address 0xA0, word address, address 0xA1, 16 bytes, stop
  search,          // the console's SEARCH after address 0xA0: 98 probes, then 0xA0 again
};

// SEARCH probes the address bytes 4, 6, ..., 198 and then the current one.
inline constexpr int kSearchAddresses = 99;

using bench::Adapter;

// Port accesses the operation is meant to make with that Nops.
std::uint64_t expected(Adapter adapter, Operation operation, std::uint64_t nops);

// How the figure is made up, for the table: "5 x (1 + Nops)", "64 + 27 x Nops".
std::string formula(Adapter adapter, Operation operation);

}  // namespace prescribed
