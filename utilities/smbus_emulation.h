// SMBus transactions made of plain I2C messages, as Linux's i2c-core
// emulates them for an adapter that only does I2C: each is one
// tarnwick_transfer, so a command byte and the read that follows it are
// joined by a repeated START, never split by a STOP. Results as libi2c's
// i2c_smbus_* functions give them: the value or the byte count, or -errno.
#pragma once

#include <cstdint>
#include <span>

#include "tarnwick/i2c.h"

namespace smbus_emulation {

// The most data bytes of an SMBus block.
constexpr int kBlockMax = 32;

using Transfer = int (*)(int adapter, tarnwick_msg* msgs, int count);

struct Device {
  int adapter;
  std::uint16_t address;                // 7-bit
  Transfer transfer = &tarnwick_transfer;
};

int read_byte(const Device& device);                                      // receive byte
int write_byte(const Device& device, std::uint8_t value);                 // send byte
int read_byte_data(const Device& device, std::uint8_t command);
int write_byte_data(const Device& device, std::uint8_t command, std::uint8_t value);
// Words go low byte first, as SMBus sends them.
int read_word_data(const Device& device, std::uint8_t command);
int write_word_data(const Device& device, std::uint8_t command, std::uint16_t value);
// The slave's count byte decides the length (I2C_M_RECV_LEN); `data` holds
// kBlockMax bytes.
int read_block_data(const Device& device, std::uint8_t command, std::span<std::uint8_t> data);
int write_block_data(const Device& device, std::uint8_t command, std::span<const std::uint8_t> data);
// I2C block: data.size() bytes, 1 to kBlockMax, without a count byte.
int read_i2c_block_data(const Device& device, std::uint8_t command, std::span<std::uint8_t> data);
int write_i2c_block_data(const Device& device, std::uint8_t command,
                         std::span<const std::uint8_t> data);

}  // namespace smbus_emulation
