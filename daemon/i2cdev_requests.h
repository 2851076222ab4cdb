// The requests of Linux's i2c-dev on one bus of this library: the ioctls,
// read and write, with i2c-dev's limits and errno values. Nothing here
// knows CUSE: an ioctl is its request number, its argument and the bytes
// fetched from the caller so far, and its answer either names the caller's
// memory still needed (read it, or room to write) or is final. This is how
// an unrestricted ioctl of a character device in user space proceeds: the
// kernel cannot know what a pointer in i2c_rdwr_ioctl_data points at, so
// the device asks for the structure first, then for the arrays and buffers
// it names.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tarnwick/i2c.h"

namespace i2cdev {

// tarnwick_transfer, or a stand-in with its contract.
using Transfer = int (*)(int adapter, tarnwick_msg* msgs, int count);

// What every open file of the device shares, as an i2c_adapter holds it.
struct Bus {
  Transfer transfer = nullptr;
  int adapter = 0;         // 0 the selected one, 1 card, 2 Philips, 3 Custom
  bool bit_banged = false; // the Philips and Custom adapters make each bit
  int retries = 0;         // more tries after a lost arbitration (I2C_RETRIES)
  std::int64_t timeout_ms = 1000;  // for those tries together (I2C_TIMEOUT, in 10 ms)
};

// What one open file holds, as an i2c_client does.
struct Client {
  std::uint16_t address = 0;  // I2C_SLAVE
  bool pec = false;           // I2C_PEC
};

// The bus of adapter 1, 2 or 3, or of 0, the selected one: its kind is not
// known then, and I2C_FUNCS names only what every adapter makes.
Bus make_bus(Transfer transfer, int adapter);

// I2C_FUNCS of the bus: plain I2C, the SMBus transactions that messages
// can make with PEC computed here, NOSTART where the library makes bits.
unsigned long functionality(const Bus& bus);

// The answer to one ioctl call.
struct Answer {
  bool retry = false;            // fetch `in`, make room for `out`, call again
  std::vector<iovec> in, out;    // the caller's memory, for a retry
  long result = 0;               // final: >= 0, or -errno
  std::vector<std::uint8_t> data;  // final: bytes for the `out` areas in turn
};

// One ioctl. `arg` is the caller's argument (a number or an address in the
// caller), `in` the bytes of the areas asked for last time, in their order,
// `out_size` the room the caller has given. Never reads past `in`.
Answer ioctl(Bus& bus, Client& client, unsigned int request, std::uintptr_t arg,
             std::span<const std::uint8_t> in, std::size_t out_size);

// read(2) and write(2): one message to the I2C_SLAVE address, at most 8192
// bytes (more are cut, as i2c-dev does). Bytes moved, or -errno.
long read(Bus& bus, const Client& client, std::uint8_t* buf, std::size_t size);
long write(Bus& bus, const Client& client, const std::uint8_t* buf, std::size_t size);

}  // namespace i2cdev
