// Forked helper processes for tests of cross-process behaviour. A child
// reports through its exit status, since gtest assertions do not cross fork.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>

namespace test_support {

// Runs `body` in a forked child, which ends with body's result as status.
inline pid_t spawn(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

// The child's exit status, or -1 when it did not exit normally.
inline int exit_status_of(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

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
