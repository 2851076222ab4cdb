// What a privileged process trusts: which processes count as privileged,
// which configuration file paths pass the walk from /, and how files named
// for writing are opened. The path and file cases need root (to hand files
// to another user); they skip elsewhere.
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
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
#include "tests/support/program.h"
#include "tests/support/scratch.h"

namespace {

constexpr uid_t kOther = test_kit::kOtherUser;
using test_kit::become_other_user;
using test_kit::become_set_user_id_root;

// Runs `body` in a forked child and gives its exit status.
int in_child(const std::function<int()>& body) { return test_kit::Child(body).exit_status(); }

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
  EXPECT_FALSE(trust::elevated()) << "root running its own program";
  struct Case {
    const char* name;
    std::function<bool()> become;  // false: could not set the process up
    bool privileged;
    bool elevated;  // privileged, and started by another user than root
  };
  const Case cases[] = {
      {"every id nobody's", become_other_user, false, false},
      {"effective user differs from the real one",
       [] { return ::setgroups(0, nullptr) == 0 && ::setgid(kOther) == 0 &&
                   ::setresuid(kOther, kOther - 1, kOther) == 0; },
       true, true},
      {"set-user-ID root started by nobody", become_set_user_id_root, true, true},
      {"root with another effective group (set-group-ID, started by root)",
       [] { return ::setresgid(0, kOther, 0) == 0; }, true, false},
      {"an ordinary user holding CAP_SYS_RAWIO",
       [] {
         if (::prctl(PR_SET_KEEPCAPS, 1) != 0 || !become_other_user()) return false;
         __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
         __user_cap_data_struct data[2]{};
         data[0].effective = data[0].permitted = 1u << CAP_SYS_RAWIO;
         return ::syscall(SYS_capset, &header, data) == 0;
       },
       true, true},
  };
  for (const Case& c : cases) {
    const int status = in_child([&] {
      if (!c.become()) return 4;
      return (trust::privileged() ? 1 : 0) + (trust::elevated() ? 2 : 0);
    });
    EXPECT_EQ(status, (c.privileged ? 1 : 0) + (c.elevated ? 2 : 0))
        << c.name << " (1: privileged, 2: elevated, 4: could not be set up)";
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
      {"root's read-only file", [&] { write("target", "kept\n", 0444); }, false, "read-only"},
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

// The same files and names, judged by root running its own program and by
// a set-user-ID root program that nobody started: the latter trusts only
// root's files, shows nothing of a file nobody could read, opens no device
// that its user names, and takes nothing from the environment.
TEST_F(Trust, AHostStartedByAnotherUserTrustsOnlyRootsFilesAndNotItsEnvironment) {
  write("root-readable.ini", "[I2C Card]\n", 0644);
  write("root-only.ini", "[I2C Card]\nNops = secret\n", 0600);
  write("users.ini", "[I2C Card]\n");
  ::chown(path("users.ini").c_str(), kOther, kOther);
  write("users.log", "");
  ::chown(path("users.log").c_str(), kOther, kOther);
  folder("users", 0755, kOther);
  ::setenv("TARNWICK_TEST_VARIABLE", "chosen", 1);
  const auto configuration = [&](const std::string& name) {
    return [this, name] { return trust::configuration_refusal(path(name)); };
  };
  const auto named = [](const std::string& file) {
    return [file] {
      std::string error;
      const int fd = trust::open_named_file(file, O_WRONLY | O_APPEND, 0644, error);
      if (fd >= 0) ::close(fd);
      return fd >= 0 ? std::string() : error;
    };
  };
  struct Case {
    const char* name;
    std::function<std::string()> refusal;  // empty: accepted
    const char* as_root;                   // a part of the reason; "": accepted
    const char* elevated;
  };
  const Case cases[] = {
      {"root's readable file", configuration("root-readable.ini"), "", ""},
      {"root's file that its user cannot read", configuration("root-only.ini"), "",
       "cannot be read by the user running this program"},
      {"the user's own configuration file", configuration("users.ini"),
       "belongs to user 65534", "belongs to user 65534, not to root"},
      {"a file in the user's own folder", configuration("users/I2C.INI"),
       "the folder", "the folder"},
      {"the user's own trace", named(path("users.log")), "belongs to user 65534",
       "belongs to user 65534, not to root"},
      {"/dev/null as a trace", named("/dev/null"), "", "device"},
      {"a variable of the environment",
       [] { return trust::environment("TARNWICK_TEST_VARIABLE") == nullptr
                       ? std::string("ignored") : std::string(); },
       "", "ignored"},
  };
  // Root itself used to trust the real user's files, so its column shows
  // which refusals come from being elevated alone.
  for (const Case& c : cases) {
    for (const bool elevated : {false, true}) {
      const char* expected = elevated ? c.elevated : c.as_root;
      const int status = in_child([&] {
        if (elevated && !become_set_user_id_root()) return 2;
        const std::string why = c.refusal();
        if (*expected == '\0') return why.empty() ? 0 : 3;
        return why.find(expected) != std::string::npos ? 0 : 4;
      });
      EXPECT_EQ(status, 0) << c.name << (elevated ? ", elevated" : ", as root")
                           << " (2: could not be set up, 3: refused, 4: accepted or another reason)";
    }
  }
  ::unsetenv("TARNWICK_TEST_VARIABLE");
}

// A file that root writes, reached through folders and links: every one of
// them is held to the configuration file's rules, not just the last name,
// so a link that another user planted cannot lead root into a folder of
// its own, and no folder that others can write holds what root writes.
TEST_F(Trust, EveryFolderOnTheWayToAFileRootWritesIsChecked) {
  folder("home", 0700);
  folder("attic", 0755, kOther);
  link("attic/to-home", path("home"), kOther);
  link("their-link", path("home"), kOther);
  link("root-link", path("home"));
  folder("sticky", 01777);
  folder("users", 0755, kOther);
  struct Case {
    const char* name;
    std::string file;
    const char* refused;  // a part of the reason; nullptr: opened
    std::string created;  // where the file appears when opened
  };
  const Case cases[] = {
      {"root's folder", path("home/trace.log"), nullptr, path("home/trace.log")},
      {"root's link to root's folder", path("root-link/trace.log"), nullptr,
       path("home/trace.log")},
      {"another user's link to root's folder", path("their-link/trace.log"),
       "the symbolic link", path("home/trace.log")},
      {"a link in another user's folder", path("attic/to-home/trace.log"),
       "belongs to user 65534", path("home/trace.log")},
      {"a sticky folder that everyone may write", path("sticky/trace.log"),
       "is writable by other users", path("sticky/trace.log")},
      {"another user's folder", path("users/trace.log"), "belongs to user 65534",
       path("users/trace.log")},
      {"a folder that is missing", path("missing/trace.log"), "No such file",
       path("missing/trace.log")},
  };
  for (const Case& c : cases) {
    ::unlink(c.created.c_str());
    std::string error;
    const int fd = trust::open_named_file(c.file, O_WRONLY | O_CREAT | O_TRUNC, 0644, error);
    std::string folder_error;
    const int folder = trust::open_named_folder(c.file, folder_error);
    if (c.refused == nullptr) {
      EXPECT_GE(fd, 0) << c.name << ": " << error;
      EXPECT_GE(folder, 0) << c.name << ": " << folder_error;
      EXPECT_EQ(::access(c.created.c_str(), F_OK), 0) << c.name;
    } else {
      EXPECT_LT(fd, 0) << c.name;
      EXPECT_NE(error.find(c.refused), std::string::npos) << c.name << ": " << error;
      EXPECT_LT(folder, 0) << c.name;
      EXPECT_NE(folder_error.find(c.refused), std::string::npos) << c.name << ": " << folder_error;
      EXPECT_NE(::access(c.created.c_str(), F_OK), 0) << c.name << ": created though refused";
    }
    if (fd >= 0) ::close(fd);
    if (folder >= 0) ::close(folder);
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

// Every key's way of opening (Trace appends, Waveform truncates, EEPROM
// File reads) meets a FIFO, a socket, a folder, /dev/null and a plain file,
// as an ordinary user and as root. A FIFO with nobody at its other end
// used to hold an ordinary user's host for ever: the child here has five
// seconds.
TEST(NamedFiles, OnlyRegularFilesAndCharacterDevicesAreOpenedAndNothingWaits) {
  test_kit::ScratchFolder scratch("named-kind-", 0755);
  ASSERT_EQ(::mkfifo(scratch.file("fifo").c_str(), 0666), 0);
  ::chmod(scratch.file("fifo").c_str(), 0666);  // past the umask: anyone may open it
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = scratch.file("socket");
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  socket_path.copy(address.sun_path, socket_path.size());
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::chmod(socket_path.c_str(), 0777);
  test_kit::write_file(scratch.file("plain"), "bytes\n");
  ::chmod(scratch.file("plain").c_str(), 0666);
  struct Way {
    const char* key;
    int flags;
  };
  const Way ways[] = {{"Trace", O_WRONLY | O_CREAT | O_APPEND},
                      {"Waveform", O_WRONLY | O_CREAT | O_TRUNC},
                      {"EEPROM File", O_RDONLY}};
  struct Case {
    const char* name;
    std::string path;
    const char* refused;  // a part of the reason; nullptr: opened
  };
  const Case cases[] = {
      {"a FIFO", scratch.file("fifo"), "FIFO"},
      {"a socket", socket_path, "socket"},
      {"a folder, which the image reader names itself", scratch.path(), nullptr},
      {"/dev/null", "/dev/null", nullptr},
      {"a regular file", scratch.file("plain"), nullptr},
  };
  for (const bool as_other : {false, true}) {
    if (as_other && ::geteuid() != 0) continue;  // this process is the other user already
    for (const Way& way : ways) {
      for (const Case& c : cases) {
        if (c.path == scratch.path() && way.flags != O_RDONLY) continue;  // EISDIR
        const int status = in_child([&] {
          if (as_other && !become_other_user()) return 2;
          ::alarm(5);
          std::string error;
          const int fd = trust::open_named_file(c.path, way.flags, 0644, error);
          if (c.refused == nullptr) return fd >= 0 ? 0 : 3;
          return fd < 0 && error.find(c.refused) != std::string::npos ? 0 : 4;
        });
        EXPECT_EQ(status, 0) << way.key << " naming " << c.name << (as_other ? " as nobody" : "")
                             << " (2: no other user, 3: refused, 4: opened or wrong reason,"
                                " other: hung)";
      }
    }
  }
  ::close(listener);
}

}  // namespace
