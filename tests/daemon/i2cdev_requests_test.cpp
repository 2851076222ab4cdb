// i2c-dev's requests as tarnwick-i2cdev answers them, on the bench through
// the library as a host loads it. Each ioctl runs as the kernel runs an
// unrestricted ioctl of a CUSE device: called with nothing, then again
// with the caller's areas it asked for, until the answer is final, whose
// bytes go to the areas it named to fill.
#include <gtest/gtest.h>

#include <linux/i2c-dev.h>
#include <linux/i2c.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "daemon/i2cdev_requests.h"
#include "utilities/smbus_emulation.h"
#include "tests/support/ini.h"
#include "tests/support/tarnwick_harness.h"

namespace {

using i2cdev::Answer;

constexpr std::uint16_t kEeprom = 0x50;   // 24C02
constexpr std::uint16_t kSensor = 0x48;   // LM75
constexpr std::uint16_t kPort = 0x20;     // PCF8574
constexpr std::uint16_t kClock = 0x68;    // DS1307
constexpr std::uint16_t kNobody = 0x11;

struct Adapter {
  const char* name;
  int interface;
  test_kit::Section section;
};

const std::array<Adapter, 3> kAdapters{{
    {"Card", 1, {"I2C Card", {{"Nops", "0"}}}},
    {"Philips", 2, {"I2C para", {{"Nops", "0"}}}},
    {"Custom", 3, {"I2C para Gen", test_kit::custom_wired_like_philips()}},
}};

void PrintTo(const Adapter& adapter, std::ostream* os) { *os << adapter.name; }

// The kernel's side of one ioctl; -errno or the result. `meddle` runs
// between rounds, as another thread of the caller might.
long kernel_ioctl(i2cdev::Bus& bus, i2cdev::Client& client, unsigned int request, const void* arg,
                  int* rounds = nullptr, const std::function<void()>& meddle = {}) {
  std::vector<std::uint8_t> in;
  std::size_t out_size = 0;
  std::vector<iovec> out_areas;
  for (int round = 1; round <= 8; ++round) {
    const Answer answer = i2cdev::ioctl(bus, client, request, reinterpret_cast<std::uintptr_t>(arg),
                                        in, out_size);
    if (!answer.retry) {
      if (rounds != nullptr) *rounds = round;
      EXPECT_LE(answer.data.size(), out_size) << "more bytes than room";
      std::size_t at = 0;
      for (const auto& area : out_areas) {
        const std::size_t n = std::min(area.iov_len, answer.data.size() - at);
        if (n != 0) std::memcpy(area.iov_base, answer.data.data() + at, n);
        at += n;
      }
      return answer.result;
    }
    if (meddle) meddle();
    in.clear();
    for (const auto& area : answer.in) {
      const auto* bytes = static_cast<const std::uint8_t*>(area.iov_base);
      in.insert(in.end(), bytes, bytes + area.iov_len);
    }
    out_areas = answer.out;
    out_size = 0;
    for (const auto& area : out_areas) out_size += area.iov_len;
  }
  ADD_FAILURE() << "no final answer after 8 rounds";
  return 0;
}

class OnTheBench : public ::testing::TestWithParam<Adapter> {
 protected:
  void SetUp() override {
    env.configure({GetParam().section});
    lib.emplace();
    auto transfer = reinterpret_cast<i2cdev::Transfer>(lib->symbol("tarnwick_transfer"));
    ASSERT_NE(transfer, nullptr);
    bus = i2cdev::make_bus(transfer, GetParam().interface);
  }

  long smbus(std::uint16_t address, std::uint8_t read_write, std::uint8_t command,
             std::uint32_t size, i2c_smbus_data* data) {
    kernel_ioctl(bus, client, I2C_SLAVE, reinterpret_cast<void*>(std::uintptr_t{address}));
    i2c_smbus_ioctl_data args{read_write, command, size, data};
    return kernel_ioctl(bus, client, I2C_SMBUS, &args);
  }

  harness::Environment env;
  std::optional<harness::Library> lib;
  i2cdev::Bus bus;
  i2cdev::Client client;
};

// ------------------------------------------------------------- SMBus --

struct SmbusCase {
  const char* what;
  std::uint16_t address;
  std::uint8_t read_write;
  std::uint8_t command;
  std::uint32_t size;
  std::vector<std::uint8_t> data;  // the union's first bytes given
  long result;
  std::vector<std::uint8_t> expected;  // its first bytes afterwards
};

// In order: later rows read what earlier ones wrote.
const std::vector<SmbusCase> kSmbusCases{
    {"quick write to the EEPROM", kEeprom, I2C_SMBUS_WRITE, 0, I2C_SMBUS_QUICK, {}, 0, {}},
    {"quick write to nobody", kNobody, I2C_SMBUS_WRITE, 0, I2C_SMBUS_QUICK, {}, -ENXIO, {}},
    {"quick read: no byte to clock", kEeprom, I2C_SMBUS_READ, 0, I2C_SMBUS_QUICK, {}, -EOPNOTSUPP, {}},
    {"byte written to the port latch", kPort, I2C_SMBUS_WRITE, 0x5A, I2C_SMBUS_BYTE, {}, 0, {}},
    {"byte read from the port pins", kPort, I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE, {0}, 0, {0x5A}},
    {"LM75 temperature word, 25.0 degC", kSensor, I2C_SMBUS_READ, 0, I2C_SMBUS_WORD_DATA, {0, 0}, 0, {0x19, 0x00}},
    {"LM75 configuration byte", kSensor, I2C_SMBUS_READ, 1, I2C_SMBUS_BYTE_DATA, {0xEE}, 0, {0x00}},
    {"LM75 TOS word written, 70 degC", kSensor, I2C_SMBUS_WRITE, 3, I2C_SMBUS_WORD_DATA, {0x46, 0x00}, 0, {}},
    {"LM75 TOS word read back", kSensor, I2C_SMBUS_READ, 3, I2C_SMBUS_WORD_DATA, {0, 0}, 0, {0x46, 0x00}},
    {"LM75 THYST by process call", kSensor, I2C_SMBUS_WRITE, 2, I2C_SMBUS_PROC_CALL, {0x48, 0x00}, 0, {0x48, 0x00}},
    {"EEPROM I2C block written", kEeprom, I2C_SMBUS_WRITE, 0x10, I2C_SMBUS_I2C_BLOCK_DATA, {4, 1, 2, 3, 4}, 0, {}},
    {"EEPROM I2C block read back", kEeprom, I2C_SMBUS_READ, 0x10, I2C_SMBUS_I2C_BLOCK_DATA, {4}, 0, {4, 1, 2, 3, 4}},
    {"EEPROM byte read", kEeprom, I2C_SMBUS_READ, 0x12, I2C_SMBUS_BYTE_DATA, {0}, 0, {3}},
    {"old I2C block numbering reads 32", kEeprom, I2C_SMBUS_READ, 0x10, I2C_SMBUS_I2C_BLOCK_BROKEN, {}, 0, {32, 1, 2, 3, 4}},
    {"DS1307 RAM byte written", kClock, I2C_SMBUS_WRITE, 0x08, I2C_SMBUS_BYTE_DATA, {0xA5}, 0, {}},
    {"DS1307 RAM byte read back", kClock, I2C_SMBUS_READ, 0x08, I2C_SMBUS_BYTE_DATA, {0}, 0, {0xA5}},
    {"SMBus block written with its count", kClock, I2C_SMBUS_WRITE, 0x10, I2C_SMBUS_BLOCK_DATA, {3, 7, 8, 9}, 0, {}},
    {"the count is on the wire", kClock, I2C_SMBUS_READ, 0x10, I2C_SMBUS_I2C_BLOCK_DATA, {4}, 0, {4, 3, 7, 8, 9}},
    {"block read: length from the slave", kClock, I2C_SMBUS_READ, 0x10, I2C_SMBUS_BLOCK_DATA, {}, -EOPNOTSUPP, {}},
    {"block process call", kClock, I2C_SMBUS_WRITE, 0x10, I2C_SMBUS_BLOCK_PROC_CALL, {1, 1}, -EOPNOTSUPP, {}},
    {"I2C block of 33", kEeprom, I2C_SMBUS_READ, 0, I2C_SMBUS_I2C_BLOCK_DATA, {33}, -EINVAL, {}},
    {"SMBus block of 33", kClock, I2C_SMBUS_WRITE, 0, I2C_SMBUS_BLOCK_DATA, {33}, -EINVAL, {}},
    {"unknown size", kEeprom, I2C_SMBUS_READ, 0, 9, {0}, -EINVAL, {}},
    {"unknown direction", kEeprom, 2, 0, I2C_SMBUS_BYTE_DATA, {0}, -EINVAL, {}},
    {"byte of nobody", kNobody, I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE_DATA, {0}, -ENXIO, {}},
};

TEST_P(OnTheBench, EverySmbusSizeAgainstTheBenchParts) {
  for (const auto& c : kSmbusCases) {
    i2c_smbus_data data{};
    std::copy(c.data.begin(), c.data.end(), data.block);
    EXPECT_EQ(smbus(c.address, c.read_write, c.command, c.size, &data), c.result) << c.what;
    for (std::size_t i = 0; i < c.expected.size(); ++i) {
      EXPECT_EQ(data.block[i], c.expected[i]) << c.what << ", byte " << i;
    }
  }
}

TEST_P(OnTheBench, SmbusRefusesAMissingDataPointerAndArgument) {
  EXPECT_EQ(smbus(kEeprom, I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE_DATA, nullptr), -EINVAL);
  EXPECT_EQ(kernel_ioctl(bus, client, I2C_SMBUS, nullptr), -EFAULT);
}

// The port latch takes every byte written: with PEC it ends holding the
// CRC of the address byte and the command.
TEST_P(OnTheBench, PecIsSentAfterAWriteAndCheckedAfterARead) {
  ASSERT_EQ(kernel_ioctl(bus, client, I2C_PEC, reinterpret_cast<void*>(1)), 0);
  EXPECT_EQ(smbus(kPort, I2C_SMBUS_WRITE, 0x3C, I2C_SMBUS_BYTE, nullptr), 0);
  const std::uint8_t sent[] = {kPort << 1, 0x3C};
  const std::uint8_t pec = smbus_emulation::pec(0, sent, 2);
  std::uint8_t latch = 0;
  ASSERT_EQ(i2cdev::read(bus, client, &latch, 1), 1);
  EXPECT_EQ(latch, pec);

  // The pins repeat: a PEC byte equal to the datum matches only by chance.
  i2c_smbus_data data{};
  const std::uint8_t received[] = {kPort << 1 | 1, pec};
  const long expected = smbus_emulation::pec(0, received, 2) == pec ? 0 : -EBADMSG;
  EXPECT_EQ(smbus(kPort, I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE, &data), expected);
}

// ------------------------------------------------------------ I2C_RDWR --

struct Rdwr {
  std::vector<i2c_msg> msgs;
  i2c_rdwr_ioctl_data args{};
  Rdwr& add(std::uint16_t address, std::uint16_t flags, std::vector<std::uint8_t>& buf) {
    msgs.push_back({address, flags, static_cast<std::uint16_t>(buf.size()), buf.data()});
    return *this;
  }
  const i2c_rdwr_ioctl_data* arg() {
    args = {msgs.empty() ? nullptr : msgs.data(), static_cast<std::uint32_t>(msgs.size())};
    return &args;
  }
};

TEST_P(OnTheBench, CombinedWriteThenReadInThreeRounds) {
  std::vector<std::uint8_t> page{0x20, 0xDE, 0xAD, 0xBE}, word{0x20}, back(3);
  Rdwr write;
  ASSERT_EQ(kernel_ioctl(bus, client, I2C_RDWR, write.add(kEeprom, 0, page).arg()), 1);
  Rdwr read;
  read.add(kEeprom, 0, word).add(kEeprom, I2C_M_RD, back);
  int rounds = 0;
  EXPECT_EQ(kernel_ioctl(bus, client, I2C_RDWR, read.arg(), &rounds), 2);
  EXPECT_EQ(rounds, 4) << "nothing, the header, the table, the buffers";
  EXPECT_EQ(back, (std::vector<std::uint8_t>{0xDE, 0xAD, 0xBE}));

  Rdwr nobody;
  EXPECT_EQ(kernel_ioctl(bus, client, I2C_RDWR, nobody.add(kNobody, 0, word).arg()), -ENXIO);
}

TEST_P(OnTheBench, RdwrLimitsOf42MessagesAnd8192Bytes) {
  std::vector<std::vector<std::uint8_t>> bytes(43, std::vector<std::uint8_t>(1));
  Rdwr most, too_many;
  for (int i = 0; i < 42; ++i) most.add(kPort, I2C_M_RD, bytes[i]);
  for (auto& b : bytes) too_many.add(kPort, I2C_M_RD, b);
  EXPECT_EQ(kernel_ioctl(bus, client, I2C_RDWR, most.arg()), 42);
  EXPECT_EQ(kernel_ioctl(bus, client, I2C_RDWR, too_many.arg()), -EINVAL);

  std::vector<std::uint8_t> longest(8192), too_long(8193), at{0};
  Rdwr full, over;
  full.add(kEeprom, 0, at).add(kEeprom, I2C_M_RD, longest);
  over.add(kEeprom, I2C_M_RD, too_long);
  EXPECT_EQ(kernel_ioctl(bus, client, I2C_RDWR, full.arg()), 2);
  EXPECT_EQ(kernel_ioctl(bus, client, I2C_RDWR, over.arg()), -EINVAL);

  Rdwr none;
  EXPECT_EQ(kernel_ioctl(bus, client, I2C_RDWR, none.arg()), -EINVAL);
  i2c_rdwr_ioctl_data null_table{nullptr, 1};
  EXPECT_EQ(kernel_ioctl(bus, client, I2C_RDWR, &null_table), -EINVAL);
}

// A caller that lengthens a message between the rounds gets its new
// length asked for, never bytes past what was fetched.
TEST_P(OnTheBench, ATableChangedBetweenRoundsIsAskedForAgain) {
  client.address = kEeprom;
  const std::uint8_t page[] = {0x20, 0xDE, 0xAD, 0xBE};
  ASSERT_EQ(i2cdev::write(bus, client, page, sizeof page), 4);
  std::vector<std::uint8_t> at{0x20}, back(16, 0);
  Rdwr read;
  read.add(kEeprom, 0, at).add(kEeprom, I2C_M_RD, back);
  read.msgs[1].len = 1;
  int rounds = 0, meddled = 0;
  const long result = kernel_ioctl(bus, client, I2C_RDWR, read.arg(), &rounds, [&] {
    if (++meddled == 3) read.msgs[1].len = 16;
  });
  EXPECT_EQ(result, 2);
  EXPECT_EQ(rounds, 5);
  EXPECT_EQ(back[0], 0xDE);
  EXPECT_EQ(back[2], 0xBE);
}

// -------------------------------------------------------- read, write --

TEST_P(OnTheBench, ReadAndWriteAreOneMessageToTheSlaveAddress) {
  client.address = kEeprom;
  const std::uint8_t cell[] = {0x30, 0x77};
  EXPECT_EQ(i2cdev::write(bus, client, cell, 2), 2);
  EXPECT_EQ(i2cdev::write(bus, client, cell, 1), 1);
  std::vector<std::uint8_t> back(9000);
  EXPECT_EQ(i2cdev::read(bus, client, back.data(), back.size()), 8192) << "cut to i2c-dev's 8192";
  EXPECT_EQ(back[0], 0x77);
  client.address = kNobody;
  EXPECT_EQ(i2cdev::read(bus, client, back.data(), 1), -ENXIO);
}

INSTANTIATE_TEST_SUITE_P(Adapters, OnTheBench, ::testing::ValuesIn(kAdapters),
                         [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------ settings, functionality --

struct Setting {
  const char* what;
  unsigned int request;
  unsigned long arg;
  long result;
};

const std::array<Setting, 11> kSettings{{
    {"I2C_SLAVE 0x50", I2C_SLAVE, 0x50, 0},
    {"I2C_SLAVE 0x80, no 10-bit", I2C_SLAVE, 0x80, -EINVAL},
    {"I2C_SLAVE_FORCE 0x7F", I2C_SLAVE_FORCE, 0x7F, 0},
    {"I2C_SLAVE_FORCE 0x3FF", I2C_SLAVE_FORCE, 0x3FF, -EINVAL},
    {"I2C_TENBIT 1", I2C_TENBIT, 1, -EOPNOTSUPP},
    {"I2C_TENBIT 0", I2C_TENBIT, 0, 0},
    {"I2C_PEC 1", I2C_PEC, 1, 0},
    {"I2C_RETRIES past INT_MAX", I2C_RETRIES, 1UL + INT_MAX, -EINVAL},
    {"I2C_TIMEOUT past INT_MAX", I2C_TIMEOUT, 1UL + INT_MAX, -EINVAL},
    {"I2C_TIMEOUT at INT_MAX", I2C_TIMEOUT, INT_MAX, 0},
    {"unknown request", 0x0799, 0, -ENOTTY},
}};

TEST(Settings, ScalarRequestsAndTheirRefusals) {
  for (const auto& s : kSettings) {
    i2cdev::Bus bus = i2cdev::make_bus(nullptr, 2);
    i2cdev::Client client;
    EXPECT_EQ(kernel_ioctl(bus, client, s.request, reinterpret_cast<void*>(s.arg)), s.result) << s.what;
  }
}

struct Functions {
  int adapter;
  bool nostart;
};
constexpr std::array<Functions, 4> kFunctions{{{0, false}, {1, false}, {2, true}, {3, true}}};

TEST(Settings, FunctionalityIsWhatEachAdapterMakes) {
  for (const auto& f : kFunctions) {
    i2cdev::Bus bus = i2cdev::make_bus(nullptr, f.adapter);
    i2cdev::Client client;
    unsigned long funcs = 0;
    ASSERT_EQ(kernel_ioctl(bus, client, I2C_FUNCS, &funcs), 0);
    EXPECT_EQ(funcs & I2C_FUNC_SMBUS_EMUL, unsigned{I2C_FUNC_SMBUS_EMUL}) << f.adapter;
    EXPECT_TRUE(funcs & I2C_FUNC_I2C) << f.adapter;
    EXPECT_FALSE(funcs & (I2C_FUNC_10BIT_ADDR | I2C_FUNC_SMBUS_READ_BLOCK_DATA |
                          I2C_FUNC_SMBUS_BLOCK_PROC_CALL | I2C_FUNC_PROTOCOL_MANGLING))
        << f.adapter;
    EXPECT_EQ((funcs & I2C_FUNC_NOSTART) != 0, f.nostart) << f.adapter;
  }
}

// Lost arbitration, as the card reports it.
int arbitration_calls = 0;
int always_lost(int, tarnwick_msg*, int) {
  ++arbitration_calls;
  return -EAGAIN;
}

TEST(Settings, RetriesAfterALostArbitration) {
  for (const unsigned long retries : {0UL, 2UL}) {
    i2cdev::Bus bus = i2cdev::make_bus(always_lost, 1);
    i2cdev::Client client;
    ASSERT_EQ(kernel_ioctl(bus, client, I2C_RETRIES, reinterpret_cast<void*>(retries)), 0);
    arbitration_calls = 0;
    std::uint8_t byte = 0;
    EXPECT_EQ(i2cdev::read(bus, client, &byte, 1), -EAGAIN);
    EXPECT_EQ(arbitration_calls, static_cast<int>(retries) + 1);
  }
}

TEST(Pec, Crc8OfTheSmbusCheckString) {
  const std::uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(smbus_emulation::pec(0, check, sizeof check), 0xF4);
}

}  // namespace
