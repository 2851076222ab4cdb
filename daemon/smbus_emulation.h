// SMBus transactions made of plain I2C messages, as Linux's
// i2c_smbus_xfer_emulated makes them for an adapter that only moves
// messages: the command byte written first, a repeated START before a
// read, and the packet error code (CRC-8, x^8 + x^2 + x + 1 over the
// addresses and bytes on the wire) computed here, since no adapter of this
// library checks it in hardware.
#pragma once

#include <linux/i2c.h>

#include <cstdint>

#include "tarnwick/i2c.h"

namespace i2cdev {

// One transaction of tarnwick_transfer's shape; it may retry.
using MessageTransfer = int (*)(void* context, tarnwick_msg* msgs, int count);

struct SmbusRequest {
  std::uint16_t address;
  bool pec;
  std::uint8_t read_write;  // I2C_SMBUS_READ or I2C_SMBUS_WRITE
  std::uint8_t command;
  std::uint32_t size;       // I2C_SMBUS_QUICK ... I2C_SMBUS_I2C_BLOCK_DATA
};

// The CRC-8 of SMBus over `bytes`, continuing from `crc`.
std::uint8_t smbus_pec(std::uint8_t crc, const std::uint8_t* bytes, std::size_t count);

// Makes the transaction and fills `data` for a read, as i2c-dev's
// I2C_SMBUS leaves it. 0 or -errno: EINVAL a block length above 32,
// EOPNOTSUPP what plain messages cannot make (a block read takes its
// length from the slave; a quick read has no byte to clock), EBADMSG a
// packet error code that does not match, EIO a short transaction, and
// whatever the transfer returns.
int smbus_transfer(MessageTransfer transfer, void* context, const SmbusRequest& request,
                   i2c_smbus_data* data);

}  // namespace i2cdev
