// Helpers of the hardening tests: settings from the environment, memory
// shared by forked processes, processes that are stopped and killed at a
// chosen point, the bus locks seen from outside, and the console run as a
// program.
#pragma once

#include <sys/mman.h>
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace hardening {

// ------------------------------------------------------------ settings --

// The whole number in environment variable `name`, or `fallback` when it is
// unset or empty. Throws std::invalid_argument, naming the variable, for
// anything but a number from `min` to `max`.
long setting(const char* name, long fallback, long min, long max);

// A comma-separated list in environment variable `name` (or `fallback`),
// blanks around the items dropped.
std::vector<std::string> setting_list(const char* name, const std::string& fallback);

// A kill point: "N" is N itself, "P%" is P percent of `whole`. Throws
// std::invalid_argument, naming the variable, for any other text.
long kill_point(const char* name, const std::string& item, long whole = 0);

// ------------------------------------------------------- shared memory --

// One T in memory that stays shared with every process forked after it was
// made. T must be usable from several processes at once (lock-free atomics
// and plain data).
template <typename T>
class Shared {
 public:
  Shared() {
    void* memory =
        ::mmap(nullptr, sizeof(T), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) throw std::runtime_error("cannot map shared memory");
    value_ = new (memory) T{};
  }
  ~Shared() {
    value_->~T();
    ::munmap(value_, sizeof(T));
  }
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;

  T* operator->() const { return value_; }
  T& operator*() const { return *value_; }

 private:
  T* value_ = nullptr;
};

// ----------------------------------------------------------- processes --

// A forked process that runs `body` and exits with its result (127 when it
// throws). Unlike harness::ChildProcess it can be watched until it stops
// itself (SIGSTOP) and then be killed at exactly that point.
class Forked {
 public:
  explicit Forked(const std::function<int()>& body);
  // Kills and reaps the process if that has not happened yet.
  ~Forked();
  Forked(const Forked&) = delete;
  Forked& operator=(const Forked&) = delete;

  pid_t pid() const { return pid_; }

  enum class Outcome { stopped, exited, killed, timed_out };
  struct Ending {
    Outcome outcome = Outcome::timed_out;
    int code = 0;  // exit status, or the signal that killed it
  };
  // Waits until the process stops itself or ends, at most `timeout_ms` (a
  // safety net against a hung process, not a measurement).
  Ending wait(int timeout_ms = 60000);

  // kill -9 and reap: the process dies where it stands.
  void kill_hard();

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
};

// ----------------------------------------------------------- bus locks --

// How many processes hold the bus semaphore of `slot` (0 card, 1 parallel
// adapters) under the current TARNWICK_SEM_PREFIX: 0 or 1; -1 when the
// semaphore does not exist.
int slot_holders(int slot);

// --------------------------------------------------------------- files --

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);
// Names in `directory` that begin with `prefix`.
std::vector<std::string> names_starting_with(const std::string& directory,
                                             const std::string& prefix);
// The lines of `text` without their line ends.
std::vector<std::string> lines_of(const std::string& text);

// ------------------------------------------------------------- console --

struct ProgramRun {
  std::string output;  // standard output
  std::string errors;  // standard error
  int exit_status = -1;  // -1: did not exit by itself (killed, or hung)
};

// A shared object that a program loads: the file, and the name (soname)
// under which the loader looks for it.
struct SharedObject {
  std::string file;
  std::string soname;
};

struct ProgramOptions {
  std::string program;
  std::string input;                     // all of standard input
  std::string directory;                 // working directory
  std::vector<std::string> environment;  // "NAME=value", over the inherited
  bool unprivileged = false;             // as user and group 65534 when root
  // What an unprivileged run loads besides the system's libraries. The
  // build tree may lie where that user cannot go (a checkout in root's
  // home, mode 0700), so the program and these run from a copy in a
  // directory every user can reach, found through LD_LIBRARY_PATH.
  std::vector<SharedObject> libraries;
};

// Runs the program with `input` as its whole standard input and collects
// what it writes. A program still running after `timeout_ms` is killed.
ProgramRun run_program(const ProgramOptions& options, int timeout_ms = 60000);

// Whether this process may switch a child to another user (it is not root,
// or root may change its ids here).
bool can_drop_privileges();

}  // namespace hardening
