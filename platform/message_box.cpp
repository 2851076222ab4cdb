#include "platform/message_box.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>

namespace message_box {
namespace {

// A host whose standard error is a pipe nobody reads any more must not be
// killed by SIGPIPE for showing a box: the signal is held back during the
// write and a SIGPIPE that the write raised is taken away again.
class SigpipeHeldBack {
 public:
  SigpipeHeldBack() {
    sigemptyset(&pipe_only_);
    sigaddset(&pipe_only_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_only_, &previous_mask_);
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
  }

  ~SigpipeHeldBack() {
    if (raised_ && !was_pending_) {
      const timespec no_wait{};
      sigtimedwait(&pipe_only_, nullptr, &no_wait);
    }
    pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
  }

  void note_broken_pipe() { raised_ = true; }

  SigpipeHeldBack(const SigpipeHeldBack&) = delete;
  SigpipeHeldBack& operator=(const SigpipeHeldBack&) = delete;

 private:
  sigset_t pipe_only_{};
  sigset_t previous_mask_{};
  bool was_pending_ = false;
  bool raised_ = false;
};

void write_to_stderr(const std::string& box) {
  SigpipeHeldBack held_back;
  const char* rest = box.data();
  std::size_t left = box.size();
  while (left > 0) {
    const ssize_t written = ::write(STDERR_FILENO, rest, left);
    if (written > 0) {
      rest += written;
      left -= static_cast<std::size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno == EPIPE) held_back.note_broken_pipe();
    return;  // nowhere to show it; the box is lost, the host goes on
  }
}

}  // namespace

void show(const char* text, const char* caption) {
  std::string box = "[";
  box += caption != nullptr ? caption : "";
  box += "]\n";
  box += text != nullptr ? text : "";
  box += '\n';
  const int saved_errno = errno;
  write_to_stderr(box);
  errno = saved_errno;
}

}  // namespace message_box
