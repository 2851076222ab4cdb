#include "utilities/smbus_emulation.h"

#include <cerrno>
#include <cstring>

namespace smbus_emulation {

namespace {

constexpr std::uint8_t kPecPolynomial = 0x07;  // x^8 + x^2 + x + 1

// The address byte the slave sees before the message's bytes.
std::uint8_t address_byte(const tarnwick_msg& msg) {
  return static_cast<std::uint8_t>((msg.addr << 1) | ((msg.flags & TARNWICK_M_RD) ? 1 : 0));
}

std::uint8_t message_pec(std::uint8_t crc, const tarnwick_msg& msg, std::size_t count) {
  const std::uint8_t address = address_byte(msg);
  crc = pec(crc, &address, 1);
  return pec(crc, msg.buf, count);
}

}  // namespace

std::uint8_t pec(std::uint8_t crc, const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<std::uint8_t>((crc & 0x80) ? (crc << 1) ^ kPecPolynomial : crc << 1);
    }
  }
  return crc;
}

int transfer(MessageTransfer transfer, void* context, const Request& request,
             i2c_smbus_data* data) {
  // The command, up to a block of 32 with its count, and the PEC byte.
  std::uint8_t out[I2C_SMBUS_BLOCK_MAX + 3] = {request.command};
  std::uint8_t in[I2C_SMBUS_BLOCK_MAX + 2] = {};
  tarnwick_msg msgs[2] = {
      {request.address, 0, 1, out},
      {request.address, TARNWICK_M_RD, 0, in},
  };
  bool reads = request.read_write == I2C_SMBUS_READ;
  int count = reads ? 2 : 1;

  switch (request.size) {
    case I2C_SMBUS_QUICK:
      // The direction bit is the datum; a read of no byte is not a
      // message the library makes.
      if (reads) return -EOPNOTSUPP;
      msgs[0].len = 0;
      count = 1;
      break;
    case I2C_SMBUS_BYTE:
      if (reads) {
        msgs[0] = {request.address, TARNWICK_M_RD, 1, in};
        count = 1;
      }
      break;
    case I2C_SMBUS_BYTE_DATA:
      if (reads) {
        msgs[1].len = 1;
      } else {
        msgs[0].len = 2;
        out[1] = data->byte;
      }
      break;
    case I2C_SMBUS_WORD_DATA:
      if (reads) {
        msgs[1].len = 2;
      } else {
        msgs[0].len = 3;
        out[1] = static_cast<std::uint8_t>(data->word & 0xFF);
        out[2] = static_cast<std::uint8_t>(data->word >> 8);
      }
      break;
    case I2C_SMBUS_PROC_CALL:
      reads = true;
      count = 2;
      msgs[0].len = 3;
      msgs[1].len = 2;
      out[1] = static_cast<std::uint8_t>(data->word & 0xFF);
      out[2] = static_cast<std::uint8_t>(data->word >> 8);
      break;
    case I2C_SMBUS_BLOCK_DATA:
      // The slave's first byte says how many follow: the length of the
      // read is not known before it starts, and the library reads a
      // length fixed in advance.
      if (reads) return -EOPNOTSUPP;
      if (data->block[0] > I2C_SMBUS_BLOCK_MAX) return -EINVAL;
      msgs[0].len = static_cast<std::uint16_t>(data->block[0] + 2);
      std::memcpy(out + 1, data->block, data->block[0] + 1u);
      break;
    case I2C_SMBUS_BLOCK_PROC_CALL:
      return -EOPNOTSUPP;
    case I2C_SMBUS_I2C_BLOCK_DATA:
      if (data->block[0] > I2C_SMBUS_BLOCK_MAX) return -EINVAL;
      if (reads) {
        msgs[1].len = data->block[0];
      } else {
        msgs[0].len = static_cast<std::uint16_t>(data->block[0] + 1);
        std::memcpy(out + 1, data->block + 1, data->block[0]);
      }
      break;
    default:
      return -EOPNOTSUPP;
  }

  // An I2C block carries no PEC, nor does a quick command.
  const bool wants_pec = request.pec && request.size != I2C_SMBUS_QUICK &&
                         request.size != I2C_SMBUS_I2C_BLOCK_DATA;
  std::uint8_t partial_pec = 0;
  tarnwick_msg& last = msgs[count - 1];
  if (wants_pec) {
    if (!(msgs[0].flags & TARNWICK_M_RD)) {
      if (count == 1) {
        out[msgs[0].len] = message_pec(0, msgs[0], msgs[0].len);
        ++msgs[0].len;
      } else {
        partial_pec = message_pec(0, msgs[0], msgs[0].len);
      }
    }
    if (last.flags & TARNWICK_M_RD) ++last.len;
  }

  const int status = transfer(context, msgs, count);
  if (status < 0) return status;
  if (status != count) return -EIO;

  if (wants_pec && (last.flags & TARNWICK_M_RD)) {
    const std::size_t payload = last.len - 1u;
    if (last.buf[payload] != message_pec(partial_pec, last, payload)) return -EBADMSG;
  }

  if (!reads) return 0;
  switch (request.size) {
    case I2C_SMBUS_BYTE:
    case I2C_SMBUS_BYTE_DATA:
      data->byte = in[0];
      break;
    case I2C_SMBUS_WORD_DATA:
    case I2C_SMBUS_PROC_CALL:
      data->word = static_cast<std::uint16_t>(in[0] | (in[1] << 8));
      break;
    case I2C_SMBUS_I2C_BLOCK_DATA:
      std::memcpy(data->block + 1, in, data->block[0]);
      break;
  }
  return 0;
}


// ---- libi2c's functions ------------------------------------------------------

namespace {

int device_transfer(void* context, tarnwick_msg* msgs, int count) {
  const auto& device = *static_cast<const Device*>(context);
  return device.transfer(device.adapter, msgs, count);
}

// One transaction without PEC; `data` as i2c-dev's I2C_SMBUS takes it.
int smbus(const Device& device, std::uint8_t read_write, std::uint8_t command,
          std::uint32_t size, i2c_smbus_data* data) {
  const Request request{device.address, false, read_write, command, size};
  return transfer(device_transfer, const_cast<Device*>(&device), request, data);
}

}  // namespace

int read_byte(const Device& device) {
  i2c_smbus_data data{};
  const int result = smbus(device, I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE, &data);
  return result < 0 ? result : data.byte;
}

int write_byte(const Device& device, std::uint8_t value) {
  return smbus(device, I2C_SMBUS_WRITE, value, I2C_SMBUS_BYTE, nullptr);
}

int read_byte_data(const Device& device, std::uint8_t command) {
  i2c_smbus_data data{};
  const int result = smbus(device, I2C_SMBUS_READ, command, I2C_SMBUS_BYTE_DATA, &data);
  return result < 0 ? result : data.byte;
}

int write_byte_data(const Device& device, std::uint8_t command, std::uint8_t value) {
  i2c_smbus_data data{};
  data.byte = value;
  return smbus(device, I2C_SMBUS_WRITE, command, I2C_SMBUS_BYTE_DATA, &data);
}

int read_word_data(const Device& device, std::uint8_t command) {
  i2c_smbus_data data{};
  const int result = smbus(device, I2C_SMBUS_READ, command, I2C_SMBUS_WORD_DATA, &data);
  return result < 0 ? result : data.word;
}

int write_word_data(const Device& device, std::uint8_t command, std::uint16_t value) {
  i2c_smbus_data data{};
  data.word = value;
  return smbus(device, I2C_SMBUS_WRITE, command, I2C_SMBUS_WORD_DATA, &data);
}

int read_block_data(const Device& device, std::uint8_t command, std::span<std::uint8_t> data) {
  if (data.size() < kBlockMax) return -EINVAL;
  i2c_smbus_data block{};
  const int result = smbus(device, I2C_SMBUS_READ, command, I2C_SMBUS_BLOCK_DATA, &block);
  if (result < 0) return result;
  const int count = block.block[0];
  if (count == 0 || count > kBlockMax) return -EPROTO;
  std::memcpy(data.data(), block.block + 1, static_cast<std::size_t>(count));
  return count;
}

int write_block_data(const Device& device, std::uint8_t command,
                     std::span<const std::uint8_t> data) {
  if (data.empty() || data.size() > kBlockMax) return -EINVAL;
  i2c_smbus_data block{};
  block.block[0] = static_cast<std::uint8_t>(data.size());
  std::memcpy(block.block + 1, data.data(), data.size());
  return smbus(device, I2C_SMBUS_WRITE, command, I2C_SMBUS_BLOCK_DATA, &block);
}

int read_i2c_block_data(const Device& device, std::uint8_t command, std::span<std::uint8_t> data) {
  if (data.empty() || data.size() > kBlockMax) return -EINVAL;
  i2c_smbus_data block{};
  block.block[0] = static_cast<std::uint8_t>(data.size());
  const int result = smbus(device, I2C_SMBUS_READ, command, I2C_SMBUS_I2C_BLOCK_DATA, &block);
  if (result < 0) return result;
  std::memcpy(data.data(), block.block + 1, data.size());
  return static_cast<int>(data.size());
}

int write_i2c_block_data(const Device& device, std::uint8_t command,
                         std::span<const std::uint8_t> data) {
  if (data.empty() || data.size() > kBlockMax) return -EINVAL;
  i2c_smbus_data block{};
  block.block[0] = static_cast<std::uint8_t>(data.size());
  std::memcpy(block.block + 1, data.data(), data.size());
  return smbus(device, I2C_SMBUS_WRITE, command, I2C_SMBUS_I2C_BLOCK_DATA, &block);
}

}  // namespace smbus_emulation
