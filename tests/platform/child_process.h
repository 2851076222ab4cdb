// Forked helper processes for tests of cross-process behaviour. A child
// reports through its exit status, since gtest assertions do not cross fork.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>

namespace test_support {

// A forked child running `body`, which ends with body's result as status.
// A child still alive when its test ends (a failed assertion) is killed, so
// it cannot hold a semaphore or a pipe for ever.
class Child {
 public:
  explicit Child(const std::function<int()>& body) : pid_(fork()) {
    if (pid_ == 0) _exit(body());
  }
  ~Child() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      exit_status();
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  void kill_hard() const { ::kill(pid_, SIGKILL); }

  // Waits for the child; its exit status, or -1 when it did not exit normally.
  int exit_status() {
    if (pid_ <= 0) return -1;
    if (!reaped_) {
      int status = 0;
      const bool ended = waitpid(pid_, &status, 0) == pid_;
      reaped_ = true;
      status_ = ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return status_;
  }

 private:
  pid_t pid_;
  bool reaped_ = false;
  int status_ = -1;
};

// A pipe used as a one-way "ready" signal between parent and child.
struct Signal {
  int fds[2] = {-1, -1};
  Signal() {
    if (pipe(fds) != 0) std::abort();
  }
  ~Signal() {
    ::close(fds[0]);
    ::close(fds[1]);
  }
  Signal(const Signal&) = delete;
  Signal& operator=(const Signal&) = delete;
  void notify() const {
    const char byte = 1;
    (void)!::write(fds[1], &byte, 1);
  }
  bool await() const {
    char byte = 0;
    return ::read(fds[0], &byte, 1) == 1;
  }
};

}  // namespace test_support
