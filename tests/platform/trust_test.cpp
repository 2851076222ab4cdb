// What a privileged process trusts: which processes count as privileged,
// which configuration file paths pass the walk from /, and how files named
// for writing are opened. The path and file cases need root (to hand files
// to another user); they skip elsewhere.
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include "platform/trust/trust.h"
#include "tests/support/child.h"
#include "tests/support/files.h"
#include "tests/support/scratch.h"

namespace {

constexpr uid_t kOther = 65534;  // nobody: any user but root will do

// Runs `body` in a forked child and gives its exit status.
int in_child(const std::function<int()>& body) { return test_kit::Child(body).exit_status(); }

bool become_other_user() {
  return ::setgroups(0, nullptr) == 0 && ::setgid(kOther) == 0 && ::setuid(kOther) == 0;
}

class Trust : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to give files to another user";
    scratch_.emplace("trust-test-", 0755);
    folder_ = scratch_->path();
    if (const std::string why = trust::configuration_refusal(path("probe")); !why.empty()) {
      GTEST_SKIP() << "the scratch folder itself is not trusted (" << why
                   << "); point TMPDIR at a folder that only root can write";
    }
  }

  std::string path(const std::string& name) const { return folder_ + "/" + name; }
  void write(const std::string& name, const std::string& text, mode_t mode = 0644) const {
    test_kit::write_file(path(name), text);
    ::chmod(path(name).c_str(), mode);
  }
  std::string read(const std::string& name) const { return test_kit::read_file(path(name)); }
  void folder(const std::string& name, mode_t mode, uid_t owner = 0) const {
    ::mkdir(path(name).c_str(), 0755);
    ::chmod(path(name).c_str(), mode);
    ::chown(path(name).c_str(), owner, owner);
  }
  void link(const std::string& name, const std::string& target, uid_t owner = 0) const {
    ::symlink(target.c_str(), path(name).c_str());
    ::lchown(path(name).c_str(), owner, owner);
  }

  std::optional<test_kit::ScratchFolder> scratch_;
  std::string folder_;
};

TEST(Privilege, RootAnIdThatDiffersAndCapSysRawioCountAnOrdinaryUserDoesNot) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to take on other ids";
  EXPECT_TRUE(trust::privileged());
  struct Case {
    const char* name;
    std::function<bool()> become;  // false: could not set the process up
    bool privileged;
  };
  const Case cases[] = {
      {"every id nobody's", become_other_user, false},
      {"effective user differs from the real one",
       [] { return ::setgroups(0, nullptr) == 0 && ::setgid(kOther) == 0 &&
                   ::setresuid(kOther, kOther - 1, kOther) == 0; },
       true},
      {"an ordinary user holding CAP_SYS_RAWIO",
       [] {
         if (::prctl(PR_SET_KEEPCAPS, 1) != 0 || !become_other_user()) return false;
         __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
         __user_cap_data_struct data[2]{};
         data[0].effective = data[0].permitted = 1u << CAP_SYS_RAWIO;
         return ::syscall(SYS_capset, &header, data) == 0;
       },
       true},
  };
  for (const Case& c : cases) {
    const int status = in_child([&] { return !c.become() ? 2 : trust::privileged() ? 1 : 0; });
    EXPECT_EQ(status, c.privileged ? 1 : 0) << c.name << " (2: could not be set up)";
  }
}

TEST_F(Trust, TheConfigurationPathIsTrustedOnlyWhenNobodyElseCouldHavePlacedOrChangedIt) {
  write("good.ini", "[I2C Card]\n");
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::string path;
    std::string refused;  // a part of the reason; empty: trusted
  };
  const std::string root_folder = folder_;
  const Case cases[] = {
      {"root's file in root's folder", [] {}, path("good.ini"), ""},
      {"a file that is missing", [] {}, path("absent.ini"), ""},
      {"a folder where the file should be", [&] { folder("dir.ini", 0755); }, path("dir.ini"), ""},
      {"through . and ..", [&] { folder("sub", 0755); }, path("sub/.././good.ini"), ""},
      {"root's link to root's file", [&] { link("link.ini", "good.ini"); }, path("link.ini"), ""},
      {"the file writable by its group", [&] { write("group.ini", "", 0664); },
       path("group.ini"), path("group.ini") + " is writable by other users"},
      {"the file of another user", [&] { write("other.ini", ""); ::chown(path("other.ini").c_str(), kOther, kOther); },
       path("other.ini"), path("other.ini") + " belongs to user 65534"},
      {"the link of another user", [&] { link("their.ini", "good.ini", kOther); },
       path("their.ini"), "the symbolic link " + path("their.ini") + " belongs to user 65534"},
      {"a sticky folder that everyone may write",
       [&] { folder("sticky", 01777); write("sticky/I2C.INI", ""); },
       path("sticky/I2C.INI"), "the folder " + path("sticky") + " is writable by other users"},
      {"root's folder inside a sticky one",
       [&] { folder("sticky2", 01777); folder("sticky2/mine", 0700); write("sticky2/mine/I2C.INI", ""); },
       path("sticky2/mine/I2C.INI"), "the folder " + path("sticky2") + " is writable"},
      {"a folder of another user", [&] { folder("theirs", 0755, kOther); },
       path("theirs/I2C.INI"), "the folder " + path("theirs") + " belongs to user 65534"},
      {"root's link into a sticky folder",
       [&] { folder("sticky3", 01777); link("into.ini", "sticky3/x.ini"); },
       path("into.ini"), "the folder " + path("sticky3") + " is writable"},
      {"an absolute link to a file of another user",
       [&] { write("abs.ini", ""); ::chown(path("abs.ini").c_str(), kOther, kOther);
             link("abs-link.ini", path("abs.ini")); },
       path("abs-link.ini"), path("abs.ini") + " belongs to user 65534"},
  };
  for (const Case& c : cases) {
    c.arrange();
    const std::string why = trust::configuration_refusal(c.path);
    if (c.refused.empty()) {
      EXPECT_EQ(why, "") << c.name;
    } else {
      EXPECT_NE(why.find(c.refused), std::string::npos) << c.name << ": " << why;
    }
  }
  // A relative name is walked from the current folder, and named in full.
  char* here = ::getcwd(nullptr, 0);
  ASSERT_EQ(::chdir(root_folder.c_str()), 0);
  EXPECT_EQ(trust::configuration_refusal("group.ini"),
            path("group.ini") + " is writable by other users");
  EXPECT_EQ(trust::configuration_refusal("good.ini"), "");
  ASSERT_EQ(::chdir(here), 0);
  std::free(here);
}

TEST_F(Trust, FilesNamedForWritingAreNeitherFollowedNorTakenFromAnotherUserAndNewOnesAre0600) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    bool opened;
    const char* error;  // a part of the reason when refused
  };
  write("victim", "root's own bytes\n");
  const Case cases[] = {
      {"a new file", [] {}, true, ""},
      {"root's existing file", [&] { write("target", "kept\n"); }, true, ""},
      {"a symbolic link", [&] { link("target", "victim"); }, false, "symbolic link"},
      {"a file of another user",
       [&] { write("target", "theirs\n"); ::chown(path("target").c_str(), kOther, kOther); },
       false, "belongs to user 65534"},
      {"a second name of root's file", [&] { ::link(path("victim").c_str(), path("target").c_str()); },
       false, "hard links"},
  };
  for (const Case& c : cases) {
    ::unlink(path("target").c_str());
    c.arrange();
    const std::string before = read("target");
    std::string error;
    const int fd = trust::open_named_file(path("target"), O_WRONLY | O_CREAT | O_TRUNC, 0666, error);
    EXPECT_EQ(fd >= 0, c.opened) << c.name << ": " << error;
    if (fd >= 0) {
      EXPECT_EQ(::write(fd, "new\n", 4), 4) << c.name;
      ::close(fd);
      EXPECT_EQ(read("target"), "new\n") << c.name;
      struct stat info{};
      ::stat(path("target").c_str(), &info);
      if (before.empty()) {
        EXPECT_EQ(info.st_mode & 07777, 0600u) << c.name;
      }
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
      EXPECT_EQ(read("target"), before) << c.name << ": truncated though refused";
    }
    EXPECT_EQ(read("victim"), "root's own bytes\n") << c.name;
  }
}

TEST_F(Trust, AnUnprivilegedProcessChecksNothingAndFollowsLinksAsBefore) {
  folder("own", 0777);
  write("own/I2C.INI", "", 0666);
  link("own/trace", "trace.real", kOther);
  const int status = in_child([&] {
    if (!become_other_user()) return 2;
    if (!trust::configuration_refusal(path("own/I2C.INI")).empty()) return 3;
    std::string error;
    const int fd = trust::open_named_file(path("own/trace"), O_WRONLY | O_CREAT | O_APPEND, 0644, error);
    return fd >= 0 && ::write(fd, "x", 1) == 1 ? 0 : 4;
  });
  EXPECT_EQ(status, 0) << "2: could not become another user, 3: path refused, 4: link not followed";
  EXPECT_EQ(read("own/trace.real"), "x");
}

}  // namespace
