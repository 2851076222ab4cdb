// The card against the bench's real bus and 24C02 model: a page written
// and read back through the register sequences of the library's adapter,
// with nothing on the wires that the bus finds wrong.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "hardware/pcf8584_registers.h"
#include "sim/bench/pcf8584_model.h"
#include "sim/bus/i2c_bus.h"
#include "sim/devices/eeprom_24c02.h"

namespace {

using namespace pcf8584_registers;

class CardAndEeprom : public ::testing::Test {
 protected:
  CardAndEeprom() : card(bus, {}) {
    auto part = std::make_unique<sim::Eeprom24c02>(0xA0, "", [](std::string_view) {});
    eeprom = part.get();
    bus.attach(std::move(part));
    bus.on_violation([this](std::string_view line) { violations.emplace_back(line); });
    card.write(kS1, kSelectOwnAddress);
    card.write(kS0, 0x55);
    card.write(kS1, kSelectClock);
    card.write(kS0, 0x1C);
    card.write(kS1, kIdle);
  }

  // Each status read is 1 us of bench time; a byte at 90 kHz is 100 us.
  std::uint8_t status() {
    bus.tick();
    return card.read(kS1);
  }
  void pin_wait() {
    for (int poll = 0; poll < 1000 && (status() & PIN); ++poll) {
    }
  }

  void start_and_address(std::uint8_t address) {
    card.write(kS1, kEnableNoAck);
    card.write(kS0, 0xC0);
    card.write(kS1, kStart);
    card.write(kS1, kStopThenStart);
    card.write(kS0, address);
    pin_wait();
    ASSERT_EQ(status() & LRB, 0) << "24C02 should answer its address";
  }

  void send(std::uint8_t byte) {
    pin_wait();
    card.write(kS0, byte);
    pin_wait();
    ASSERT_EQ(status() & LRB, 0) << "24C02 should take byte " << int(byte);
  }

  void stop(bool after_read) {
    pin_wait();
    if (after_read) {
      card.write(kS1, kEnableNoAck);
      card.read(kS0);
      pin_wait();
    }
    card.write(kS1, kStop);
    card.write(kS0, 0xC2);
    EXPECT_EQ(status() & (BER | BB), BB);
    card.write(kS1, kInterfaceOff);
  }

  std::vector<std::string> violations;
  sim::Bus bus;
  sim::Pcf8584Model card;
  sim::Eeprom24c02* eeprom = nullptr;
};

TEST_F(CardAndEeprom, BytesWrittenThroughTheCardAreReadBackThroughIt) {
  start_and_address(0xA0);
  for (std::uint8_t byte : {0x10, 0x12, 0x34, 0x56}) send(byte);
  stop(false);
  EXPECT_EQ(eeprom->contents()[0x10], 0x12);
  EXPECT_EQ(eeprom->contents()[0x12], 0x56);

  // Pointer write, then repeated START in read direction, dummy read and
  // three bytes, as a send followed by a read does.
  start_and_address(0xA0);
  send(0x10);
  card.write(kS1, kRepeatedStart);
  card.write(kS0, 0xA1);
  pin_wait();
  ASSERT_EQ(status() & LRB, 0);
  card.read(kS0);
  std::vector<std::uint8_t> got;
  for (int i = 0; i < 3; ++i) {
    pin_wait();
    got.push_back(card.read(kS0));
  }
  stop(true);
  EXPECT_EQ(got, (std::vector<std::uint8_t>{0x12, 0x34, 0x56}));
  EXPECT_TRUE(violations.empty()) << violations.front();
}

}  // namespace
