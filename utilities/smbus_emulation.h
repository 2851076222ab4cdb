// SMBus transactions made of plain I2C messages, as Linux's
// i2c_smbus_xfer_emulated makes them for an adapter that only moves
// messages: the command byte written first, joined to a read by a repeated
// START (never split by a STOP), and the packet error code (CRC-8,
// x^8 + x^2 + x + 1 over the addresses and bytes on the wire) computed
// here, since no adapter of this library checks it in hardware. One unit
// for tarnwick-i2cdev, which gets i2c-dev's I2C_SMBUS requests, and for the
// one-shot programs, which call it as libi2c's i2c_smbus_* functions.
#pragma once

#include <linux/i2c.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "tarnwick/i2c.h"

namespace smbus_emulation {

// The most data bytes of an SMBus block.
constexpr int kBlockMax = I2C_SMBUS_BLOCK_MAX;

// One transaction of tarnwick_transfer's shape; it may retry.
using MessageTransfer = int (*)(void* context, tarnwick_msg* msgs, int count);

struct Request {
  std::uint16_t address;
  bool pec;
  std::uint8_t read_write;  // I2C_SMBUS_READ or I2C_SMBUS_WRITE
  std::uint8_t command;
  std::uint32_t size;       // I2C_SMBUS_QUICK ... I2C_SMBUS_I2C_BLOCK_DATA
};

// The CRC-8 of SMBus over `bytes`, continuing from `crc`.
std::uint8_t pec(std::uint8_t crc, const std::uint8_t* bytes, std::size_t count);

// Makes the transaction and fills `data` for a read, as i2c-dev's
// I2C_SMBUS leaves it. 0 or -errno: EINVAL a block length above 32,
// EOPNOTSUPP what plain messages cannot make (a block read takes its
// length from the slave; a quick read has no byte to clock), EBADMSG a
// packet error code that does not match, EIO a short transaction, and
// whatever the transfer returns.
int transfer(MessageTransfer transfer, void* context, const Request& request,
             i2c_smbus_data* data);

// ---- libi2c's functions over tarnwick_transfer, without PEC ----------------
// Results as libi2c's i2c_smbus_* functions give them: the value or the
// byte count, or -errno.

using Transfer = int (*)(int adapter, tarnwick_msg* msgs, int count);

struct Device {
  int adapter;
  std::uint16_t address;  // 7-bit
  Transfer transfer;      // tarnwick_transfer, or a test's
};

int read_byte(const Device& device);                                      // receive byte
int write_byte(const Device& device, std::uint8_t value);                 // send byte
int read_byte_data(const Device& device, std::uint8_t command);
int write_byte_data(const Device& device, std::uint8_t command, std::uint8_t value);
// Words go low byte first, as SMBus sends them.
int read_word_data(const Device& device, std::uint8_t command);
int write_word_data(const Device& device, std::uint8_t command, std::uint16_t value);
// The slave's count byte would decide the length: refused (EOPNOTSUPP), as
// by every adapter of the library; `data` holds kBlockMax bytes.
int read_block_data(const Device& device, std::uint8_t command, std::span<std::uint8_t> data);
int write_block_data(const Device& device, std::uint8_t command, std::span<const std::uint8_t> data);
// I2C block: data.size() bytes, 1 to kBlockMax, without a count byte.
int read_i2c_block_data(const Device& device, std::uint8_t command, std::span<std::uint8_t> data);
int write_i2c_block_data(const Device& device, std::uint8_t command,
                         std::span<const std::uint8_t> data);

}  // namespace smbus_emulation
