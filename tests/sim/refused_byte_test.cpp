// The refusing-slave fault: every slave NACKs the n-th data byte written
// to it after its address and listens to nothing more until START or STOP.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/bus/i2c_bus.h"
#include "sim/devices/eeprom_24c02.h"
#include "tests/sim/faces.h"

namespace {

using tw_test::FaceKind;
using Bytes = std::vector<std::uint8_t>;

class Taker final : public sim::Device {
 public:
  explicit Taker(std::string& log) : log_(log) {}
  std::uint8_t address() const override { return 0x20; }
  void on_start() override { log_ += "S "; }
  void on_selected(bool read) override { log_ += read ? "r " : "w "; }
  bool on_write(std::uint8_t byte) override {
    log_ += "W" + std::to_string(byte) + " ";
    return true;
  }
  std::uint8_t on_read() override {
    log_ += "R ";
    return next_++;
  }
  void on_stop() override { log_ += "P "; }

 private:
  std::string& log_;
  std::uint8_t next_ = 0x40;
};

class RefusedByte : public ::testing::TestWithParam<FaceKind> {
 protected:
  RefusedByte() {
    bus.attach(std::make_unique<Taker>(log));
    auto part = std::make_unique<sim::Eeprom24c02>(0xA0, "", nullptr);
    eeprom = part.get();
    bus.attach(std::move(part));
    bus.on_violation([this](std::string_view line) { violations.emplace_back(line); });
    face = tw_test::make_face(GetParam(), bus);
  }
  void TearDown() override {
    EXPECT_TRUE(violations.empty()) << violations.front();
  }

  // START (or repeated START), the address, then the bytes: which of them
  // were acknowledged, address first.
  std::string transfer(std::uint8_t address, const Bytes& bytes) {
    face->start();
    std::string acks = face->write(address) ? "A" : "N";
    for (auto byte : bytes) acks += face->write(byte) ? "A" : "N";
    return acks;
  }

  sim::Bus bus;
  std::string log;
  sim::Eeprom24c02* eeprom = nullptr;
  std::unique_ptr<tw_test::Face> face;
  std::vector<std::string> violations;
};

TEST_P(RefusedByte, NthDataByteIsRefusedAndTheRestOfTheTransferIgnored) {
  bus.refuse_data_byte(3);
  EXPECT_EQ(transfer(0x20, {1, 2, 3, 4, 5}), "AAANNN");
  face->stop();
  EXPECT_EQ(log, "S w W1 W2 P ");
}

TEST_P(RefusedByte, CountStartsAgainAfterEachAddress) {
  bus.refuse_data_byte(2);
  EXPECT_EQ(transfer(0x20, {1}), "AA");
  // A repeated START re-addresses the slave: one more byte before the
  // refused one, as after a STOP.
  EXPECT_EQ(transfer(0x20, {2, 3, 4}), "AANN");
  face->stop();
  EXPECT_EQ(transfer(0x20, {5, 6}), "AAN");
  face->stop();
  EXPECT_EQ(log, "S w W1 S w W2 P S w W5 P ");
}

TEST_P(RefusedByte, ReadsAndAddressesAreNotRefused) {
  bus.refuse_data_byte(1);
  EXPECT_EQ(face->receive(0x20, 3), (Bytes{0x40, 0x41, 0x42}));
  EXPECT_EQ(transfer(0x20, {9}), "AN");
  face->stop();
  EXPECT_EQ(log, "S r R R R P S w P ");
}

TEST_P(RefusedByte, EepromProgramsOnlyTheBytesItTook) {
  bus.refuse_data_byte(3);
  // Word address 0x10, then 0x11 taken, 0x22 refused, 0x33 not listened to.
  EXPECT_EQ(transfer(0xA0, {0x10, 0x11, 0x22, 0x33}), "AAANN");
  face->stop();
  EXPECT_EQ(eeprom->contents()[0x10], 0x11);
  EXPECT_EQ(eeprom->contents()[0x11], 0xFF);
  EXPECT_EQ(eeprom->contents()[0x12], 0xFF);
}

TEST_P(RefusedByte, OffAgainEveryByteIsTaken) {
  bus.refuse_data_byte(1);
  bus.refuse_data_byte(0);
  EXPECT_EQ(transfer(0x20, {1, 2, 3}), "AAAA");
  face->stop();
}

INSTANTIATE_TEST_SUITE_P(BothFaces, RefusedByte,
                         ::testing::Values(FaceKind::line, FaceKind::byte),
                         [](const auto& info) { return tw_test::face_name(info.param); });

}  // namespace
