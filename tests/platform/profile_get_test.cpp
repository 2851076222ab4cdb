// Reading keys: matching, trimming, quoting, truncation, and files that
// are missing, odd or hostile.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "platform/profile/profile.h"
#include "scratch_folder.h"

namespace {

class ProfileGet : public ScratchFolder {
 protected:
  // The value as the library reads it, through an 80-character buffer.
  std::string value(const char* section, const char* key,
                    const char* fallback = "<default>", std::size_t size = 80) {
    std::string buffer(size, '#');
    const std::size_t copied =
        profile::get(path("I2C.INI"), section, key, fallback, buffer.data(), size);
    EXPECT_EQ(copied, std::strlen(buffer.c_str())) << "count differs from the text copied";
    return buffer.c_str();
  }
};

TEST_F(ProfileGet, SectionAndKeyNamesMatchInAnyLetterCase) {
  write("I2C.INI", "[i2c DEVICE]\ndEfAuLt=2\n");
  EXPECT_EQ(value("I2C Device", "Default"), "2");
}

TEST_F(ProfileGet, BlanksAroundNamesAndValuesAreIgnored) {
  write("I2C.INI", "  [ \tI2C Card  ]  \n \t Base  =   320 \t \n");
  EXPECT_EQ(value("I2C Card", "Base"), "320");
  EXPECT_EQ(value(" I2C Card ", " Base "), "320");
}

TEST_F(ProfileGet, OnePairOfMatchingQuotesIsRemoved) {
  write("I2C.INI",
        "[S]\n"
        "double=\" a b \"\n"
        "single='x'\n"
        "mismatched=\"x'\n"
        "nested=\"\"a\"\"\n"
        "empty=\"\"\n"
        "lone=\"\n"
        "inner=a\"b\"\n");
  EXPECT_EQ(value("S", "double"), " a b ");
  EXPECT_EQ(value("S", "single"), "x");
  EXPECT_EQ(value("S", "mismatched"), "\"x'");
  EXPECT_EQ(value("S", "nested"), "\"a\"");
  EXPECT_EQ(value("S", "empty"), "");
  EXPECT_EQ(value("S", "lone"), "\"");
  EXPECT_EQ(value("S", "inner"), "a\"b\"");
}

TEST_F(ProfileGet, CommentLinesAreNeitherKeysNorSections) {
  write("I2C.INI",
        "[S]\n"
        ";Base=1\n"
        "  ; [Other]\n"
        "Base=2\n"
        "Nops=7 ; a semicolon later in a line is part of the value\n");
  EXPECT_EQ(value("S", "Base"), "2");
  EXPECT_EQ(value("S", "Nops"), "7 ; a semicolon later in a line is part of the value");
  EXPECT_EQ(value("Other", "Base"), "<default>");
}

TEST_F(ProfileGet, CrlfAndLfLineEndsBothWork) {
  write("I2C.INI", "[A]\r\nk=crlf\r\n[B]\nk=lf\n[C]\r\nk=last");
  EXPECT_EQ(value("A", "k"), "crlf");
  EXPECT_EQ(value("B", "k"), "lf");
  EXPECT_EQ(value("C", "k"), "last");
}

TEST_F(ProfileGet, EmptyValueIsNotTheDefaultButMissingThingsAre) {
  write("I2C.INI", "[S]\nempty=\nblank =   \n");
  EXPECT_EQ(value("S", "empty"), "");
  EXPECT_EQ(value("S", "blank"), "");
  EXPECT_EQ(value("S", "absent"), "<default>");
  EXPECT_EQ(value("Absent", "empty"), "<default>");
  EXPECT_EQ(value("S", "absent", nullptr), "");
  std::filesystem::remove(path("I2C.INI"));
  EXPECT_EQ(value("S", "empty"), "<default>");
}

TEST_F(ProfileGet, FirstMatchingSectionAndKeyWin) {
  write("I2C.INI",
        "[S]\nk=first\nk=second\n"
        "[s]\nk=other section\nonly=in the second\n");
  EXPECT_EQ(value("S", "k"), "first");
  EXPECT_EQ(value("S", "only"), "<default>");
}

TEST_F(ProfileGet, LinesOutsideAnySectionOrWithoutEqualsSignMatchNothing) {
  write("I2C.INI",
        "k=before any section\n"
        "[S\n"
        "[T]\n"
        "just words\n"
        "=no key\n"
        "[broken\n"
        "k=in T\n");
  EXPECT_EQ(value("S", "k"), "<default>");
  EXPECT_EQ(value("", "k"), "<default>");
  EXPECT_EQ(value("T", "k"), "in T");
  EXPECT_EQ(value("T", "just words"), "<default>");
}

TEST_F(ProfileGet, TextIsCutToOneLessThanTheBufferAndTerminated) {
  const std::string long_value(100, 'v');
  write("I2C.INI", "[S]\nk=" + long_value + "\n");
  EXPECT_EQ(value("S", "k"), long_value.substr(0, 79));
  EXPECT_EQ(value("S", "k", "", 5), "vvvv");
  EXPECT_EQ(value("S", "k", "", 1), "");
  EXPECT_EQ(value("S", "absent", "fallback", 4), "fal");

  char untouched[4] = "abc";
  EXPECT_EQ(profile::get(path("I2C.INI"), "S", "k", "", untouched, 0), 0u);
  EXPECT_STREQ(untouched, "abc");
  EXPECT_EQ(profile::get(path("I2C.INI"), "S", "k", "", nullptr, 80), 0u);
}

TEST_F(ProfileGet, FallbackMayBeTheCallersOwnBuffer) {
  char buffer[80] = "378";
  EXPECT_EQ(profile::get(path("I2C.INI"), "S", "k", buffer, buffer, 2), 1u);
  EXPECT_STREQ(buffer, "3");
}

TEST_F(ProfileGet, EveryCallReadsTheFileAfresh) {
  write("I2C.INI", "[S]\nk=old\n");
  EXPECT_EQ(value("S", "k"), "old");
  write("I2C.INI", "[S]\nk=new\n");
  EXPECT_EQ(value("S", "k"), "new");
}

TEST_F(ProfileGet, FileThatIsNotARegularReadableFileGivesTheDefault) {
  std::filesystem::create_directory(path("I2C.INI"));
  EXPECT_EQ(value("S", "k"), "<default>");
  std::filesystem::remove(path("I2C.INI"));

  // Opening a pipe for reading must not wait for a writer.
  ASSERT_EQ(::mkfifo(path("I2C.INI").c_str(), 0600), 0);
  EXPECT_EQ(value("S", "k"), "<default>");
  std::filesystem::remove(path("I2C.INI"));

  write("I2C.INI", "[S]\nk=secret\n");
  ::chmod(path("I2C.INI").c_str(), 0);
  if (::geteuid() != 0) {  // a privileged reader is not stopped by permissions
    EXPECT_EQ(value("S", "k"), "<default>");
  }
}

TEST_F(ProfileGet, OnlyAFileThatExistsButCannotBeReadHasAReasonToTell) {
  EXPECT_EQ(profile::unreadable_reason(path("I2C.INI")), "") << "a missing file is no problem";
  write("I2C.INI", "[S]\nk=v\n");
  EXPECT_EQ(profile::unreadable_reason(path("I2C.INI")), "");
  std::filesystem::remove(path("I2C.INI"));

  std::filesystem::create_directory(path("I2C.INI"));
  EXPECT_EQ(profile::unreadable_reason(path("I2C.INI")), "Is a directory");
  std::filesystem::remove(path("I2C.INI"));

  ASSERT_EQ(::mkfifo(path("I2C.INI").c_str(), 0600), 0);
  EXPECT_EQ(profile::unreadable_reason(path("I2C.INI")), "not a regular file");
  std::filesystem::remove(path("I2C.INI"));

  write("plain", "");
  EXPECT_EQ(profile::unreadable_reason(path("plain") + "/I2C.INI"), "Not a directory");
}

TEST_F(ProfileGet, NulBytesNeitherMatchNamesNorLeakIntoValues) {
  using namespace std::string_literals;
  write("I2C.INI", "[S\0x]\nk=hidden\n[S]\nk=ab\0cd\n"s);
  EXPECT_EQ(value("S", "k"), "ab");
}

TEST_F(ProfileGet, BinaryGarbageIsSurvived) {
  std::mt19937 generator(8584);
  // Just under the largest file read, with the section still to come.
  std::string garbage((1 << 20) - 64, '\0');
  for (char& c : garbage) c = static_cast<char>(generator());
  write("I2C.INI", garbage);
  EXPECT_EQ(value("I2C Card", "Base"), "<default>");
  write("I2C.INI", garbage + "\n[I2C Card]\nBase=320\n");
  EXPECT_EQ(value("I2C Card", "Base"), "320");
}

TEST_F(ProfileGet, FilesUpToOneMebibyteAndTheirLongLinesAreReadWhole) {
  std::string big;
  const std::string filler = "; " + std::string(98, 'c') + "\n";
  const std::string tail = "[S]\nlong=" + std::string(100000, 'x') + "\nlast=found\n";
  while (big.size() + filler.size() + tail.size() <= 1u << 20) big += filler;
  big += tail;
  write("I2C.INI", big);
  EXPECT_EQ(value("S", "last"), "found");
  EXPECT_EQ(value("S", "long"), std::string(79, 'x'));
}

// A configuration file is small; one larger than 1 MiB is refused whole,
// with a reason to tell, instead of costing every host its memory.
TEST_F(ProfileGet, FilesLargerThanOneMebibyteAreRefused) {
  struct Case {
    std::size_t size;
    bool read;
  };
  const Case cases[] = {{1u << 20, true}, {(1u << 20) + 1, false}, {10u << 20, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.size << " bytes");
    const std::string head = "[S]\nk=v\n";
    write("I2C.INI", head + std::string(c.size - head.size(), ';'));
    EXPECT_EQ(value("S", "k"), c.read ? "v" : "<default>");
    EXPECT_EQ(profile::unreadable_reason(path("I2C.INI")), c.read ? "" : "larger than 1 MiB");
  }
}

// The text is read once and kept while the file stays the same; any change
// since, even one keeping the size, made a moment or long after, shows.
TEST_F(ProfileGet, AFileChangedBetweenReadsIsReadAgain) {
  struct Case {
    const char* text;
    const char* expected;
    bool settle;  // make the file look old, so that its text is kept
  };
  const Case cases[] = {
      {"[S]\nk=one\n", "one", true},   {"[S]\nk=two\n", "two", true},
      {"[S]\nk=six\n", "six", false},  {"[S]\nk=ten\n", "ten", false},
      {"[S]\nk=eleven\n", "eleven", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    write("I2C.INI", c.text);
    if (c.settle) {
      const timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
      ASSERT_EQ(::utimensat(AT_FDCWD, path("I2C.INI").c_str(), old_times, 0), 0);
    }
    EXPECT_EQ(value("S", "k"), c.expected);
    EXPECT_EQ(value("S", "k"), c.expected);
  }
}

}  // namespace
