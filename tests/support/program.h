// Running a program as a user would: arguments, environment, all of its
// standard input given at once, optionally as another user, with what it
// writes collected and a time limit against a hung program.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace test_kit {

// A shared object that a program loads: the file, and the name (soname)
// under which the loader looks for it.
struct SharedObject {
  std::string file;
  std::string soname;
};

struct Program {
  Program() = default;
  Program(std::vector<std::string> argv, std::string directory = {},
          std::vector<std::string> environment = {}, std::string input = {})
      : argv(std::move(argv)),
        directory(std::move(directory)),
        environment(std::move(environment)),
        input(std::move(input)) {}

  std::vector<std::string> argv;  // argv[0] is looked up in PATH
  std::string directory;          // working directory; empty: as now
  // Over the inherited environment: "NAME=value" sets, "NAME" removes.
  std::vector<std::string> environment;
  std::string input;  // all of standard input
  // Run as user and group 65534 when this process is root. The build tree
  // may lie where that user cannot go (a clone in root's home, mode 0700),
  // so the program and `libraries` run from a copy in a folder every user
  // can reach, found through LD_LIBRARY_PATH.
  bool as_other_user = false;
  std::vector<SharedObject> libraries;
  int timeout_ms = 600000;  // killed after this; a safety net, not a measurement
};

struct Run {
  std::string out;       // standard output
  std::string err;       // standard error
  int exit_status = -1;  // -1: did not exit by itself (killed, or hung)
  int signal = 0;        // the signal that ended it, or 0
  // The exit status, or 128 + the signal, as a shell shows it.
  int status() const { return signal != 0 ? 128 + signal : exit_status; }
};

Run run_program(const Program& program);

// The inherited environment with `changes` applied as Program::environment
// says ("NAME=value" sets, "NAME" removes), as "NAME=value" entries.
std::vector<std::string> environment_with(const std::vector<std::string>& changes);

// The other user of the tests that need two: nobody, any user but root.
inline constexpr uid_t kOtherUser = 65534;

// In a child of root: every id becomes kOtherUser's. True at once when this
// process is not root (it is another user already).
bool become_other_user();

// In a child of root: what a set-user-ID root program is when kOtherUser
// starts it (real ids that user's, effective user root).
bool become_set_user_id_root();

// Whether this process may run a child as another user (it is not root, or
// root may change its ids here).
bool can_switch_user();

}  // namespace test_kit
