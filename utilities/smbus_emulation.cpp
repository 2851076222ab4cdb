#include "utilities/smbus_emulation.h"

#include <array>
#include <cerrno>

namespace smbus_emulation {

namespace {

// The command byte and up to a block's count and data.
using WriteBuffer = std::array<std::uint8_t, 2 + kBlockMax>;

tarnwick_msg write_message(const Device& device, std::uint8_t* bytes, std::size_t count) {
  return {device.address, 0, static_cast<std::uint16_t>(count), bytes};
}

tarnwick_msg read_message(const Device& device, std::uint8_t* bytes, std::size_t count,
                          std::uint16_t more_flags = 0) {
  return {device.address, static_cast<std::uint16_t>(TARNWICK_M_RD | more_flags),
          static_cast<std::uint16_t>(count), bytes};
}

// 0 when every message went, else -errno.
int send(const Device& device, tarnwick_msg* msgs, int count) {
  const int done = device.transfer(device.adapter, msgs, count);
  if (done < 0) return done;
  return done == count ? 0 : -EIO;
}

// Command byte, repeated START, `count` bytes read.
int command_then_read(const Device& device, std::uint8_t command, std::uint8_t* bytes,
                      std::size_t count, std::uint16_t read_flags = 0) {
  tarnwick_msg msgs[2] = {write_message(device, &command, 1),
                          read_message(device, bytes, count, read_flags)};
  return send(device, msgs, 2);
}

int write_bytes(const Device& device, std::uint8_t* bytes, std::size_t count) {
  tarnwick_msg message = write_message(device, bytes, count);
  return send(device, &message, 1);
}

}  // namespace

int read_byte(const Device& device) {
  std::uint8_t value = 0;
  tarnwick_msg message = read_message(device, &value, 1);
  const int result = send(device, &message, 1);
  return result < 0 ? result : value;
}

int write_byte(const Device& device, std::uint8_t value) { return write_bytes(device, &value, 1); }

int read_byte_data(const Device& device, std::uint8_t command) {
  std::uint8_t value = 0;
  const int result = command_then_read(device, command, &value, 1);
  return result < 0 ? result : value;
}

int write_byte_data(const Device& device, std::uint8_t command, std::uint8_t value) {
  std::uint8_t bytes[2] = {command, value};
  return write_bytes(device, bytes, 2);
}

int read_word_data(const Device& device, std::uint8_t command) {
  std::uint8_t bytes[2] = {};
  const int result = command_then_read(device, command, bytes, 2);
  return result < 0 ? result : bytes[0] | bytes[1] << 8;
}

int write_word_data(const Device& device, std::uint8_t command, std::uint16_t value) {
  std::uint8_t bytes[3] = {command, static_cast<std::uint8_t>(value & 0xFF),
                           static_cast<std::uint8_t>(value >> 8)};
  return write_bytes(device, bytes, 3);
}

int read_block_data(const Device& device, std::uint8_t command, std::span<std::uint8_t> data) {
  if (data.size() < kBlockMax) return -EINVAL;
  // i2c-core's layout: the count byte first, room for the largest block,
  // and a length of 1 that the adapter grows by the count it reads.
  std::array<std::uint8_t, 1 + kBlockMax> block{};
  block[0] = 1;
  const int result = command_then_read(device, command, block.data(), 1, TARNWICK_M_RECV_LEN);
  if (result < 0) return result;
  const int count = block[0];
  if (count == 0 || count > kBlockMax) return -EPROTO;
  for (int i = 0; i < count; ++i) data[i] = block[1 + i];
  return count;
}

int write_block_data(const Device& device, std::uint8_t command,
                     std::span<const std::uint8_t> data) {
  if (data.empty() || data.size() > kBlockMax) return -EINVAL;
  WriteBuffer bytes{command, static_cast<std::uint8_t>(data.size())};
  for (std::size_t i = 0; i < data.size(); ++i) bytes[2 + i] = data[i];
  return write_bytes(device, bytes.data(), 2 + data.size());
}

int read_i2c_block_data(const Device& device, std::uint8_t command, std::span<std::uint8_t> data) {
  if (data.empty() || data.size() > kBlockMax) return -EINVAL;
  const int result = command_then_read(device, command, data.data(), data.size());
  return result < 0 ? result : static_cast<int>(data.size());
}

int write_i2c_block_data(const Device& device, std::uint8_t command,
                         std::span<const std::uint8_t> data) {
  if (data.empty() || data.size() > kBlockMax) return -EINVAL;
  WriteBuffer bytes{command};
  for (std::size_t i = 0; i < data.size(); ++i) bytes[1 + i] = data[i];
  return write_bytes(device, bytes.data(), 1 + data.size());
}

}  // namespace smbus_emulation
