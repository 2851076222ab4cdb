// The 24C01, 24C04, 24C08 and 24C16 of the bench, built from the device
// list as the bench builds them, on both faces of the bus.
#include <gtest/gtest.h>

#include <vector>

#include "sim/bus/i2c_bus.h"
#include "sim/devices/device_list.h"
#include "tests/sim/faces.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Part {
  const char* name;
  unsigned blocks, size, page;
};

constexpr Part kParts[] = {
    {"24C01", 1, 128, 8},
    {"24C04", 2, 512, 16},
    {"24C08", 4, 1024, 16},
    {"24C16", 8, 2048, 16},
};

class EepromFamily
    : public ::testing::TestWithParam<std::tuple<Part, tw_test::FaceKind>> {
 protected:
  EepromFamily() {
    for (auto& device : sim::make_devices(std::string(part().name) + "@A0", "",
                                          [this](std::string_view line) {
                                            warnings.emplace_back(line);
                                          })) {
      bus.attach(std::move(device));
    }
    face = tw_test::make_face(std::get<1>(GetParam()), bus);
  }
  void TearDown() override {
    EXPECT_TRUE(warnings.empty()) << warnings.front();
    EXPECT_EQ(bus.violations(), 0u);
  }
  static const Part& part() { return std::get<0>(GetParam()); }
  static std::uint8_t block_address(unsigned block) {
    return static_cast<std::uint8_t>(0xA0 + 2 * block);
  }

  sim::Bus bus;
  std::unique_ptr<tw_test::Face> face;
  std::vector<std::string> warnings;
};

TEST_P(EepromFamily, EachBlockAddressReachesItsOwnBytesAndNoMore) {
  for (unsigned block = 0; block < 8; ++block) {
    EXPECT_EQ(bus.device_at(block_address(block)) != nullptr, block < part().blocks) << block;
  }
  for (unsigned block = 0; block < part().blocks; ++block) {
    ASSERT_TRUE(face->send(block_address(block), {0x05, static_cast<std::uint8_t>(0x30 + block)}));
  }
  for (unsigned block = 0; block < part().blocks; ++block) {
    EXPECT_EQ(face->read_from(block_address(block), 0x04, 3),
              (Bytes{0xFF, static_cast<std::uint8_t>(0x30 + block), 0xFF}))
        << "block " << block;
  }
}

TEST_P(EepromFamily, PageWriteWrapsInsideThePartsPage) {
  // From the last byte of the second page of the last block: it, then
  // the first bytes of the same page.
  const unsigned last = part().blocks - 1;
  const auto word = static_cast<std::uint8_t>(2 * part().page - 1);
  ASSERT_TRUE(face->send(block_address(last), {word, 1, 2, 3}));
  Bytes expected(2 * part().page + 1, 0xFF);
  expected[part().page] = 2;
  expected[part().page + 1] = 3;
  expected[2 * part().page - 1] = 1;
  EXPECT_EQ(face->read_from(block_address(last), 0, expected.size()), expected);
}

TEST_P(EepromFamily, SequentialReadRunsAcrossBlocksAndWrapsAtTheEnd) {
  const unsigned last = part().blocks - 1;
  const auto top = static_cast<std::uint8_t>(part().size - 1 - last * 256);
  ASSERT_TRUE(face->send(block_address(last), {top, 0xE1}));
  ASSERT_TRUE(face->send(block_address(0), {0x00, 0xE2}));
  if (part().blocks > 1) {
    ASSERT_TRUE(face->send(block_address(1), {0x00, 0xE3}));
  }
  Bytes from_top = face->read_from(block_address(last), top, 2);
  EXPECT_EQ(from_top, (Bytes{0xE1, 0xE2}));
  if (part().blocks > 1) {
    EXPECT_EQ(face->read_from(block_address(0), 0xFF, 2), (Bytes{0xFF, 0xE3}));
  }
}

TEST_P(EepromFamily, RepeatedStartBeforeStopLosesThePageWrite) {
  ASSERT_TRUE(face->send(block_address(0), {0x20, 0xAA}, /*stop_after=*/false));
  EXPECT_EQ(face->read_from(block_address(0), 0x20, 1), Bytes{0xFF});
}

INSTANTIATE_TEST_SUITE_P(
    Parts, EepromFamily,
    ::testing::Combine(::testing::ValuesIn(kParts),
                       ::testing::Values(tw_test::FaceKind::line, tw_test::FaceKind::byte)),
    [](const auto& info) {
      return std::string("C") + (std::get<0>(info.param).name + 3) +
             (std::get<1>(info.param) == tw_test::FaceKind::line ? "_line" : "_byte");
    });

TEST(EepromFamilyList, A24C01IgnoresTheTopBitOfItsWordAddress) {
  sim::Bus bus;
  for (auto& device : sim::make_devices("24C01@A0", "", nullptr)) bus.attach(std::move(device));
  auto face = tw_test::make_face(tw_test::FaceKind::byte, bus);
  ASSERT_TRUE(face->send(0xA0, {0x85, 0x42}));
  EXPECT_EQ(face->read_from(0xA0, 0x05, 1), Bytes{0x42});
}

TEST(EepromFamilyList, BlockAddressesMustBeClearAndFree) {
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
