// The 24C01, 24C02, 24C04, 24C08 and 24C16 of the bench, built from the
// device list as the bench builds them (the 24C02 as the bench's own
// EEPROM, without a file here), each written through one face of the bus
// and read through the same face or the other.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "sim/bus/i2c_bus.h"
#include "sim/devices/device_list.h"
#include "sim/devices/eeprom_24cxx.h"
#include "tests/sim/faces.h"

namespace {

using tw_test::FaceKind;
using Bytes = std::vector<std::uint8_t>;

// The data sheets' figures, apart from the model's own table.
struct Part {
  const char* name;
  unsigned blocks, size, page;
};

constexpr Part kParts[] = {
    {"24C01", 1, 128, 8},   {"24C02", 1, 256, 8},    {"24C04", 2, 512, 16},
    {"24C08", 4, 1024, 16}, {"24C16", 8, 2048, 16},
};

using Faces = std::pair<FaceKind, FaceKind>;  // the one that writes, the one that reads

class EepromParts : public ::testing::TestWithParam<std::tuple<Part, Faces>> {
 protected:
  EepromParts() {
    bus.on_violation([this](std::string_view line) { violations.emplace_back(line); });
    for (auto& device : sim::make_devices(std::string(part().name) + "@A0", "",
                                          [this](std::string_view line) {
                                            warnings.emplace_back(line);
                                          })) {
      bus.attach(std::move(device));
    }
    writer = tw_test::make_face(std::get<1>(GetParam()).first, bus);
    reader = tw_test::make_face(std::get<1>(GetParam()).second, bus);
  }
  void TearDown() override {
    EXPECT_TRUE(warnings.empty()) << warnings.front();
    EXPECT_EQ(bus.violations(), 0u) << (violations.empty() ? "" : violations.front());
  }

  static const Part& part() { return std::get<0>(GetParam()); }
  static std::uint8_t block_address(unsigned block) {
    return static_cast<std::uint8_t>(0xA0 + 2 * block);
  }
  static unsigned last_block() { return part().blocks - 1; }
  const std::vector<std::uint8_t>& memory() const {
    return dynamic_cast<const sim::EepromFace&>(*bus.device_at(0xA0)).chip().contents();
  }

  sim::Bus bus;
  std::unique_ptr<tw_test::Face> writer;
  std::unique_ptr<tw_test::Face> reader;
  std::vector<std::string> warnings;
  std::vector<std::string> violations;
};

TEST_P(EepromParts, EachBlockAddressReachesItsOwnBytesAndNoMore) {
  for (unsigned block = 0; block < 8; ++block) {
    EXPECT_EQ(bus.device_at(block_address(block)) != nullptr, block < part().blocks) << block;
  }
  for (unsigned block = 0; block < part().blocks; ++block) {
    ASSERT_TRUE(
        writer->send(block_address(block), {0x05, static_cast<std::uint8_t>(0x30 + block)}));
  }
  for (unsigned block = 0; block < part().blocks; ++block) {
    EXPECT_EQ(reader->read_from(block_address(block), 0x04, 3),
              (Bytes{0xFF, static_cast<std::uint8_t>(0x30 + block), 0xFF}))
        << "block " << block;
  }
}

TEST_P(EepromParts, APageWrittenThroughOneFaceReadsBackThroughTheOther) {
  const Bytes pattern{0x00, 0x11, 0x7F, 0x80, 0xA5, 0x5A, 0xFE, 0x01,
                      0x10, 0xEF, 0x55, 0xAA, 0x33, 0xCC, 0x0F, 0xF0};
  const Bytes page(pattern.begin(), pattern.begin() + part().page);
  Bytes message{0x10};
  message.insert(message.end(), page.begin(), page.end());
  EXPECT_TRUE(writer->send(block_address(last_block()), message));
  EXPECT_EQ(reader->read_from(block_address(last_block()), 0x10, page.size()), page);
  // The neighbours of the page are still erased.
  EXPECT_EQ(reader->read_from(block_address(last_block()), 0x0F, 1), Bytes{0xFF});
  EXPECT_EQ(reader->read_from(block_address(last_block()),
                              static_cast<std::uint8_t>(0x10 + part().page), 1),
            Bytes{0xFF});
}

TEST_P(EepromParts, APageWriteWrapsInsideThePartsPage) {
  const unsigned page = part().page;
  // Three bytes before the end of the sixth page (0x2D on the 24C02): those
  // three, then the first two of the same page.
  const unsigned sixth = 5 * page;
  EXPECT_TRUE(writer->send(block_address(0),
                           {static_cast<std::uint8_t>(sixth + page - 3), 1, 2, 3, 4, 5}));
  Bytes expected(page, 0xFF);
  expected[0] = 4;
  expected[1] = 5;
  expected[page - 3] = 1;
  expected[page - 2] = 2;
  expected[page - 1] = 3;
  EXPECT_EQ(reader->read_from(block_address(0), static_cast<std::uint8_t>(sixth), page),
            expected);
  EXPECT_EQ(reader->read_from(block_address(0), static_cast<std::uint8_t>(sixth + page), 1),
            Bytes{0xFF});

  // From the last byte of the second page of the last block: it, then the
  // first bytes of the same page.
  ASSERT_TRUE(writer->send(block_address(last_block()),
                           {static_cast<std::uint8_t>(2 * page - 1), 1, 2, 3}));
  expected.assign(2 * page + 1, 0xFF);
  expected[page] = 2;
  expected[page + 1] = 3;
  expected[2 * page - 1] = 1;
  EXPECT_EQ(reader->read_from(block_address(last_block()), 0, expected.size()), expected);

  // From the first byte of the fourth page, one byte short of a whole page:
  // programmed into that page, wherever in it the counter stopped.
  Bytes short_page{static_cast<std::uint8_t>(3 * page)};
  for (unsigned n = 1; n < page; ++n) short_page.push_back(static_cast<std::uint8_t>(n));
  ASSERT_TRUE(writer->send(block_address(0), short_page));
  expected.assign(short_page.begin() + 1, short_page.end());
  expected.push_back(0xFF);
  EXPECT_EQ(reader->read_from(block_address(0), static_cast<std::uint8_t>(3 * page), page),
            expected);
}

TEST_P(EepromParts, ABytePastTheEndOfThePageReplacesTheFirst) {
  Bytes message{0x40};
  for (unsigned n = 1; n <= part().page + 1; ++n) message.push_back(static_cast<std::uint8_t>(n));
  EXPECT_TRUE(writer->send(block_address(0), message));
  Bytes expected(message.begin() + 1, message.end() - 1);
  expected[0] = static_cast<std::uint8_t>(part().page + 1);
  EXPECT_EQ(reader->read_from(block_address(0), 0x40, part().page), expected);
}

TEST_P(EepromParts, ARepeatedStartBeforeTheStopLosesThePageWrite) {
  EXPECT_TRUE(writer->send(block_address(0), {0x50, 0xAA, 0xBB}, /*stop_after=*/false));
  // The repeated START of the read comes before any STOP.
  EXPECT_EQ(writer->receive(block_address(0), 2), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(reader->read_from(block_address(0), 0x50, 2), (Bytes{0xFF, 0xFF}));

  // The same when the repeated START sets the word address to read from.
  ASSERT_TRUE(writer->send(block_address(0), {0x20, 0xAA}, /*stop_after=*/false));
  EXPECT_EQ(writer->read_from(block_address(0), 0x20, 1), Bytes{0xFF});
}

TEST_P(EepromParts, AStopAfterTheWordAddressOnlyMovesThePointer) {
  EXPECT_TRUE(writer->send(block_address(0), {0x60, 0x42}));
  EXPECT_TRUE(writer->send(block_address(0), {0x60}));
  EXPECT_EQ(memory()[0x60], 0x42);
  // The current-address read starts where the word address pointed.
  EXPECT_EQ(reader->receive(block_address(0), 2), (Bytes{0x42, 0xFF}));
}

TEST_P(EepromParts, AWordAddressBeyondThePartIsTakenModuloItsSize) {
  // The 24C01 ignores the top bit of its word address; a block of 256
  // bytes has none to ignore.
  const unsigned lands_at = 0x85 % std::min(part().size, 256u);
  ASSERT_TRUE(writer->send(block_address(0), {0x85, 0x42}));
  EXPECT_EQ(reader->read_from(block_address(0), static_cast<std::uint8_t>(lands_at), 1),
            Bytes{0x42});
  EXPECT_EQ(memory()[lands_at], 0x42);
}

TEST_P(EepromParts, ASequentialReadRunsAcrossBlocksAndWrapsAtTheEnd) {
  const auto top = static_cast<std::uint8_t>(part().size - 1 - last_block() * 256);
  ASSERT_TRUE(writer->send(block_address(last_block()), {top, 0xE1}));
  ASSERT_TRUE(writer->send(block_address(0), {0x00, 0xE2}));
  if (part().blocks > 1) {
    ASSERT_TRUE(writer->send(block_address(1), {0x00, 0xE3}));
  }
  EXPECT_EQ(reader->read_from(block_address(last_block()), top, 2), (Bytes{0xE1, 0xE2}));
  if (part().blocks > 1) {
    EXPECT_EQ(reader->read_from(block_address(0), 0xFF, 2), (Bytes{0xFF, 0xE3}));
  }

  // The last two bytes of the part written in one page write (0xFE and
  // 0xFF on the 24C02), and four read from the first of them.
  const auto below_top = static_cast<std::uint8_t>(top - 1);
  EXPECT_TRUE(writer->send(block_address(last_block()), {below_top, 0xE0, 0xE4}));
  EXPECT_EQ(reader->read_from(block_address(last_block()), below_top, 4),
            (Bytes{0xE0, 0xE4, 0xE2, 0xFF}));
}

TEST_P(EepromParts, AcknowledgesAgainRightAfterTheStopOfAWrite) {
  EXPECT_TRUE(writer->send(block_address(0), {0x70, 1}));
  EXPECT_TRUE(reader->send(block_address(0), {0x71, 2}));
  EXPECT_EQ(reader->read_from(block_address(0), 0x70, 2), (Bytes{1, 2}));
}

TEST_P(EepromParts, NobodyAcknowledgesAnAddressPastTheLastBlock) {
  writer->start();
  EXPECT_FALSE(writer->write(block_address(part().blocks)));
  EXPECT_FALSE(writer->write(0x00));  // the bytes after it find nobody either
  writer->stop();
  reader->start();
  EXPECT_FALSE(reader->write(0x31));
  reader->stop();
  EXPECT_TRUE(reader->send(block_address(0), {}));
}

INSTANTIATE_TEST_SUITE_P(
    Parts, EepromParts,
    ::testing::Combine(::testing::ValuesIn(kParts),
                       ::testing::Values(Faces{FaceKind::line, FaceKind::byte},
                                         Faces{FaceKind::byte, FaceKind::line},
                                         Faces{FaceKind::line, FaceKind::line},
                                         Faces{FaceKind::byte, FaceKind::byte})),
    [](const auto& info) {
      const Faces& faces = std::get<1>(info.param);
      return std::string("C") + (std::get<0>(info.param).name + 3) + "_WriteBy" +
             tw_test::face_name(faces.first) + "ReadBy" + tw_test::face_name(faces.second);
    });

TEST(EepromDeviceList, BlockAddressesMustBeClearAndFree) {
  struct Case {
    const char* list;
    std::vector<unsigned> addresses;
    std::string warning;
  };
  const Case cases[] = {
      {"24C16@A0", {0xA0, 0xA2, 0xA4, 0xA6, 0xA8, 0xAA, 0xAC, 0xAE}, ""},
      {"24C04@A4 24C08@A8", {0xA4, 0xA6, 0xA8, 0xAA, 0xAC, 0xAE}, ""},
      {"24C16@A2",
       {},
       "Devices: \"24C16@A2\": a 24C16 takes the 8 addresses from A0 on, so its address has "
       "the block bits clear; entry ignored"},
      {"LM75@A6 24C08@A0",
       {0xA6},
       "Devices: \"24C08@A0\": address A6 is already taken by \"LM75@A6\"; entry ignored"},
      {"24C04@A0 LM75@A2",
       {0xA0, 0xA2},
       "Devices: \"LM75@A2\": address A2 is already taken by \"24C04@A0\"; entry ignored"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> warnings;
    std::vector<unsigned> addresses;
    for (const auto& device : sim::make_devices(c.list, "", [&](std::string_view line) {
           warnings.emplace_back(line);
         })) {
      addresses.push_back(device->address());
    }
    EXPECT_EQ(addresses, c.addresses) << c.list;
    EXPECT_EQ(warnings, c.warning.empty() ? std::vector<std::string>{}
                                          : std::vector<std::string>{c.warning})
        << c.list;
  }
}

}  // namespace
