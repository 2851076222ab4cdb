#include "daemon/i2cdev_requests.h"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstring>

#include "utilities/smbus_emulation.h"

namespace i2cdev {

namespace {

// A caller's i2c_msg goes to the library unchanged.
static_assert(sizeof(tarnwick_msg) == sizeof(i2c_msg));
static_assert(offsetof(tarnwick_msg, addr) == offsetof(i2c_msg, addr));
static_assert(offsetof(tarnwick_msg, flags) == offsetof(i2c_msg, flags));
static_assert(offsetof(tarnwick_msg, len) == offsetof(i2c_msg, len));
static_assert(offsetof(tarnwick_msg, buf) == offsetof(i2c_msg, buf));
static_assert(TARNWICK_MAX_MESSAGES == I2C_RDWR_IOCTL_MAX_MSGS);

// The kernel marks its own copies of message buffers so; a caller's flag
// of that value means nothing.
constexpr std::uint16_t kDmaSafe = 0x0200;

constexpr unsigned long kHighestAddress = 0x7F;  // no 10-bit addresses

// Every bus of this library moves plain messages; the SMBus transactions
// are those messages can make (a block read needs the length from the
// slave's first byte), with PEC computed here.
constexpr unsigned long kEveryAdapter = I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL;

Answer final(long result) {
  Answer answer;
  answer.result = result;
  return answer;
}

Answer ask(std::vector<iovec> in, std::vector<iovec> out = {}) {
  Answer answer;
  answer.retry = true;
  answer.in = std::move(in);
  answer.out = std::move(out);
  return answer;
}

iovec area(std::uintptr_t address, std::size_t size) {
  return {reinterpret_cast<void*>(address), size};
}

template <typename T>
T bytes_as(std::span<const std::uint8_t> in, std::size_t at) {
  T value;
  std::memcpy(&value, in.data() + at, sizeof value);
  return value;
}

template <typename T>
void append_bytes(std::vector<std::uint8_t>& data, const T& value, std::size_t size = sizeof(T)) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
  data.insert(data.end(), bytes, bytes + size);
}

// i2c_transfer's retries: a lost arbitration is tried again, up to
// `retries` more times while the time-out lasts.
int transfer_with_retries(Bus& bus, tarnwick_msg* msgs, int count) {
  const auto begun = std::chrono::steady_clock::now();
  for (int attempt = 0;; ++attempt) {
    const int status = bus.transfer(bus.adapter, msgs, count);
    if (status != -EAGAIN || attempt >= bus.retries) return status;
    if (std::chrono::steady_clock::now() - begun > std::chrono::milliseconds(bus.timeout_ms)) {
      return status;
    }
  }
}

int transfer_context(void* context, tarnwick_msg* msgs, int count) {
  return transfer_with_retries(*static_cast<Bus*>(context), msgs, count);
}

// I2C_RDWR: the header, then the message table, then every write buffer
// to fetch and every read buffer to fill.
Answer rdwr(Bus& bus, std::uintptr_t arg, std::span<const std::uint8_t> in, std::size_t out_size) {
  constexpr std::size_t kHead = sizeof(i2c_rdwr_ioctl_data);
  if (in.size() < kHead) return ask({area(arg, kHead)});
  const auto head = bytes_as<i2c_rdwr_ioctl_data>(in, 0);
  if (head.msgs == nullptr || head.nmsgs == 0 || head.nmsgs > I2C_RDWR_IOCTL_MAX_MSGS) {
    return final(-EINVAL);
  }
  const std::size_t table = head.nmsgs * sizeof(i2c_msg);
  const auto table_address = reinterpret_cast<std::uintptr_t>(head.msgs);
  std::vector<iovec> wanted_in{area(arg, kHead), area(table_address, table)};
  if (in.size() < kHead + table) return ask(wanted_in);

  std::vector<tarnwick_msg> msgs(head.nmsgs);
  std::vector<iovec> wanted_out;
  std::size_t in_total = kHead + table;
  std::size_t out_total = 0;
  for (std::size_t i = 0; i < msgs.size(); ++i) {
    const auto msg = bytes_as<i2c_msg>(in, kHead + i * sizeof(i2c_msg));
    if (msg.len > TARNWICK_MAX_LEN) return final(-EINVAL);
    msgs[i] = {msg.addr, static_cast<std::uint16_t>(msg.flags & ~kDmaSafe), msg.len, msg.buf};
    if (msg.len == 0) continue;
    const iovec buffer = area(reinterpret_cast<std::uintptr_t>(msg.buf), msg.len);
    if (msg.flags & I2C_M_RD) {
      wanted_out.push_back(buffer);
      out_total += msg.len;
    } else {
      wanted_in.push_back(buffer);
      in_total += msg.len;
    }
  }
  // Sizes other than those asked for: the first look at the table, or a
  // table the caller changed meanwhile. Ask again for what it names now.
  if (in.size() != in_total || out_size != out_total) return ask(wanted_in, wanted_out);

  // The buffers are the caller's bytes as fetched, and room for what is
  // read; an empty message still gets a pointer the library accepts.
  std::vector<std::uint8_t> writes(in.begin() + static_cast<std::ptrdiff_t>(kHead + table), in.end());
  std::vector<std::uint8_t> reads(out_total);
  std::size_t write_at = 0, read_at = 0;
  static std::uint8_t empty;
  for (auto& msg : msgs) {
    if (msg.len == 0) {
      msg.buf = &empty;
    } else if (msg.flags & TARNWICK_M_RD) {
      msg.buf = reads.data() + read_at;
      read_at += msg.len;
    } else {
      msg.buf = writes.data() + write_at;
      write_at += msg.len;
    }
  }
  const int status = transfer_with_retries(bus, msgs.data(), static_cast<int>(msgs.size()));
  Answer answer = final(status);
  if (status >= 0) answer.data = std::move(reads);
  return answer;
}

bool known_size(std::uint32_t size) {
  switch (size) {
    case I2C_SMBUS_QUICK:
    case I2C_SMBUS_BYTE:
    case I2C_SMBUS_BYTE_DATA:
    case I2C_SMBUS_WORD_DATA:
    case I2C_SMBUS_PROC_CALL:
    case I2C_SMBUS_BLOCK_DATA:
    case I2C_SMBUS_I2C_BLOCK_BROKEN:
    case I2C_SMBUS_BLOCK_PROC_CALL:
    case I2C_SMBUS_I2C_BLOCK_DATA:
      return true;
  }
  return false;
}

// I2C_SMBUS: the header, then the data union as far as the size uses it,
// in and out as i2c-dev copies it.
Answer smbus(Bus& bus, const Client& client, std::uintptr_t arg, std::span<const std::uint8_t> in,
             std::size_t out_size) {
  constexpr std::size_t kHead = sizeof(i2c_smbus_ioctl_data);
  if (in.size() < kHead) return ask({area(arg, kHead)});
  const auto head = bytes_as<i2c_smbus_ioctl_data>(in, 0);
  if (!known_size(head.size)) return final(-EINVAL);
  if (head.read_write != I2C_SMBUS_READ && head.read_write != I2C_SMBUS_WRITE) {
    return final(-EINVAL);
  }
  smbus_emulation::Request request{client.address, client.pec, head.read_write, head.command, head.size};
  const bool writes = head.read_write == I2C_SMBUS_WRITE;
  // A quick command and a byte written carry no data.
  if (head.size == I2C_SMBUS_QUICK || (head.size == I2C_SMBUS_BYTE && writes)) {
    return final(smbus_emulation::transfer(transfer_context, &bus, request, nullptr));
  }
  if (head.data == nullptr) return final(-EINVAL);

  std::size_t data_size = sizeof(i2c_smbus_data::block);
  if (head.size == I2C_SMBUS_BYTE || head.size == I2C_SMBUS_BYTE_DATA) {
    data_size = sizeof(i2c_smbus_data::byte);
  } else if (head.size == I2C_SMBUS_WORD_DATA || head.size == I2C_SMBUS_PROC_CALL) {
    data_size = sizeof(i2c_smbus_data::word);
  }
  const bool calls = head.size == I2C_SMBUS_PROC_CALL || head.size == I2C_SMBUS_BLOCK_PROC_CALL;
  const bool needs_in = calls || head.size == I2C_SMBUS_I2C_BLOCK_DATA || writes;
  const bool needs_out = calls || !writes;
  const auto data_address = reinterpret_cast<std::uintptr_t>(head.data);
  const std::size_t in_total = kHead + (needs_in ? data_size : 0);
  const std::size_t out_total = needs_out ? data_size : 0;
  if (in.size() != in_total || out_size != out_total) {
    std::vector<iovec> wanted_in{area(arg, kHead)}, wanted_out;
    if (needs_in) wanted_in.push_back(area(data_address, data_size));
    if (needs_out) wanted_out.push_back(area(data_address, data_size));
    return ask(wanted_in, wanted_out);
  }

  i2c_smbus_data data{};
  if (needs_in) std::memcpy(&data, in.data() + kHead, data_size);
  if (head.size == I2C_SMBUS_I2C_BLOCK_BROKEN) {
    // The old numbering of I2C block transfers, whose reads took 32 bytes.
    request.size = I2C_SMBUS_I2C_BLOCK_DATA;
    if (!writes) data.block[0] = I2C_SMBUS_BLOCK_MAX;
  }
  const int status = smbus_emulation::transfer(transfer_context, &bus, request, &data);
  Answer answer = final(status);
  if (status == 0 && needs_out) append_bytes(answer.data, data, data_size);
  return answer;
}

}  // namespace

Bus make_bus(Transfer transfer, int adapter) {
  Bus bus;
  bus.transfer = transfer;
  bus.adapter = adapter;
  bus.bit_banged = adapter == 2 || adapter == 3;
  return bus;
}

unsigned long functionality(const Bus& bus) {
  return kEveryAdapter | (bus.bit_banged ? I2C_FUNC_NOSTART : 0);
}

Answer ioctl(Bus& bus, Client& client, unsigned int request, std::uintptr_t arg,
             std::span<const std::uint8_t> in, std::size_t out_size) {
  switch (request) {
    case I2C_SLAVE:
    case I2C_SLAVE_FORCE:
      // No kernel driver claims an address here, so none is busy.
      if (arg > kHighestAddress) return final(-EINVAL);
      client.address = static_cast<std::uint16_t>(arg);
      return final(0);
    case I2C_TENBIT:
      return final(arg != 0 ? -EOPNOTSUPP : 0);
    case I2C_PEC:
      client.pec = arg != 0;
      return final(0);
    case I2C_RETRIES:
      if (arg > INT_MAX) return final(-EINVAL);
      bus.retries = static_cast<int>(arg);
      return final(0);
    case I2C_TIMEOUT:
      // In units of 10 ms, as i2c-dev has always taken it.
      if (arg > INT_MAX) return final(-EINVAL);
      bus.timeout_ms = static_cast<std::int64_t>(arg) * 10;
      return final(0);
    case I2C_FUNCS: {
      if (arg == 0) return final(-EFAULT);
      const unsigned long funcs = functionality(bus);
      if (out_size != sizeof funcs) return ask({}, {area(arg, sizeof funcs)});
      Answer answer = final(0);
      append_bytes(answer.data, funcs);
      return answer;
    }
    case I2C_RDWR:
      if (arg == 0) return final(-EFAULT);
      return rdwr(bus, arg, in, out_size);
    case I2C_SMBUS:
      if (arg == 0) return final(-EFAULT);
      return smbus(bus, client, arg, in, out_size);
  }
  return final(-ENOTTY);
}

long read(Bus& bus, const Client& client, std::uint8_t* buf, std::size_t size) {
  const auto length = static_cast<std::uint16_t>(std::min<std::size_t>(size, TARNWICK_MAX_LEN));
  tarnwick_msg msg{client.address, TARNWICK_M_RD, length, buf};
  const int status = transfer_with_retries(bus, &msg, 1);
  return status == 1 ? length : (status < 0 ? status : -EIO);
}

long write(Bus& bus, const Client& client, const std::uint8_t* buf, std::size_t size) {
  const auto length = static_cast<std::uint16_t>(std::min<std::size_t>(size, TARNWICK_MAX_LEN));
  // The library only reads a written message's bytes.
  tarnwick_msg msg{client.address, 0, length, const_cast<std::uint8_t*>(buf)};
  const int status = transfer_with_retries(bus, &msg, 1);
  return status == 1 ? length : (status < 0 ? status : -EIO);
}

}  // namespace i2cdev
