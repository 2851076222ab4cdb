// The 24C01 to 24C512 of the bench, built from the device list as the
// bench builds them (the 24C02 as the bench's own
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
  unsigned word_bytes;  // word address bytes after the address byte
};

constexpr Part kParts[] = {
    {"24C01", 1, 128, 8, 1},     {"24C02", 1, 256, 8, 1},     {"24C04", 2, 512, 16, 1},
    {"24C08", 4, 1024, 16, 1},   {"24C16", 8, 2048, 16, 1},   {"24C32", 1, 4096, 32, 2},
    {"24C64", 1, 8192, 32, 2},   {"24C128", 1, 16384, 64, 2}, {"24C256", 1, 32768, 64, 2},
    {"24C512", 1, 65536, 128, 2},
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
  // The word address `at` as the part takes it: one byte, or two, high first.
  static Bytes word(unsigned at) {
    if (part().word_bytes == 1) return {static_cast<std::uint8_t>(at)};
    return {static_cast<std::uint8_t>(at >> 8), static_cast<std::uint8_t>(at)};
  }
  // The word address `at` in `block`, then `data`.
  static bool put(tw_test::Face& face, unsigned block, unsigned at, const Bytes& data,
                  bool stop_after = true) {
    Bytes message = word(at);
    message.insert(message.end(), data.begin(), data.end());
    return face.send(block_address(block), message, stop_after);
  }
  // `count` bytes from word address `at` in `block`, read after a repeated START.
  static Bytes get(tw_test::Face& face, unsigned block, unsigned at, std::size_t count) {
    if (!put(face, block, at, {}, /*stop_after=*/false)) return {};
    return face.receive(block_address(block), count);
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
    ASSERT_TRUE(put(*writer, block, 0x05, {static_cast<std::uint8_t>(0x30 + block)}));
  }
  for (unsigned block = 0; block < part().blocks; ++block) {
    EXPECT_EQ(get(*reader, block, 0x04, 3),
              (Bytes{0xFF, static_cast<std::uint8_t>(0x30 + block), 0xFF}))
        << "block " << block;
  }
}

TEST_P(EepromParts, APageWrittenThroughOneFaceReadsBackThroughTheOther) {
  const unsigned page = part().page;
  Bytes pattern(page);
  for (unsigned n = 0; n < page; ++n) pattern[n] = static_cast<std::uint8_t>(n * 37 + 0x11);
  // The third page of the last block (0x10 on the 24C02).
  EXPECT_TRUE(put(*writer, last_block(), 2 * page, pattern));
  EXPECT_EQ(get(*reader, last_block(), 2 * page, page), pattern);
  // The neighbours of the page are still erased.
  EXPECT_EQ(get(*reader, last_block(), 2 * page - 1, 1), Bytes{0xFF});
  EXPECT_EQ(get(*reader, last_block(), 3 * page, 1), Bytes{0xFF});
}

TEST_P(EepromParts, APageWriteWrapsInsideThePartsPage) {
  const unsigned page = part().page;
  // Three bytes before the end of the sixth page (0x2D on the 24C02): those
  // three, then the first two of the same page.
  const unsigned sixth = 5 * page;
  EXPECT_TRUE(put(*writer, 0, sixth + page - 3, {1, 2, 3, 4, 5}));
  Bytes expected(page, 0xFF);
  expected[0] = 4;
  expected[1] = 5;
  expected[page - 3] = 1;
  expected[page - 2] = 2;
  expected[page - 1] = 3;
  EXPECT_EQ(get(*reader, 0, sixth, page), expected);
  EXPECT_EQ(get(*reader, 0, sixth + page, 1), Bytes{0xFF});

  // From the last byte of the second page of the last block: it, then the
  // first bytes of the same page.
  ASSERT_TRUE(put(*writer, last_block(), 2 * page - 1, {1, 2, 3}));
  expected.assign(2 * page + 1, 0xFF);
  expected[page] = 2;
  expected[page + 1] = 3;
  expected[2 * page - 1] = 1;
  EXPECT_EQ(get(*reader, last_block(), 0, expected.size()), expected);

  // From the first byte of the fourth page, one byte short of a whole page:
  // programmed into that page, wherever in it the counter stopped.
  Bytes short_page;
  for (unsigned n = 1; n < page; ++n) short_page.push_back(static_cast<std::uint8_t>(n));
  ASSERT_TRUE(put(*writer, 0, 3 * page, short_page));
  expected = short_page;
  expected.push_back(0xFF);
  EXPECT_EQ(get(*reader, 0, 3 * page, page), expected);
}

TEST_P(EepromParts, ABytePastTheEndOfThePageReplacesTheFirst) {
  const unsigned at = 0x40 - 0x40 % part().page;  // a page's first byte
  Bytes data;
  for (unsigned n = 1; n <= part().page + 1; ++n) data.push_back(static_cast<std::uint8_t>(n));
  EXPECT_TRUE(put(*writer, 0, at, data));
  Bytes expected(data.begin(), data.end() - 1);
  expected[0] = static_cast<std::uint8_t>(part().page + 1);
  EXPECT_EQ(get(*reader, 0, at, part().page), expected);
}

TEST_P(EepromParts, ARepeatedStartBeforeTheStopLosesThePageWrite) {
  EXPECT_TRUE(put(*writer, 0, 0x50, {0xAA, 0xBB}, /*stop_after=*/false));
  // The repeated START of the read comes before any STOP.
  EXPECT_EQ(writer->receive(block_address(0), 2), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(get(*reader, 0, 0x50, 2), (Bytes{0xFF, 0xFF}));

  // The same when the repeated START sets the word address to read from.
  ASSERT_TRUE(put(*writer, 0, 0x20, {0xAA}, /*stop_after=*/false));
  EXPECT_EQ(get(*writer, 0, 0x20, 1), Bytes{0xFF});
}

TEST_P(EepromParts, AStopAfterTheWordAddressOnlyMovesThePointer) {
  EXPECT_TRUE(put(*writer, 0, 0x60, {0x42}));
  EXPECT_TRUE(put(*writer, 0, 0x60, {}));
  EXPECT_EQ(memory()[0x60], 0x42);
  // The current-address read starts where the word address pointed.
  EXPECT_EQ(reader->receive(block_address(0), 2), (Bytes{0x42, 0xFF}));
}

TEST_P(EepromParts, AWordAddressBeyondThePartIsTakenModuloItsSize) {
  // The 24C01 ignores the top bit of its word address; a block of 256
  // bytes has none to ignore. The 24C32 ignores the top four bits of its
  // two bytes; the 24C512 has none to ignore.
  const unsigned asked = part().word_bytes == 1 ? 0x85 : (part().size + 0x85) & 0xFFFF;
  const unsigned lands_at = asked % std::min(part().size, 1u << (8 * part().word_bytes));
  ASSERT_TRUE(put(*writer, 0, asked, {0x42}));
  EXPECT_EQ(get(*reader, 0, lands_at, 1), Bytes{0x42});
  EXPECT_EQ(memory()[lands_at], 0x42);
}

TEST_P(EepromParts, ASequentialReadRunsAcrossBlocksAndWrapsAtTheEnd) {
  const unsigned top = part().size - 1 - last_block() * 256;
  ASSERT_TRUE(put(*writer, last_block(), top, {0xE1}));
  ASSERT_TRUE(put(*writer, 0, 0x00, {0xE2}));
  if (part().blocks > 1) {
    ASSERT_TRUE(put(*writer, 1, 0x00, {0xE3}));
  }
  EXPECT_EQ(get(*reader, last_block(), top, 2), (Bytes{0xE1, 0xE2}));
  if (part().blocks > 1) {
    EXPECT_EQ(get(*reader, 0, 0xFF, 2), (Bytes{0xFF, 0xE3}));
  }

  // The last two bytes of the part written in one page write (0xFE and
  // 0xFF on the 24C02), and four read from the first of them.
  EXPECT_TRUE(put(*writer, last_block(), top - 1, {0xE0, 0xE4}));
  EXPECT_EQ(get(*reader, last_block(), top - 1, 4), (Bytes{0xE0, 0xE4, 0xE2, 0xFF}));
}

TEST_P(EepromParts, AcknowledgesAgainRightAfterTheStopOfAWrite) {
  EXPECT_TRUE(put(*writer, 0, 0x70, {1}));
  EXPECT_TRUE(put(*reader, 0, 0x71, {2}));
  EXPECT_EQ(get(*reader, 0, 0x70, 2), (Bytes{1, 2}));
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
      // The parts with two word address bytes take one address each.
      {"24C32@A8 24C512@AA", {0xA8, 0xAA}, ""},
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

// Key "Large EEPROMs" puts the parts it names at A8, AA, AC and AE in turn;
// a part it cannot place is told and left out.
TEST(EepromDeviceList, LargeEepromsTakeA8ToAeInTurn) {
  struct Case {
    const char* parts;
    const char* entries;
    std::vector<std::string> warnings;
  };
  const Case cases[] = {
      {"", "", {}},
      {"24c32 24C512", "24C32@A8 24C512@AA ", {}},
      {"24C24 24C16 24C256",
       "24C256@A8 ",
       {"Large EEPROMs: \"24C24\": not one of the parts with two word address bytes (24C32, "
        "24C64, 24C128, 24C256, 24C512); entry ignored",
        "Large EEPROMs: \"24C16\": not one of the parts with two word address bytes (24C32, "
        "24C64, 24C128, 24C256, 24C512); entry ignored"}},
      {"24C32 24C64 24C128 24C256 24C512",
       "24C32@A8 24C64@AA 24C128@AC 24C256@AE ",
       {"Large EEPROMs: \"24C512\": a fifth part, where four addresses (A8 to AE) are free; "
        "entry ignored"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> warnings;
    EXPECT_EQ(sim::large_eeprom_entries(c.parts, [&](std::string_view line) {
                warnings.emplace_back(line);
              }),
              c.entries)
        << c.parts;
    EXPECT_EQ(warnings, c.warnings) << c.parts;
  }
}

}  // namespace
