// The card against the devices of the bench: what goes out arrives, and
// what comes back reaches the host, through all the exports.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "tests/library/card_test_support.h"

namespace card_test {
namespace {

class OnTheBench : public CardTest {
 protected:
  void SetUp() override { load_and_init(); }

  // Writes `data` into the EEPROM at A0 from `word` on, in one page write.
  void write_eeprom(std::uint8_t word, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> message{word};
    message.insert(message.end(), data.begin(), data.end());
    ASSERT_EQ(0, card().I2C_Start());
    ASSERT_EQ(0, card().I2C_Address(0xA0));
    ASSERT_EQ(static_cast<int>(message.size()),
              card().I2C_Send(static_cast<std::int16_t>(message.size()), message.data()));
    ASSERT_EQ(0, card().I2C_Stop());
  }

  // Opens the bus and points the EEPROM at `word` for reading. A part busy
  // programming refuses its address, so the address is retried as a host
  // polls a real 24C02.
  void point_eeprom_at(std::uint8_t word) {
    ASSERT_EQ(0, card().I2C_Start());
    std::int16_t answer = 3;
    for (int attempt = 0; attempt < 100 && answer == 3; ++attempt) {
      answer = card().I2C_Address(0xA0);
    }
    ASSERT_EQ(0, answer);
    ASSERT_EQ(1, card().I2C_SendByte(word));
  }
};

TEST_F(OnTheBench, EepromWrittenThroughTheCardReadsBackTheSame) {
  const std::vector<std::uint8_t> data{0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0xFF, 0x5A};
  write_eeprom(0x20, data);
  point_eeprom_at(0x20);
  std::vector<std::uint8_t> back(data.size(), 0x11);
  EXPECT_EQ(static_cast<int>(back.size()),
            card().I2C_Read(static_cast<std::int16_t>(back.size()), back.data()));
  EXPECT_EQ(0, card().I2C_Stop());
  EXPECT_EQ(data, back);
}

TEST_F(OnTheBench, GetByteReturnsTheByteWidenedWithoutSign) {
  write_eeprom(0x40, {0xFF, 0x80, 0x00});
  point_eeprom_at(0x40);
  EXPECT_EQ(255, card().I2C_GetByte()) << "0xFF is a byte, not a failure";
  EXPECT_EQ(128, card().I2C_GetByte());
  EXPECT_EQ(0, card().I2C_GetByte());
  EXPECT_EQ(0, card().I2C_Stop());
  EXPECT_EQ(-1, card().I2C_GetByte()) << "closed bus";
}

TEST_F(OnTheBench, SendByteSendsExactlyThatOneByte) {
  ASSERT_EQ(0, card().I2C_Start());
  ASSERT_EQ(0, card().I2C_Address(0x40));
  EXPECT_EQ(1, card().I2C_SendByte(0xA5));
  Accesses expected;
  expected.init().start().address(0x47, 0x40).pin_wait().data_bytes({0xA5});
  EXPECT_TRUE(same_accesses(expected.lines(), finish()));
}

TEST_F(OnTheBench, ReadValuesInTheTraceAreTheBytesHandedToTheHost) {
  write_eeprom(0x60, {0x01, 0x02});
  point_eeprom_at(0x60);
  std::array<std::uint8_t, 2> back{};
  ASSERT_EQ(2, card().I2C_Read(2, back.data()));
  EXPECT_EQ(0x01, back[0]);
  EXPECT_EQ(0x02, back[1]);
  const Trace trace = finish_with_values();
  // The last two reads of S0 handed the data over.
  std::vector<std::string> s0_reads;
  for (const auto& line : trace) {
    if (line.rfind("R 0300 ", 0) == 0) {
      s0_reads.push_back(line);
    }
  }
  ASSERT_GE(s0_reads.size(), 2u);
  EXPECT_EQ("R 0300 01", s0_reads[s0_reads.size() - 2]);
  EXPECT_EQ("R 0300 02", s0_reads.back());
}

}  // namespace
}  // namespace card_test
