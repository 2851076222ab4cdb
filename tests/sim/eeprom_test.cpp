// The 24C02 on the bench bus, driven through both faces.
#include <gtest/gtest.h>

#include <vector>

#include "sim/bus/i2c_bus.h"
#include "sim/devices/eeprom_24c02.h"
#include "tests/sim/faces.h"

namespace {

using tw_test::Face;
using tw_test::FaceKind;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kEeprom = 0xA0;

class EepromOnBus : public ::testing::TestWithParam<std::pair<FaceKind, FaceKind>> {
 protected:
  EepromOnBus() {
    auto part = std::make_unique<sim::Eeprom24c02>(kEeprom, "", nullptr);
    eeprom = part.get();
    bus.attach(std::move(part));
    bus.on_violation([this](std::string_view line) { violations.emplace_back(line); });
    writer = tw_test::make_face(GetParam().first, bus);
    reader = tw_test::make_face(GetParam().second, bus);
  }
  void TearDown() override {
    EXPECT_EQ(bus.violations(), 0u) << (violations.empty() ? "" : violations.front());
  }

  sim::Bus bus;
  sim::Eeprom24c02* eeprom = nullptr;
  std::unique_ptr<Face> writer;
  std::unique_ptr<Face> reader;
  std::vector<std::string> violations;
};

TEST_P(EepromOnBus, PageWrittenThroughOneFaceReadsBackThroughTheOther) {
  const Bytes page{0x00, 0x11, 0x7F, 0x80, 0xA5, 0x5A, 0xFE, 0x01};
  Bytes message{0x10};
  message.insert(message.end(), page.begin(), page.end());
  EXPECT_TRUE(writer->send(kEeprom, message));
  EXPECT_EQ(reader->read_from(kEeprom, 0x10, 8), page);
  // The neighbours of the page are still erased.
  EXPECT_EQ(reader->read_from(kEeprom, 0x0F, 1), Bytes{0xFF});
  EXPECT_EQ(reader->read_from(kEeprom, 0x18, 1), Bytes{0xFF});
}

TEST_P(EepromOnBus, PageWriteWrapsInsideItsEightBytePage) {
  // Starting at 0x2D: 0x2D, 0x2E, 0x2F, then back to 0x28, 0x29.
  EXPECT_TRUE(writer->send(kEeprom, {0x2D, 1, 2, 3, 4, 5}));
  EXPECT_EQ(reader->read_from(kEeprom, 0x28, 8),
            (Bytes{4, 5, 0xFF, 0xFF, 0xFF, 1, 2, 3}));
  EXPECT_EQ(reader->read_from(kEeprom, 0x30, 1), Bytes{0xFF});
}

TEST_P(EepromOnBus, NinthByteOfAPageWriteReplacesTheFirst) {
  EXPECT_TRUE(writer->send(kEeprom, {0x40, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(reader->read_from(kEeprom, 0x40, 8), (Bytes{9, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_P(EepromOnBus, RepeatedStartBeforeStopLosesThePageWrite) {
  EXPECT_TRUE(writer->send(kEeprom, {0x50, 0xAA, 0xBB}, /*stop_after=*/false));
  // The repeated START of the read comes before any STOP.
  EXPECT_EQ(writer->receive(kEeprom, 2), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(reader->read_from(kEeprom, 0x50, 2), (Bytes{0xFF, 0xFF}));
}

TEST_P(EepromOnBus, StopAfterTheWordAddressOnlyMovesThePointer) {
  EXPECT_TRUE(writer->send(kEeprom, {0x60, 0x42}));
  EXPECT_TRUE(writer->send(kEeprom, {0x60}));
  EXPECT_EQ(eeprom->contents()[0x60], 0x42);
  // The current-address read starts where the word address pointed.
  EXPECT_EQ(reader->receive(kEeprom, 2), (Bytes{0x42, 0xFF}));
}

TEST_P(EepromOnBus, SequentialReadWrapsFrom0xFFTo0x00) {
  EXPECT_TRUE(writer->send(kEeprom, {0xFE, 0xE0, 0xE1}));
  EXPECT_TRUE(writer->send(kEeprom, {0x00, 0x0A}));
  EXPECT_EQ(reader->read_from(kEeprom, 0xFE, 4), (Bytes{0xE0, 0xE1, 0x0A, 0xFF}));
}

TEST_P(EepromOnBus, AcknowledgesAgainRightAfterTheStopOfAWrite) {
  EXPECT_TRUE(writer->send(kEeprom, {0x70, 1}));
  EXPECT_TRUE(reader->send(kEeprom, {0x71, 2}));
  EXPECT_EQ(reader->read_from(kEeprom, 0x70, 2), (Bytes{1, 2}));
}

TEST_P(EepromOnBus, NobodyAcknowledgesAnUnknownAddress) {
  writer->start();
  EXPECT_FALSE(writer->write(0xA2));
  EXPECT_FALSE(writer->write(0x00));  // the bytes after it find nobody either
  writer->stop();
  reader->start();
  EXPECT_FALSE(reader->write(0x31));
  reader->stop();
  EXPECT_TRUE(reader->send(kEeprom, {}));
}

INSTANTIATE_TEST_SUITE_P(
    Faces, EepromOnBus,
    ::testing::Values(std::pair{FaceKind::line, FaceKind::byte},
                      std::pair{FaceKind::byte, FaceKind::line},
                      std::pair{FaceKind::line, FaceKind::line},
                      std::pair{FaceKind::byte, FaceKind::byte}),
    [](const auto& info) {
      return "WriteBy" + tw_test::face_name(info.param.first) + "ReadBy" +
             tw_test::face_name(info.param.second);
    });

}  // namespace
