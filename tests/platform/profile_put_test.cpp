// Writing keys: every other byte of the file kept, new keys and sections
// placed where a reader expects them, the file's mode and links kept, and
// nothing changed when a write cannot be done.
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "platform/profile/profile.h"
#include "scratch_folder.h"
#include "tests/support/child.h"

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

// What the owner meant by the mode bits holds for root too: root passes
// every permission check, so only the bits tell that a file is read-only.
// A privileged writer keeps the mode but for set-user-ID, set-group-ID and
// sticky bits, which it sets on no file it makes.
TEST_F(ProfilePut, ReadOnlyFilesAreNeverRewrittenByAnyone) {
  struct Case {
    mode_t mode;
    bool rewritten;
    mode_t after = 0;  // 0: the mode stays
  };
  const bool root = ::geteuid() == 0;
  const Case cases[] = {
      {0444, false}, {0400, false}, {0440, false}, {0604, true}, {0644, true}, {0600, true},
      {06744, true, root ? 0744u : 06744u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << std::oct << c.mode);
    write("I2C.INI", commented_file);
    ASSERT_EQ(::chmod(path("I2C.INI").c_str(), c.mode), 0);
    EXPECT_EQ(put("S", "k", "v"), c.rewritten);
    if (!c.rewritten) {
      EXPECT_EQ(read("I2C.INI"), commented_file);
    }
    EXPECT_EQ(mode_of(path("I2C.INI")) & 07777, c.after != 0 ? c.after : c.mode);
    ::chmod(path("I2C.INI").c_str(), 0600);
  }
}

// Anyone who can open the folder can lock it; a writer gives up soon
// instead of waiting for ever (with the bus held, at a host's start).
TEST_F(ProfilePut, AFolderLockedForEverIsGivenUpSoon) {
  write("I2C.INI", commented_file);
  const int held = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const auto began = std::chrono::steady_clock::now();
  test_kit::Child writer([&] { return put("S", "k", "v") ? 1 : 0; });
  const test_kit::Child::Ending ending = writer.wait(10000);
  const auto waited = std::chrono::steady_clock::now() - began;
  ::close(held);
  EXPECT_EQ(ending.outcome, test_kit::Child::Outcome::exited);
  EXPECT_EQ(ending.code, 0);
  EXPECT_LT(waited, std::chrono::seconds(5));
  EXPECT_EQ(read("I2C.INI"), commented_file);
  // Once the lock is gone, the record is written again.
  EXPECT_TRUE(put("S", "k", "v"));
}

// Runs `body` in a child that has become user and group `id`: 1 for true.
int as_user(uid_t id, const std::function<bool()>& body) {
  test_kit::Child child([&] {
    if (::setgroups(0, nullptr) != 0 || ::setresgid(id, id, id) != 0 ||
        ::setresuid(id, id, id) != 0) {
      return 99;
    }
    return body() ? 1 : 0;
  });
  return child.exit_status();
}

constexpr uid_t kNobody = 65534;
constexpr uid_t kThirdUser = 65533;

// An ordinary user who may write a shared file, but not give it its
// owner's ids, leaves it alone: a replacement would belong to the writer.
TEST_F(ProfilePut, ARewrittenFileKeepsItsOwnerAndGroup) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as two users";
  ASSERT_EQ(::chmod(folder_.c_str(), 0777), 0);
  struct Case {
    uid_t owner;
    gid_t group;
    mode_t mode;
    int expected;     // the writer's result
    gid_t group_after;
  };
  const Case cases[] = {
      {kThirdUser, kThirdUser, 0666, 0, kThirdUser},  // another user's file: skipped
      {0, 0, 0666, 0, 0},                             // root's file: skipped
      {kNobody, kNobody, 0666, 1, kNobody},           // the writer's own file: written
      // The writer's own file shared with a group it is not in: skipped,
      // the group would lose it.
      {kNobody, kThirdUser, 0664, 0, kThirdUser},
      // The writer's own file whose group only reads it (made through
      // sudo, group root): written, and it takes the writer's group.
      {kNobody, 0, 0644, 1, kNobody},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "owner " << c.owner << ", group " << c.group);
    write("I2C.INI", commented_file);
    ASSERT_EQ(::chown(path("I2C.INI").c_str(), c.owner, c.group), 0);
    ASSERT_EQ(::chmod(path("I2C.INI").c_str(), c.mode), 0);
    EXPECT_EQ(as_user(kNobody, [&] { return put("S", "k", "v"); }), c.expected);
    struct stat info{};
    ASSERT_EQ(::stat(path("I2C.INI").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, c.owner);
    EXPECT_EQ(info.st_gid, c.group_after);
    EXPECT_EQ(info.st_mode & 07777, c.mode);
    EXPECT_EQ(read("I2C.INI") == commented_file, c.expected == 0);
    EXPECT_EQ(folder_entries(), std::vector<std::string>{"I2C.INI"});
  }
}

// The kernel follows a link in a sticky, world-writable folder only for
// the link's owner or when the folder's owner made it; a writer that
// resolves links itself keeps the same rule.
TEST_F(ProfilePut, ALinkTheKernelWouldNotFollowIsNotFollowed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as several users";
  ASSERT_EQ(::chmod(folder_.c_str(), 0755), 0);
  std::filesystem::create_directory(path("shared"));
  ASSERT_EQ(::chmod(path("shared").c_str(), 01777), 0);
  std::filesystem::create_directory(path("victim"));
  ASSERT_EQ(::chmod(path("victim").c_str(), 0777), 0);
  struct Case {
    uid_t link_owner;
    int expected;
  };
  const Case cases[] = {
      {kThirdUser, 0},  // another user's link: refused
      {0, 1},           // the folder owner's link: followed
      {kNobody, 1},     // the writer's own link: followed
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "link owner " << c.link_owner);
    write("victim/target.ini", commented_file);
    ASSERT_EQ(::chown(path("victim/target.ini").c_str(), kNobody, kNobody), 0);
    std::filesystem::remove(path("shared/I2C.INI"));
    std::filesystem::create_symlink(path("victim/target.ini"), path("shared/I2C.INI"));
    ASSERT_EQ(::lchown(path("shared/I2C.INI").c_str(), c.link_owner, c.link_owner), 0);
    EXPECT_EQ(as_user(kNobody,
                      [&] { return profile::put(path("shared/I2C.INI"), "S", "k", "v"); }),
              c.expected);
    EXPECT_EQ(read("victim/target.ini") == commented_file, c.expected == 0);
  }
}

}  // namespace
