// Named, system-wide semaphores with a maximum count of 1: the bus locks
// that keep two processes off one adapter.
//
// A count taken by a wait is given back by a release, from any thread of
// the process. When a holder dies, even by SIGKILL, its count comes back at
// once, so a crashed host never leaves a bus locked.
//
// The environment variable TARNWICK_SEM_PREFIX, when set, is put before
// every name. It exists for tests, which need locks of their own that
// neither disturb each other nor a real user of the bus on the machine. A
// set-user-ID or capability host started by another user than root
// ignores it (trust::environment): that user must not steer its locks onto
// another program's semaphores.
//
// Each name lives in one System V semaphore set of one semaphore. Its key is
// the FNV-1a 32-bit hash of the bytes of the prefixed name (no terminator),
// with the top bit cleared; a result of 0 (IPC_PRIVATE) becomes 1. Every
// process that shares a bus must therefore share one IPC namespace.
//
// Whoever may alter a set may also write its count, so a set is made with
// mode 0660 and group lp (the users who may use the PC's parallel ports;
// the creator's group where there is no lp). open, create and a wait that
// re-opens use only a set made by root or the real user, owned by one of
// them and alterable by owner and group alone; any other set gives an empty
// handle and one line on standard error that names it and the cause. A
// count above 1, which no host makes, is reported once and left alone.
#pragma once

namespace bus_semaphore {

// An open semaphore; `valid()` is false for an empty slot.
struct Handle {
  int id = -1;      // kernel object identifier
  int key = 0;      // key derived from the (prefixed) name, for re-opening
  bool valid() const { return id >= 0; }
};

// Opens the semaphore of that name if it exists; an empty handle otherwise.
Handle open(const char* name);

// Creates the semaphore of that name with its count at 1 (free), or opens
// it when another process created it first. Empty handle on failure.
Handle create(const char* name);

// Takes the count, waiting at most `timeout_ms` for it. False on time-out
// or error (an empty handle always fails). A process that already holds the
// count waits like everyone else and times out. A signal arriving meanwhile
// neither shortens nor ends the wait. When the semaphore was removed from
// the system under the handle, the handle is opened again (re-created if
// need be) and the wait goes on.
bool wait(Handle& handle, int timeout_ms);

// Gives one count back. False, with nothing changed, when the count is
// already at its maximum of 1 or the handle is empty. The count may be
// given back by any thread of the process that took it, but not by another
// process: there the release fails and changes nothing, because the kernel
// gives a dead holder's count back on its own and would otherwise give it
// back twice.
bool release(Handle& handle);

// Closes the handle; the semaphore itself stays for other processes.
void close(Handle& handle);

// Removes the semaphore of that name from the system (tests, clean-up).
bool remove(const char* name);

// The key under which the semaphore of that name lives, prefix included;
// 0 for a null name.
int key_for(const char* name);

// How many waits (threads of any process) are blocked on the count now;
// -1 for an empty or stale handle. For measurements and tests.
int waiters(const Handle& handle);

}  // namespace bus_semaphore
