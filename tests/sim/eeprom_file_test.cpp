// The 24C02 keeps its contents in a file across bench runs; any EEPROM
// takes an image from a file, binary or as i2cdump prints it.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/bus/i2c_bus.h"
#include "sim/devices/eeprom_24c02.h"
#include "sim/devices/eeprom_image.h"
#include "tests/sim/faces.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kEeprom = 0xA0;

class EepromFile : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::path(::testing::TempDir()) / ("eeprom_file_" + std::string(test->name()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    path = (dir / "eeprom.bin").string();
  }
  void TearDown() override { fs::remove_all(dir); }

  // A bench bus with one 24C02 on the file; warnings are collected.
  struct Bench {
    explicit Bench(const std::string& file, std::vector<std::string>& warnings) {
      auto part = std::make_unique<sim::Eeprom24c02>(
          kEeprom, file, [&warnings](std::string_view line) { warnings.emplace_back(line); });
      eeprom = part.get();
      bus.attach(std::move(part));
    }
    sim::Bus bus;
    sim::Eeprom24c02* eeprom;
    tw_test::ByteFace face{bus};
  };

  Bytes file_bytes() const {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  void write_file(const Bytes& bytes) const {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  std::size_t files_in_dir() const {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
  }

  fs::path dir;
  std::string path;
  std::vector<std::string> warnings;
};

TEST_F(EepromFile, MissingFileIsAnErasedPartAndAppearsWithTheFirstWrite) {
  Bench bench(path, warnings);
  EXPECT_EQ(bench.eeprom->contents()[0], 0xFF);
  EXPECT_FALSE(fs::exists(path));
  ASSERT_TRUE(bench.face.send(kEeprom, {0x08, 0xC0, 0xDE}));
  Bytes expected(256, 0xFF);
  expected[8] = 0xC0;
  expected[9] = 0xDE;
  EXPECT_EQ(file_bytes(), expected);
  EXPECT_EQ(files_in_dir(), 1u) << "no temporary file may stay behind";
  EXPECT_TRUE(warnings.empty());
}

TEST_F(EepromFile, ContentsSurviveIntoTheNextRun) {
  {
    Bench first(path, warnings);
    ASSERT_TRUE(first.face.send(kEeprom, {0x20, 1, 2, 3}));
    ASSERT_TRUE(first.face.send(kEeprom, {0xF8, 9}));
  }
  Bench second(path, warnings);
  EXPECT_EQ(second.face.read_from(kEeprom, 0x20, 3), (Bytes{1, 2, 3}));
  EXPECT_EQ(second.face.read_from(kEeprom, 0xF8, 1), Bytes{9});
  EXPECT_TRUE(warnings.empty());
}

TEST_F(EepromFile, FileIsSavedOnlyWhenAWriteIsCommitted) {
  Bytes image(256);
  for (unsigned i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i);
  write_file(image);
  Bench bench(path, warnings);
  EXPECT_EQ(bench.face.read_from(kEeprom, 0x90, 2), (Bytes{0x90, 0x91}));
  // A page write cut short by a repeated START programs nothing.
  ASSERT_TRUE(bench.face.send(kEeprom, {0x90, 0}, /*stop_after=*/false));
  bench.face.receive(kEeprom, 1);
  EXPECT_EQ(file_bytes(), image);
  ASSERT_TRUE(bench.face.send(kEeprom, {0x90, 0}));
  image[0x90] = 0;
  EXPECT_EQ(file_bytes(), image);
}

TEST_F(EepromFile, WrongSizedFileIsReportedAndLeftAlone) {
  const Bytes short_image(100, 0x12);
  write_file(short_image);
  Bench bench(path, warnings);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find(path), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[0].find("100 bytes"), std::string::npos) << warnings[0];
  EXPECT_EQ(bench.face.read_from(kEeprom, 0x00, 2), (Bytes{0xFF, 0xFF}));
  // The part works from memory; the file keeps what it held.
  ASSERT_TRUE(bench.face.send(kEeprom, {0x00, 0x55}));
  EXPECT_EQ(bench.face.read_from(kEeprom, 0x00, 1), Bytes{0x55});
  EXPECT_EQ(file_bytes(), short_image);
  EXPECT_EQ(warnings.size(), 1u);
}

TEST_F(EepromFile, UnreadableFileIsReportedAndTheDirectoryIsNotTouched) {
  fs::create_directories(path);  // a directory where the file should be
  Bench bench(path, warnings);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find(path), std::string::npos) << warnings[0];
  ASSERT_TRUE(bench.face.send(kEeprom, {0x00, 0x55}));
  EXPECT_TRUE(fs::is_directory(path));
  EXPECT_EQ(files_in_dir(), 1u);
}

TEST_F(EepromFile, SaveFailureIsToldOnceAndTheContentsStayInMemory) {
  const std::string nowhere = (dir / "missing" / "eeprom.bin").string();
  Bench bench(nowhere, warnings);
  EXPECT_TRUE(warnings.empty()) << "a missing file is an erased part";
  ASSERT_TRUE(bench.face.send(kEeprom, {0x00, 1}));
  ASSERT_TRUE(bench.face.send(kEeprom, {0x08, 2}));
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find(nowhere), std::string::npos) << warnings[0];
  EXPECT_EQ(bench.face.read_from(kEeprom, 0x00, 1), Bytes{1});
  EXPECT_EQ(bench.face.read_from(kEeprom, 0x08, 1), Bytes{2});
}

}  // namespace

namespace {

// i2cdump's rows of 16 bytes, each byte its own row number: "10: 10 10 ...".
std::string rows(unsigned first, unsigned last, const char* label = "%02x: ") {
  std::string text;
  char cell[16];
  for (unsigned row = first; row <= last; row += 16) {
    std::snprintf(cell, sizeof cell, label, row);
    text += cell;
    for (int column = 0; column < 16; ++column) {
      std::snprintf(cell, sizeof cell, "%02x ", (row / 16) & 0xFF);
      text += cell;
    }
    text += "   ................\n";
  }
  return text;
}

TEST(EepromImage, TakesBinaryOrI2cdumpTextGivingEveryByteOnce) {
  const std::string header =
      "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n";
  struct Case {
    std::string file;
    unsigned size;
    std::string error;  // empty: the image is byte n = n / 16 (binary: n)
  };
  std::string binary(128, '\0');
  for (unsigned n = 0; n < 128; ++n) binary[n] = static_cast<char>(n / 16);
  std::string crlf = header + rows(0, 0xF0);
  for (std::size_t at = 0; (at = crlf.find('\n', at)) != std::string::npos; at += 2) {
    crlf.insert(at, "\r");
  }
  std::string unread = rows(0, 0xF0);
  unread.replace(unread.find("30: ") + 4 + 3 * 5, 2, "XX");
  std::string partial = rows(0, 0xF0);  // i2cdump -r 0x00-0xf4
  partial.replace(partial.find("f0: ") + 4 + 3 * 5, 3 * 11, std::string(3 * 11, ' '));
  const std::vector<Case> cases{
      {binary, 128, ""},
      {"No size specified (using byte-data access)\n" + header + rows(0, 0xF0), 256, ""},
      {crlf, 256, ""},
      {" " + header + rows(0, 0x1F0, "%03x: "), 512, ""},
      {rows(0, 0x70), 128, ""},
      {rows(0, 0xE0), 256, "(byte F0 is missing)"},
      {partial, 256, "(byte F5 is missing)"},
      {rows(0, 0xF0) + rows(0x40, 0x40), 256, "line 17: byte 40 is given twice"},
      {unread, 256, "line 4: byte 35 was not read (XX)"},
      {rows(0, 0x100), 256, "line 17: row 100 is not a row of the 256 bytes"},
      {std::string(255, 'x'), 256, "(no rows found)"},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto image = sim::eeprom_image::parse(c.file, c.size, error);
    if (!c.error.empty()) {
      EXPECT_FALSE(image) << c.file;
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
      continue;
    }
    ASSERT_TRUE(image) << error << "\n" << c.file;
    ASSERT_EQ(image->size(), c.size);
    for (unsigned n = 0; n < c.size; ++n) EXPECT_EQ((*image)[n], (n / 16) & 0xFF) << n;
  }
}

}  // namespace
