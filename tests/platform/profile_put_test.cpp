// Writing keys: every other byte of the file kept, new keys and sections
// placed where a reader expects them, the file's mode and links kept, and
// nothing changed when a write cannot be done.
#include <sys/stat.h>

#include <filesystem>

#include "platform/profile/profile.h"
#include "scratch_folder.h"

namespace {

class ProfilePut : public ScratchFolder {
 protected:
  bool put(const char* section, const char* key, const char* value) {
    return profile::put(path("I2C.INI"), section, key, value);
  }
  std::string value(const char* section, const char* key) {
    char buffer[80];
    profile::get(path("I2C.INI"), section, key, "<default>", buffer, sizeof buffer);
    return buffer;
  }
  std::vector<std::string> folder_entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

const std::string commented_file =
    "; Tarnwick settings\r\n"
    "\r\n"
    "[I2C Device]\r\n"
    "Default = 1   \r\n"
    "\r\n"
    "[Debug]\r\n"
    "  bastion =  \"Base:0x0 Nops:0x0\" \r\n"
    "; keep me\r\n"
    "Barbican=old\r\n"
    "\r\n"
    "[I2C Card]\r\n"
    "Base=300\r\n";

TEST_F(ProfilePut, ReplacingAValueKeepsEveryOtherByte) {
  write("I2C.INI", commented_file);
  ASSERT_TRUE(put("DEBUG", "Bastion", "Base:0x378 Nops:0x100"));
  std::string expected = commented_file;
  expected.replace(expected.find("\"Base:0x0 Nops:0x0\""),
                   std::string("\"Base:0x0 Nops:0x0\"").size(), "Base:0x378 Nops:0x100");
  EXPECT_EQ(read("I2C.INI"), expected);
}

TEST_F(ProfilePut, ReplacingAnEmptyValueFillsItIn) {
  write("I2C.INI", "[S]\nk=\nm =  \n");
  ASSERT_TRUE(put("S", "k", "1"));
  ASSERT_TRUE(put("S", "m", "2"));
  EXPECT_EQ(read("I2C.INI"), "[S]\nk=1\nm =  2\n");
}

TEST_F(ProfilePut, NewKeyGoesAfterTheLastLineOfItsSectionInTheFilesLineEnd) {
  write("I2C.INI", commented_file);
  ASSERT_TRUE(put("I2C Device", "Extra", "yes"));
  ASSERT_TRUE(put("Debug", "Tower", "t"));
  std::string expected = commented_file;
  expected.insert(expected.find("Default = 1   \r\n") + 16, "Extra=yes\r\n");
  expected.insert(expected.find("Barbican=old\r\n") + 14, "Tower=t\r\n");
  EXPECT_EQ(read("I2C.INI"), expected);
}

TEST_F(ProfilePut, NewSectionGoesAtTheEndOfTheFile) {
  write("I2C.INI", commented_file);
  ASSERT_TRUE(put("I2C para", "Base", "378"));
  EXPECT_EQ(read("I2C.INI"), commented_file + "\r\n[I2C para]\r\nBase=378\r\n");
}

TEST_F(ProfilePut, UnterminatedLastLineIsEndedBeforeAnythingIsAdded) {
  write("I2C.INI", "[S]\nk=1");
  ASSERT_TRUE(put("S", "m", "2"));
  EXPECT_EQ(read("I2C.INI"), "[S]\nk=1\nm=2\n");

  write("I2C.INI", "[S]\r\nk=1");
  ASSERT_TRUE(put("T", "m", "2"));
  EXPECT_EQ(read("I2C.INI"), "[S]\r\nk=1\r\n\r\n[T]\r\nm=2\r\n");
}

TEST_F(ProfilePut, ALastLineCutAfterItsCarriageReturnGetsOnlyTheLineFeed) {
  write("I2C.INI", "[S]\r\nk=1\r");
  ASSERT_TRUE(put("S", "m", "2"));
  EXPECT_EQ(read("I2C.INI"), "[S]\r\nk=1\r\nm=2\r\n");

  write("I2C.INI", "[S]\nk=1\r");
  ASSERT_TRUE(put("T", "m", "2"));
  EXPECT_EQ(read("I2C.INI"), "[S]\nk=1\r\n\n[T]\nm=2\n");
}

TEST_F(ProfilePut, OnlyTheFirstOfDuplicateSectionsAndKeysIsChanged) {
  const std::string original = "[S]\nk=1\nk=2\n[S]\nk=3\nonly=4\n";
  write("I2C.INI", original);
  ASSERT_TRUE(put("S", "k", "one"));
  ASSERT_TRUE(put("S", "only", "new"));
  EXPECT_EQ(read("I2C.INI"), "[S]\nk=one\nk=2\nonly=new\n[S]\nk=3\nonly=4\n");
  EXPECT_EQ(value("S", "only"), "new");
}

TEST_F(ProfilePut, MissingFileIsCreatedWithSectionAndKey) {
  ASSERT_TRUE(put("Debug", "Bastion", "Base:0x378 Nops:0x100"));
  EXPECT_EQ(read("I2C.INI"), "[Debug]\nBastion=Base:0x378 Nops:0x100\n");
  ASSERT_TRUE(put("Debug", "Barbican", "Base:0x378 Nops:0x100"));
  EXPECT_EQ(read("I2C.INI"),
            "[Debug]\nBastion=Base:0x378 Nops:0x100\nBarbican=Base:0x378 Nops:0x100\n");
}

TEST_F(ProfilePut, ValuesReadBackExactlyAsWritten) {
  for (const char* text : {" padded ", "\"quoted\"", "'single'", "", "a=b;c", "\"", "[x]"}) {
    ASSERT_TRUE(put("S", "k", text)) << text;
    EXPECT_EQ(value("S", "k"), text);
  }
}

TEST_F(ProfilePut, FileModeIsKept) {
  write("I2C.INI", "[S]\nk=1\n");
  ASSERT_EQ(::chmod(path("I2C.INI").c_str(), 0640), 0);
  ASSERT_TRUE(put("S", "k", "2"));
  EXPECT_EQ(mode_of(path("I2C.INI")) & 07777, 0640u);
  EXPECT_EQ(value("S", "k"), "2");
}

TEST_F(ProfilePut, SymbolicLinkIsWrittenThroughAndKept) {
  std::filesystem::create_directory(path("real"));
  write("real/target.ini", "[S]\nk=1\n");
  std::filesystem::create_symlink("real/target.ini", path("I2C.INI"));
  ASSERT_TRUE(put("S", "k", "2"));
  EXPECT_TRUE(S_ISLNK(mode_of(path("I2C.INI"))));
  EXPECT_EQ(read("real/target.ini"), "[S]\nk=2\n");

  std::filesystem::create_symlink("real/new.ini", path("dangling.ini"));
  ASSERT_TRUE(profile::put(path("dangling.ini"), "S", "k", "3"));
  EXPECT_TRUE(S_ISLNK(mode_of(path("dangling.ini"))));
  EXPECT_EQ(read("real/new.ini"), "[S]\nk=3\n");
}

TEST_F(ProfilePut, UnstorableNamesOrValuesChangeNothing) {
  write("I2C.INI", commented_file);
  EXPECT_FALSE(put("S", "k", "two\nlines"));
  EXPECT_FALSE(put("S", "k", "carriage\rreturn"));
  EXPECT_FALSE(put("S]", "k", "v"));
  EXPECT_FALSE(put("S\n[T", "k", "v"));
  EXPECT_FALSE(put("S", "k=x", "v"));
  EXPECT_FALSE(put("S", "  ", "v"));
  EXPECT_FALSE(put("S", ";k", "v"));
  EXPECT_FALSE(put("S", "[k]", "v"));
  EXPECT_FALSE(put(nullptr, "k", "v"));
  EXPECT_FALSE(put("S", nullptr, "v"));
  EXPECT_FALSE(put("S", "k", nullptr));
  EXPECT_EQ(read("I2C.INI"), commented_file);
}

TEST_F(ProfilePut, UnwritablePlacesFailAndChangeNothing) {
  std::filesystem::create_directory(path("I2C.INI"));
  EXPECT_FALSE(put("S", "k", "v"));
  EXPECT_TRUE(std::filesystem::is_directory(path("I2C.INI")));

  EXPECT_FALSE(profile::put(path("no such folder/I2C.INI"), "S", "k", "v"));
  EXPECT_FALSE(profile::put("", "S", "k", "v"));

  if (::geteuid() == 0) return;  // permissions do not stop a privileged writer
  write("read-only.ini", commented_file);
  ASSERT_EQ(::chmod(path("read-only.ini").c_str(), 0444), 0);
  EXPECT_FALSE(profile::put(path("read-only.ini"), "S", "k", "v"));
  EXPECT_EQ(read("read-only.ini"), commented_file);

  std::filesystem::create_directory(path("locked"));
  write("locked/I2C.INI", commented_file);
  ASSERT_EQ(::chmod(path("locked").c_str(), 0500), 0);
  EXPECT_FALSE(profile::put(path("locked/I2C.INI"), "S", "k", "v"));
  EXPECT_EQ(read("locked/I2C.INI"), commented_file);
  ::chmod(path("locked").c_str(), 0700);
}

TEST_F(ProfilePut, NoTemporaryFileOutlivesAWrite) {
  write("I2C.INI", commented_file);
  // What a writer killed before its rename would leave behind.
  write(".I2C.INI.new-99999-0", "half a fi");
  ASSERT_TRUE(put("S", "k", "v"));
  ASSERT_TRUE(put("S", "k", "v"));
  EXPECT_EQ(folder_entries(), std::vector<std::string>{"I2C.INI"});
}

}  // namespace
