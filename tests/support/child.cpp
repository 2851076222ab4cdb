#include "tests/support/child.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace test_kit {

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

void Channel::send(const std::string& line) const {
  const std::string text = line + "\n";
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = write_to_child(out_, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;  // the peer is gone; its end shows in receive() and wait()
    done += static_cast<std::size_t>(wrote);
  }
}

std::optional<std::string> Channel::receive(int timeout_ms) {
  for (;;) {
    if (const auto end = pending_.find('\n'); end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return line;
    }
    pollfd waiting{in_, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, timeout_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    char chunk[256];
    const ssize_t got = ::read(in_, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    pending_.append(chunk, static_cast<std::size_t>(got));
  }
}

Child::Child(const std::function<int()>& body, Exit exit) {
  start([&body](Channel&) { return body(); }, exit, false);
}

Child::Child(const std::function<int(Channel&)>& body, Exit exit) { start(body, exit, true); }

void Child::start(const std::function<int(Channel&)>& body, Exit exit, bool with_channel) {
  int to_child[2] = {-1, -1};
  int to_parent[2] = {-1, -1};
  if (with_channel) {
    ::signal(SIGPIPE, SIG_IGN);
    if (::pipe(to_child) != 0 || ::pipe(to_parent) != 0) {
      throw std::runtime_error("cannot create pipes");
    }
  }
  // Output still buffered would otherwise be written by both processes.
  std::fflush(nullptr);
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("cannot fork");
  if (pid_ == 0) {
    if (with_channel) {
      ::close(to_child[1]);
      ::close(to_parent[0]);
      channel_.in_ = to_child[0];
      channel_.out_ = to_parent[1];
    }
    int status = kBodyThrew;
    try {
      status = body(channel_);
    } catch (...) {
    }
    std::fflush(nullptr);
    if (exit == Exit::normally) std::exit(status);
    ::_exit(status);
  }
  if (with_channel) {
    ::close(to_child[0]);
    ::close(to_parent[1]);
    channel_.in_ = to_parent[0];
    channel_.out_ = to_child[1];
  }
}

Child::~Child() {
  kill_hard();
  if (channel_.in_ >= 0) ::close(channel_.in_);
  if (channel_.out_ >= 0) ::close(channel_.out_);
}

Child::Ending Child::wait(int timeout_ms) {
  Ending ending;
  if (pid_ <= 0 || reaped_) return ending;
  for (int waited_ms = 0; waited_ms <= timeout_ms; ++waited_ms) {
    int status = 0;
    const pid_t changed = ::waitpid(pid_, &status, WNOHANG | WUNTRACED);
    if (changed == pid_) {
      if (WIFSTOPPED(status)) {
        ending.outcome = Outcome::stopped;
        ending.code = WSTOPSIG(status);
        return ending;
      }
      reaped_ = true;
      if (WIFEXITED(status)) {
        ending.outcome = Outcome::exited;
        ending.code = status_ = WEXITSTATUS(status);
      } else {
        ending.outcome = Outcome::killed;
        ending.code = WTERMSIG(status);
      }
      return ending;
    }
    if (changed < 0 && errno != EINTR) break;
    const timespec one_ms{0, 1'000'000};
    ::nanosleep(&one_ms, nullptr);
  }
  return ending;
}

int Child::exit_status() {
  if (pid_ <= 0) return -1;
  if (!reaped_) {
    int status = 0;
    pid_t ended = 0;
    while ((ended = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    status_ = ended == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return status_;
}

void Child::kill_hard() {
  if (pid_ <= 0 || reaped_) return;
  ::kill(pid_, SIGKILL);
  exit_status();
}

int in_child(const std::function<void()>& body) {
  Child child(
      [&body] {
        body();
        return 0;
      },
      Child::Exit::normally);
  return child.exit_status();
}

Signal::Signal() {
  if (::pipe(fds_) != 0) throw std::runtime_error("cannot create a pipe");
}

Signal::~Signal() {
  ::close(fds_[0]);
  ::close(fds_[1]);
}

void Signal::notify() const {
  const char byte = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(fds_[1], &byte, 1);
}

bool Signal::await() const {
  char byte = 0;
  return ::read(fds_[0], &byte, 1) == 1;
}

}  // namespace test_kit
