// Forked children for tests of what happens across processes: a second
// host of the library, a holder of a bus lock, a process stopped and killed
// at a chosen point, a program started by the program runner. A child
// reports through its exit status and its channel, since assertions do not
// cross fork. Fork before this process loads the library: a child forked
// while it is loaded shares that load, its state and its bench.
#pragma once

#include <sys/mman.h>
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

namespace test_kit {

// write(2) on `fd` with SIGPIPE held back for the call: a child that ended
// (or closed its input) gives -1 with errno EPIPE instead of killing the
// test with SIGPIPE. A SIGPIPE that this write raised is taken back; one
// that was already pending stays pending.
ssize_t write_to_child(int fd, const void* data, std::size_t size);

// Lines between parent and child, through two pipes.
class Channel {
 public:
  void send(const std::string& line) const;
  // The next line, or nothing at end of stream or after `timeout_ms` (a
  // safety net against a hung peer, not a measurement).
  std::optional<std::string> receive(int timeout_ms = 30000);

 private:
  friend class Child;
  int in_ = -1;
  int out_ = -1;
  std::string pending_;
};

// The status of a child whose body threw.
inline constexpr int kBodyThrew = 125;

class Child {
 public:
  // How the child leaves after its body: at once (_exit: no exit handlers,
  // no destructors, no test framework), or through exit() with the exit
  // handlers run, as a program that ends normally.
  enum class Exit { immediately, normally };

  // Runs `body` in a forked process that exits with its result.
  explicit Child(const std::function<int()>& body, Exit exit = Exit::immediately);
  // The same, with a channel to the parent; SIGPIPE is ignored from now on,
  // so that a child that died shows as a failed receive.
  explicit Child(const std::function<int(Channel&)>& body, Exit exit = Exit::immediately);
  // A child still there (a failed assertion) is killed and reaped, so it
  // cannot hold a semaphore or a pipe for ever.
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }

  enum class Outcome { stopped, exited, killed, timed_out };
  struct Ending {
    Outcome outcome = Outcome::timed_out;
    int code = 0;  // exit status, stop signal, or the signal that killed it
  };
  // Waits until the child stops itself (SIGSTOP) or ends, at most
  // `timeout_ms` (a safety net against a hung process, not a measurement).
  Ending wait(int timeout_ms = 60000);
  // Waits for the end: the exit status, or -1 when it did not exit by itself.
  int exit_status();
  // kill -9 and reap: the child dies where it stands.
  void kill_hard();

  void send(const std::string& line) { channel_.send(line); }
  std::optional<std::string> receive(int timeout_ms = 30000) {
    return channel_.receive(timeout_ms);
  }

 private:
  void start(const std::function<int(Channel&)>& body, Exit exit, bool with_channel);

  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = -1;
  Channel channel_;
};

// Runs `body` in a child that then ends as a program does (exit handlers
// run) with status 0; gives its exit status, -1 when it did not exit.
int in_child(const std::function<void()>& body);

// A pipe used as a one-way "ready" signal between parent and child.
class Signal {
 public:
  Signal();
  ~Signal();
  Signal(const Signal&) = delete;
  Signal& operator=(const Signal&) = delete;
  void notify() const;
  bool await() const;

 private:
  int fds_[2] = {-1, -1};
};

// One T in memory that stays shared with every child forked after it was
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

}  // namespace test_kit
