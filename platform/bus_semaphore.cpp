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
#include "platform/bus_semaphore.h"

#include <sys/ipc.h>
#include <sys/sem.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

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
  const char* prefix = std::getenv("TARNWICK_SEM_PREFIX");
  std::string full = prefix != nullptr ? prefix : "";
  full += name;
  return full;
}

std::int64_t monotonic_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

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

int open_id(int key) { return semget(key, 1, 0); }

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
  const int id = open_id(key);
  if (id < 0) return {};
  return {id, key};
}

Handle create(const char* name) {
  if (name == nullptr) return {};
  const int key = key_for(name);
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
      holdings().add(handle.id);
      return true;
    }
    switch (errno) {
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
      default:  // EAGAIN: timed out
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
  const int id = open_id(key_for(name));
  if (id < 0) return false;
  holdings().take(id);
  return semctl(id, kSemaphore, IPC_RMID) == 0;
}

int waiters(const Handle& handle) {
  if (!handle.valid()) return -1;
  return semctl(handle.id, kSemaphore, GETZCNT);
}

}  // namespace bus_semaphore
