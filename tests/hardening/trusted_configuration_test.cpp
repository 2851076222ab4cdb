// The console run as root where another user could have left the
// configuration file, and where nobody could: a file, link or folder that
// another user controls is refused in one line, written to never, and the
// files it names are not created; a file of root's own, or an ordinary
// user's own file, works as before, debug record included.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/trust/trust.h"
#include "tests/hardening/hardening_support.h"
#include "tests/support/files.h"
#include "tests/support/program.h"
#include "tests/support/scoped_env.h"
#include "tests/support/semaphores.h"
#include "tests/support/tarnwick_harness.h"

namespace {

constexpr uid_t kOther = 65534;  // the other user: nobody
const std::string kRefusal = "tarnwick: not using the configuration file I2C.INI: ";

bool exists(const std::string& path) {
  struct stat info{};
  return ::lstat(path.c_str(), &info) == 0;
}

class TrustedConfiguration : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root: the checks are those of a privileged host";
    ASSERT_EQ(::chmod(environment_.directory().c_str(), 0755), 0);  // reachable by nobody
    if (const std::string why = trust::configuration_refusal(path("x")); !why.empty()) {
      GTEST_SKIP() << "the scratch folder itself is not trusted (" << why
                   << "); point TMPDIR at a folder that only root can write";
    }
    folder("home", 0700);  // root's home: nothing may appear in it
    folder("sticky", 01777);
    test_kit::write_file(victim(), "[I2C para]\nNops = 7\n");
  }

  std::string path(const std::string& name) const { return environment_.file(name); }
  std::string victim() const { return path("home/victim.ini"); }
  void folder(const std::string& name, mode_t mode, uid_t owner = 0) const {
    ASSERT_EQ(::mkdir(path(name).c_str(), mode), 0);
    ASSERT_EQ(::chmod(path(name).c_str(), mode), 0);
    ASSERT_EQ(::chown(path(name).c_str(), owner, owner), 0);
  }
  // Settings that name files in root's home and that would show in the
  // debug record.
  std::string naming_roots_files() const {
    return "[I2C para]\nNops = 5\n[Port IO]\nTrace = " + path("home/trace.log") +
           "\n[Simulation]\nWaveform = " + path("home/bus.vcd") +
           "\nEEPROM File = " + path("home/eeprom.bin") + "\n";
  }

  test_kit::Run console(const std::string& folder, bool unprivileged) const {
    test_kit::Program options;
    options.timeout_ms = 60000;
    options.argv = {SONDREL_PROGRAM};
    // The adapter's init writes the debug record; the EEPROM write would save the image.
    options.input = "select 2\nstart\naddress 160\nwrite 0,1\nclose\ninfo\nquit\n";
    options.directory = path(folder);
    options.environment = {"I2C_INI="};  // found in the current folder
    options.as_other_user = unprivileged;
    return test_kit::run_program(options);
  }

  harness::Environment environment_;
};

TEST_F(TrustedConfiguration, RootUsesOnlyAFileThatNobodyElseCouldHavePlacedOrChanged) {
  struct Case {
    const char* name;
    const char* folder;  // where the console runs and finds I2C.INI
    std::function<void(const std::string& file)> arrange;
    bool unprivileged;
    std::string refused;  // the reason the one line gives; empty: used
  };
  // The walk from / stops at the first folder that others can write.
  const std::string sticky_refused = "the folder " + path("sticky") + " is writable by other users";
  const Case cases[] = {
      {"another user's link to root's file in a sticky folder", "sticky",
       [&](const std::string& file) {
         ASSERT_EQ(::symlink(victim().c_str(), file.c_str()), 0);
         ASSERT_EQ(::lchown(file.c_str(), kOther, kOther), 0);
       },
       false, sticky_refused},
      {"another user's file naming files in root's home", "sticky",
       [&](const std::string& file) {
         test_kit::write_file(file, naming_roots_files());
         ASSERT_EQ(::chown(file.c_str(), kOther, kOther), 0);
       },
       false, sticky_refused},
      {"root's own file in a sticky folder", "sticky",
       [&](const std::string& file) { test_kit::write_file(file, naming_roots_files()); },
       false, sticky_refused},
      {"root's own file in root's folder", "mine",
       [&](const std::string& file) {
         folder("mine", 0755);
         test_kit::write_file(file, naming_roots_files());
       },
       false, ""},
      {"an ordinary user's own file", "theirs",
       [&](const std::string& file) {
         folder("theirs", 0755, kOther);
         test_kit::write_file(file, "[I2C para]\nNops = 5\n[Port IO]\nTrace = " +
                                         path("theirs/trace.log") + "\n");
         ASSERT_EQ(::chown(file.c_str(), kOther, kOther), 0);
       },
       true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.unprivileged && !test_kit::can_switch_user()) {
      std::printf("note: cannot run the console as another user here; \"%s\" not checked\n", c.name);
      continue;
    }
    const std::string file = path(std::string(c.folder) + "/I2C.INI");
    ::unlink(file.c_str());
    c.arrange(file);
    const std::string before = test_kit::read_file(file);
    const std::string victim_before = test_kit::read_file(victim());

    const auto run = console(c.folder, c.unprivileged);
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_NE(run.out.find("Sent to slave : 0 1 \n"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("In use : Philips adapter\n"), std::string::npos) << run.err;
    EXPECT_EQ(test_kit::read_file(victim()), victim_before);
    // INFO's box goes to standard error too; the port layer's lines are
    // the ones that start with its name.
    std::vector<std::string> lines;
    for (const auto& line : test_kit::lines_of(run.err, true)) {
      if (line.rfind("tarnwick: ", 0) == 0) lines.push_back(line);
    }
    if (c.refused.empty()) {
      EXPECT_TRUE(lines.empty()) << run.err;
      EXPECT_NE(test_kit::read_file(file).find("[Debug]\nBastion=Base:0x378 Nops:0x5\n"),
                std::string::npos)
          << test_kit::read_file(file);
      const std::string trace = path(std::string(c.folder) == "mine" ? "home/trace.log"
                                                                     : "theirs/trace.log");
      EXPECT_TRUE(exists(trace)) << trace;
    } else {
      ASSERT_EQ(lines.size(), 1u) << run.err;
      EXPECT_EQ(lines[0].rfind(kRefusal + c.refused + ";", 0), 0u) << lines[0];
      EXPECT_EQ(test_kit::read_file(file), before) << "the refused file was written";
      for (const char* named : {"home/trace.log", "home/bus.vcd", "home/eeprom.bin"}) {
        EXPECT_FALSE(exists(path(named))) << named << " was created";
      }
    }
    // Files that root creates for itself are its own alone.
    struct stat info{};
    if (std::string(c.folder) == "mine" && ::stat(path("home/bus.vcd").c_str(), &info) == 0) {
      EXPECT_EQ(info.st_mode & 0777, 0600u);
    }
    for (const char* named : {"home/trace.log", "home/bus.vcd", "home/eeprom.bin"}) {
      ::unlink(path(named).c_str());
    }
  }
}

// A set-user-ID root copy of the console that user nobody runs, as an
// installer might make one: it trusts only what root placed where nobody
// else can write and nobody may read, takes no configuration file from
// the environment, and so writes root's files only when root named them.
TEST_F(TrustedConfiguration, ASetUserIdConsoleTrustsOnlyWhatRootPlacedAndItsUserCanRead) {
  if (!test_kit::can_switch_user()) GTEST_SKIP() << "cannot run the console as another user here";
  folder("bin", 0755);
  const std::string program = path("bin/sondrel");
  std::filesystem::copy_file(SONDREL_PROGRAM, program);
  ASSERT_EQ(::chmod(program.c_str(), 04755), 0);
  folder("mine", 0755);
  test_kit::write_file(path("mine/I2C.INI"), naming_roots_files());
  folder("secret", 0755);
  test_kit::write_file(path("secret/I2C.INI"), naming_roots_files());
  ASSERT_EQ(::chmod(path("secret/I2C.INI").c_str(), 0600), 0);
  folder("users", 0755, kOther);
  test_kit::write_file(path("users/I2C.INI"), naming_roots_files());
  ASSERT_EQ(::chown(path("users/I2C.INI").c_str(), kOther, kOther), 0);
  folder("empty", 0755);
  struct Case {
    const char* name;
    const char* folder;  // where the console runs
    std::string i2c_ini;
    std::string refused;  // the one line's reason; empty: no line
    bool writes_roots_files;
  };
  const Case cases[] = {
      {"root's readable file in root's folder", "mine", "", "", true},
      {"the user's own file in the user's folder", "users", "",
       "the folder " + path("users") + " belongs to user 65534, not to root", false},
      {"root's file that the user cannot read", "secret", "",
       path("secret/I2C.INI") + " cannot be read by the user running this program", false},
      {"I2C_INI naming root's file", "empty", path("mine/I2C.INI"), "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test_kit::Program options;
    options.timeout_ms = 60000;
    options.argv = {program};
    options.input = "select 2\nstart\naddress 160\nwrite 0,1\nclose\nquit\n";
    options.directory = path(c.folder);
    // A prefix of its user's choice would steer the bus lock onto another
    // program's semaphore set: the lock taken is the machine's own.
    const test_kit::SemaphoreNamespace chosen("setuid");
    options.environment = {"I2C_INI=" + c.i2c_ini, chosen.environment_entry()};
    options.as_other_user = true;
    const auto run = test_kit::run_program(options);
    {
      const test_kit::ScopedEnv looking("TARNWICK_SEM_PREFIX", chosen.prefix());
      EXPECT_EQ(test_kit::slot_holders(1), -1) << "the lock was taken under the user's prefix";
    }
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_NE(run.out.find("Sent to slave : 0 1 \n"), std::string::npos) << run.out << run.err;
    std::vector<std::string> lines;
    for (const auto& line : test_kit::lines_of(run.err, true)) {
      if (line.rfind("tarnwick: ", 0) == 0) lines.push_back(line);
    }
    if (c.refused.empty()) {
      EXPECT_TRUE(lines.empty()) << run.err;
    } else {
      EXPECT_EQ(lines.size(), 1u) << run.err;
      if (!lines.empty()) {
        EXPECT_EQ(lines[0].rfind(kRefusal + c.refused, 0), 0u) << lines[0];
      }
    }
    EXPECT_EQ(exists(path("home/trace.log")), c.writes_roots_files);
    struct stat info{};
    if (::stat(path("home/trace.log").c_str(), &info) == 0) {
      EXPECT_EQ(info.st_uid, 0u);
      EXPECT_EQ(info.st_mode & 0777, 0600u);
    }
    EXPECT_FALSE(exists(path("empty/I2C.INI"))) << "created in a folder its user chose";
    for (const char* named : {"home/trace.log", "home/bus.vcd", "home/eeprom.bin"}) {
      ::unlink(path(named).c_str());
    }
  }
}

// A set-user-ID root copy of the EEPROM tool that user nobody runs reads
// and writes its FILE with nobody's rights: root's secret does not go into
// the part (to be dumped), and no file appears in root's own folder; the
// user's own folder works as for any user.
TEST_F(TrustedConfiguration, ASetUserIdEepromToolOpensItsUsersFilesWithTheUsersRights) {
  if (!test_kit::can_switch_user()) GTEST_SKIP() << "cannot run the tool as another user here";
  folder("bin", 0755);
  const std::string program = path("bin/tarnwick-eeprom");
  std::filesystem::copy_file(EEPROM_PROGRAM, program);
  ASSERT_EQ(::chmod(program.c_str(), 04755), 0);
  folder("users", 0755, kOther);
  folder("empty", 0755);
  test_kit::write_file(path("home/secret"), "root's secret\n");
  ASSERT_EQ(::chmod(path("home/secret").c_str(), 0600), 0);
  struct Case {
    std::vector<std::string> arguments;
    int status;
    const char* said;  // a part of the one line on standard error, or of the output
  };
  const Case cases[] = {
      {{"write", path("home/secret")}, 2, "cannot read " },
      {{"verify", path("home/secret")}, 2, "cannot read "},
      {{"--count", "8", "read", path("home/made")}, 2, "cannot write "},
      {{"--count", "8", "read", path("users/made")}, 0, "read 8 bytes at A0 into "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.front() + " " + c.arguments.back());
    test_kit::Program options;
    options.timeout_ms = 60000;
    options.argv = {program, "-i", "2"};
    options.argv.insert(options.argv.end(), c.arguments.begin(), c.arguments.end());
    options.directory = path("empty");
    options.as_other_user = true;
    const auto run = test_kit::run_program(options);
    EXPECT_EQ(run.exit_status, c.status) << run.out << run.err;
    EXPECT_NE((run.out + run.err).find(c.said), std::string::npos) << run.out << run.err;
  }
  EXPECT_FALSE(exists(path("home/made"))) << "made in root's folder";
  struct stat info{};
  ASSERT_EQ(::stat(path("users/made").c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, kOther) << "the user's file is the user's";
  EXPECT_FALSE(exists(path("empty/I2C.INI"))) << "created in a folder its user chose";
}

// Where there is no configuration file at all, there is nothing to
// distrust: root in a folder that others can write hears no word of trust,
// and the debug record is not written there either.
TEST_F(TrustedConfiguration, NoFileInAFolderOthersCanWriteIsNoMatterOfTrust) {
  const auto run = console("sticky", false);
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_NE(run.out.find("Sent to slave : 0 1 \n"), std::string::npos) << run.out;
  for (const auto& line : test_kit::lines_of(run.err, true)) {
    EXPECT_NE(line.rfind("tarnwick: ", 0), 0u) << line;
  }
  EXPECT_FALSE(exists(path("sticky/I2C.INI")));
}

}  // namespace
