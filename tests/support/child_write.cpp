#include "tests/support/child_write.h"

#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace test_support {

ssize_t write_to_child(int fd, const void* data, std::size_t size) {
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
  sigset_t pending;
  sigpending(&pending);
  const bool already_pending = sigismember(&pending, SIGPIPE) == 1;

  const ssize_t wrote = ::write(fd, data, size);
  const int write_errno = errno;
  if (wrote < 0 && write_errno == EPIPE && !already_pending) {
    // The signal goes to the writing thread: take it while it is held back.
    const timespec no_wait{0, 0};
    while (sigtimedwait(&pipe_signal, nullptr, &no_wait) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = write_errno;
  return wrote;
}

}  // namespace test_support
