// Bus locks on System V semaphores.
//
// The semaphore value counts holders, so 0 means free: the kernel creates a
// set with value 0, which leaves no window between creating a lock and
// making it free. A wait is the single atomic operation pair "wait for
// zero, then +1"; a release is "-1 without waiting", which the kernel
// refuses when nobody holds, so the count can never pass its maximum.
// Both carry SEM_UNDO: the kernel takes back the +1 of a process that dies
// holding the lock, even after SIGKILL. The threads of a process share one
// undo record, so a release from another thread balances the wait.
//
// Every user may read and alter the sets (mode 0666), as every user who may
// drive a bus must be able to take its lock: on real ports whoever the
// device nodes or port rights let in, which the library cannot know, and on
// the bench anyone. That leaves a local user able to write a count outright
// (semctl SETVAL): a 1 with no holder keeps every host off the bus, a 0
// under a holder lets a second host on. A lock that any user may take can
// be held against everyone in any case; these locks keep cooperating hosts
// apart, as lock files in /var/lock do, and the hardware's own rights keep
// out those who may not drive it. What a host can tell, it says in one line
// on standard error instead of passing it off as a busy bus: a set closed
// to this user, and a count that no host makes.
#include "platform/bus_semaphore.h"

#include <sys/ipc.h>
#include <sys/sem.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/stderr_line.h"
#include "platform/trust/trust.h"

namespace bus_semaphore {
namespace {

// Read and alter for every user: all hosts on the machine share the locks.
constexpr int kAccessMode = 0666;
// Each set holds exactly one semaphore.
constexpr unsigned short kSemaphore = 0;

// The caller must define this union for semctl.
union SemctlArg {
  int val;
  semid_ds* buf;
  unsigned short* array;
};

std::uint32_t fnv1a_32(std::string_view bytes) {
  std::uint32_t hash = 2166136261u;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 16777619u;
  }
  return hash;
}

std::string prefixed(const char* name) {
  const char* prefix = trust::environment("TARNWICK_SEM_PREFIX");
  std::string full = prefix != nullptr ? prefix : "";
  full += name;
  return full;
}

std::int64_t monotonic_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// ------------------------------------------------------------ reports --

// What is wrong with a set, each said at most once per key and process: a
// host that retries every 100 ms must not fill standard error.
enum class Problem { closed, impossible_count };

class Reports {
 public:
  void name(int key, const char* name) {
    std::lock_guard lock(mutex_);
    for (const auto& known : names_) {
      if (known.first == key) return;
    }
    names_.emplace_back(key, name);
  }

  // "I2CSEMA0 (key 0x3D9F1B3F)", or the key alone for a name never seen.
  std::string describe(int key) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(key));
    std::lock_guard lock(mutex_);
    for (const auto& known : names_) {
      if (known.first == key) return known.second + " (key " + hex + ")";
    }
    return std::string("with key ") + hex;
  }

  bool first_time(int key, Problem problem) {
    std::lock_guard lock(mutex_);
    const std::pair<int, Problem> entry{key, problem};
    if (std::find(said_.begin(), said_.end(), entry) != said_.end()) return false;
    said_.push_back(entry);
    return true;
  }

 private:
  std::mutex mutex_;
  std::vector<std::pair<int, std::string>> names_;
  std::vector<std::pair<int, Problem>> said_;
};

Reports& reports() {
  static Reports all;
  return all;
}

void report(int key, Problem problem, const std::string& what) {
  if (!reports().first_time(key, problem)) return;
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(key));
  std::string line = "bus semaphore " + reports().describe(key) + " " + what;
  if (problem == Problem::impossible_count) {
    line += std::string("; when no host is on the bus, remove it (ipcrm -S ") + hex +
            ") and the next host makes it anew";
  }
  portio::stderr_line(line);
}

void report_closed(int key) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(key));
  report(key, Problem::closed,
         std::string("is closed to this user: whoever made it gave this user no right to use "
                     "it (ipcs -s -c shows owner and mode); its owner or root can remove it "
                     "(ipcrm -S ") + hex + "), and the next host makes it open to all users");
}

void report_count(int key, int count) {
  report(key, Problem::impossible_count,
         "holds count " + std::to_string(count) +
             ", which no host makes (one holder at most): the bus stays locked");
}

// --------------------------------------------------------- ownership --

// systemd-logind removes the IPC objects of a user who logs out; a lock
// owned by root outlives every session. The creator keeps its own rights
// (it stays the creator), and a system that refuses the change still has a
// working lock, so a failure here is not an error.
void hand_to_root(int id) {
  semid_ds state{};
  SemctlArg arg{};
  arg.buf = &state;
  if (semctl(id, kSemaphore, IPC_STAT, arg) != 0) return;
  state.sem_perm.uid = 0;
  state.sem_perm.gid = 0;
  state.sem_perm.mode = kAccessMode;
  semctl(id, kSemaphore, IPC_SET, arg);
}

// Whether a set found in the system can serve as a bus lock here; one that
// this user may not even look at is named as closed. A count above the one
// holder a host can make is reported, not repaired: nobody can tell whether
// a host is on the bus, and writing 0 under a holder would let a second
// host on. (A set this user may look at but not alter shows at the first
// wait, which names it the same way.)
bool acceptable(int id, int key) {
  semid_ds state{};
  SemctlArg arg{};
  arg.buf = &state;
  if (semctl(id, kSemaphore, IPC_STAT, arg) != 0) {
    if (errno == EACCES) report_closed(key);
    return false;
  }
  const int count = semctl(id, kSemaphore, GETVAL);
  if (count > 1) report_count(key, count);
  return true;
}

int open_id(int key) {
  const int id = semget(key, 1, 0);
  if (id < 0) {
    if (errno == EACCES) report_closed(key);
    return -1;
  }
  return acceptable(id, key) ? id : -1;
}

int open_or_create_id(int key) {
  const int created = semget(key, 1, IPC_CREAT | IPC_EXCL | kAccessMode);
  if (created >= 0) {
    hand_to_root(created);
    return created;
  }
  if (errno != EEXIST) return -1;
  return open_id(key);
}

// Used when the kernel says the set under a handle is gone (removed by an
// administrator, logind or a test); the lock must go on existing.
bool reopen(Handle& handle) {
  const int id = open_or_create_id(handle.key);
  if (id < 0) return false;
  handle.id = id;
  return true;
}

// After a wait that timed out or was refused: a count that no host makes,
// or rights taken away since the set was opened, get their line instead of
// passing for a busy bus.
void explain_failed_wait(const Handle& handle, int error) {
  if (error == EACCES) {
    report_closed(handle.key);
    return;
  }
  const int count = semctl(handle.id, kSemaphore, GETVAL);
  if (count > 1) report_count(handle.key, count);
}

// The sets this process holds a count of. The kernel's undo record would
// take a count back from a process that never took it if another process
// released for it, and once the holder has died the lock would then stay
// taken for good; so only the holding process may release. A forked child
// inherits none of its parent's undo record, and none of these entries.
class Holdings {
 public:
  void add(int id) {
    std::lock_guard lock(mutex_);
    forget_if_forked();
    ids_.push_back(id);
  }

  // Removes the entry; false when this process does not hold that set.
  bool take(int id) {
    std::lock_guard lock(mutex_);
    forget_if_forked();
    const auto it = std::find(ids_.begin(), ids_.end(), id);
    if (it == ids_.end()) return false;
    ids_.erase(it);
    return true;
  }

 private:
  void forget_if_forked() {
    const pid_t self = getpid();
    if (owner_ != self) {
      ids_.clear();
      owner_ = self;
    }
  }

  std::mutex mutex_;
  pid_t owner_ = 0;
  std::vector<int> ids_;
};

Holdings& holdings() {
  static Holdings held;
  return held;
}

}  // namespace

int key_for(const char* name) {
  if (name == nullptr) return IPC_PRIVATE;
  const auto key = static_cast<int>(fnv1a_32(prefixed(name)) & 0x7FFFFFFFu);
  return key == IPC_PRIVATE ? 1 : key;
}

Handle open(const char* name) {
  if (name == nullptr) return {};
  const int key = key_for(name);
  reports().name(key, name);
  const int id = open_id(key);
  if (id < 0) return {};
  return {id, key};
}

Handle create(const char* name) {
  if (name == nullptr) return {};
  const int key = key_for(name);
  reports().name(key, name);
  const int id = open_or_create_id(key);
  if (id < 0) return {};
  return {id, key};
}

bool wait(Handle& handle, int timeout_ms) {
  if (!handle.valid()) return false;
  const std::int64_t deadline =
      monotonic_ns() + std::int64_t{std::max(timeout_ms, 0)} * 1'000'000;
  bool reopened = false;
  for (;;) {
    const std::int64_t left = std::max<std::int64_t>(deadline - monotonic_ns(), 0);
    timespec timeout{static_cast<time_t>(left / 1'000'000'000),
                     static_cast<long>(left % 1'000'000'000)};
    sembuf take[2] = {{kSemaphore, 0, 0}, {kSemaphore, +1, SEM_UNDO}};
    if (semtimedop(handle.id, take, 2, &timeout) == 0) {
      try {
        holdings().add(handle.id);
      } catch (...) {
        // Out of memory for the entry: a count that nothing records could
        // never be released, and would keep every host off this bus.
        sembuf give_back{kSemaphore, -1, SEM_UNDO | IPC_NOWAIT};
        semop(handle.id, &give_back, 1);
        throw;
      }
      return true;
    }
    const int error = errno;
    switch (error) {
      case EINTR:
        // A signal interrupted the sleep: wait on for the time that is left.
        if (left == 0) return false;
        continue;
      case EIDRM:
      case EINVAL:
        if (!reopened && reopen(handle)) {
          reopened = true;
          continue;
        }
        return false;
      default:  // EAGAIN: timed out; EACCES: rights taken away
        explain_failed_wait(handle, error);
        return false;
    }
  }
}

bool release(Handle& handle) {
  if (!handle.valid()) return false;
  if (!holdings().take(handle.id)) return false;
  sembuf give{kSemaphore, -1, SEM_UNDO | IPC_NOWAIT};
  if (semop(handle.id, &give, 1) == 0) return true;
  // The count held went away with a removed set; keep the handle usable.
  if (errno == EIDRM || errno == EINVAL) reopen(handle);
  return false;
}

void close(Handle& handle) { handle = Handle{}; }

bool remove(const char* name) {
  if (name == nullptr) return false;
  // Clean-up takes whatever set sits under the key, trusted or not.
  const int id = semget(key_for(name), 1, 0);
  if (id < 0) return false;
  holdings().take(id);
  return semctl(id, kSemaphore, IPC_RMID) == 0;
}

int waiters(const Handle& handle) {
  if (!handle.valid()) return -1;
  return semctl(handle.id, kSemaphore, GETZCNT);
}

}  // namespace bus_semaphore
