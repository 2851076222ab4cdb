// The 24C02 keeps its contents in a file across bench runs, and a
// privileged host saves it only where nobody else could have led it; any
// EEPROM takes an image from a file, binary or as i2cdump prints it.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/trust/trust.h"
#include "sim/bus/i2c_bus.h"
#include "sim/devices/eeprom_24c02.h"
#include "sim/devices/eeprom_image.h"
#include "tests/sim/faces.h"
#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/program.h"
#include "tests/support/scratch.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kEeprom = 0xA0;

class EepromFile : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch.emplace("eeprom-file-", 0755);
    dir = scratch->path();
    path = (dir / "eeprom.bin").string();
  }

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

  std::optional<test_kit::ScratchFolder> scratch;
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

// A rewritten image is the same file to its owner: owner, group and mode
// stay (a privileged host sets no set-user-ID, set-group-ID or sticky bit on
// a file it makes), and a read-only image, which its owner meant to keep,
// is not replaced, by root either.
TEST_F(EepromFile, ARewrittenImageKeepsOwnerGroupAndModeAndAReadOnlyOneIsLeftAsItIs) {
  const bool root = ::geteuid() == 0;
  struct Case {
    const char* name;
    mode_t mode;
    gid_t group;  // 0 stands for this process's own
    bool saved;
    mode_t after;
  };
  const Case cases[] = {
      {"the owner's 0640 file", 0640, 0, true, 0640},
      {"a read-only file", 0444, 0, false, 0444},
      {"a file that another group shares", 0664, test_kit::kOtherUser, true, 0664},
      {"a set-user-ID file", 06755, 0, true, 0755},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!root && (c.group != 0 || (c.mode & 07000) != 0)) continue;  // root's cases
    const Bytes image(256, 0x11);
    write_file(image);
    ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
    if (c.group != 0) {
      ASSERT_EQ(::chown(path.c_str(), ::geteuid(), c.group), 0);
    }
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    warnings.clear();
    {
      Bench bench(path, warnings);
      ASSERT_TRUE(bench.face.send(kEeprom, {0x00, 0x22}));
    }
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, c.after);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(file_bytes()[0], c.saved ? 0x22 : 0x11);
    EXPECT_EQ(files_in_dir(), 1u);
    if (c.saved) {
      EXPECT_TRUE(warnings.empty()) << warnings.front();
    } else {
      EXPECT_EQ(warnings.size(), 1u);
      EXPECT_NE(warnings.empty() ? std::string::npos : warnings[0].find("read-only"),
                std::string::npos);
    }
    ::unlink(path.c_str());
  }
}

// What the image's name leads to changes after the image was read (the
// file did not exist yet): a link planted at the name, or a folder on the
// way that another user made, holding a link into root's own folder. Root,
// and a set-user-ID root host that another user started, must neither
// follow them nor take the mode of what a link points at (a root-owned
// 6777 file was made that way).
TEST_F(EepromFile, APrivilegedHostSavesOnlyThroughTheFoldersAndNameItChecked) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root: the rules are those of a privileged host";
  if (const std::string why = trust::configuration_refusal(path); !why.empty()) {
    GTEST_SKIP() << "the scratch folder itself is not trusted (" << why << ")";
  }
  const auto at = [&](const std::string& name) { return (dir / name).string(); };
  ASSERT_EQ(::mkdir(at("home").c_str(), 0700), 0);
  struct Case {
    const char* name;
    std::string file;
    std::function<bool()> attack;
    const char* refused;  // a part of the one line
  };
  const Case cases[] = {
      {"a link to root's 6777 file at the name", at("image.bin"),
       [&] { return ::symlink(at("home/victim").c_str(), at("image.bin").c_str()) == 0; },
       "symbolic link"},
      {"another user's folder on the way, linking to root's folder", at("attic/to-home/image.bin"),
       [&] {
         return ::mkdir(at("attic").c_str(), 0755) == 0 &&
                ::chown(at("attic").c_str(), test_kit::kOtherUser, test_kit::kOtherUser) == 0 &&
                ::symlink(at("home").c_str(), at("attic/to-home").c_str()) == 0 &&
                ::lchown(at("attic/to-home").c_str(), test_kit::kOtherUser,
                         test_kit::kOtherUser) == 0;
       },
       "belongs to user 65534"},
  };
  for (const Case& c : cases) {
    for (const bool set_user_id : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (set_user_id ? ", set-user-ID root" : ", root"));
      test_kit::remove_tree(at("attic"));
      ::unlink(at("image.bin").c_str());
      test_kit::write_file(at("home/victim"), "root's own bytes\n");
      ASSERT_EQ(::chmod(at("home/victim").c_str(), 06777), 0);
      test_kit::Child host([&](test_kit::Channel& channel) {
        if (set_user_id && !test_kit::become_set_user_id_root()) return 2;
        std::vector<std::string> told;
        Bench bench(c.file, told);  // nothing there yet: an erased part
        if (!c.attack()) return 3;
        if (!bench.face.send(kEeprom, {0x00, 0x55})) return 4;
        for (const std::string& line : told) channel.send(line);
        return 0;
      });
      std::vector<std::string> told;
      while (const auto line = host.receive(10000)) told.push_back(*line);
      ASSERT_EQ(host.exit_status(), 0) << "2: no set-user-ID root, 3: no attack, 4: no write";
      EXPECT_EQ(told.size(), 1u);
      EXPECT_NE(told.empty() ? std::string::npos : told[0].find(c.refused), std::string::npos);
      EXPECT_EQ(test_kit::read_file(at("home/victim")), "root's own bytes\n");
      struct stat info {};
      ASSERT_EQ(::stat(at("home/victim").c_str(), &info), 0);
      EXPECT_EQ(info.st_mode & 07777, 06777u);
      EXPECT_EQ(test_kit::names_starting_with(at("home"), "image"), std::vector<std::string>{})
          << "written into root's folder";
      EXPECT_EQ(::lstat(at("image.bin").c_str(), &info) == 0 && S_ISREG(info.st_mode), false)
          << "a regular file made at the name, mode " << std::oct << info.st_mode;
    }
  }
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
