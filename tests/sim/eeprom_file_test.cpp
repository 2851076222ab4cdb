// The 24C02 keeps its contents in a file across bench runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/bus/i2c_bus.h"
#include "sim/devices/eeprom_24c02.h"
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
