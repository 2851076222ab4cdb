#include "platform/message_box.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child.h"

namespace {

using test_kit::Child;

struct Captured {
  std::string out;
  std::string err;
  int status = -1;
};

// Drains both pipes until every writer has closed them.
void drain(int out_fd, int err_fd, Captured& captured) {
  std::vector<pollfd> open_fds = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  while (!open_fds.empty()) {
    if (poll(open_fds.data(), open_fds.size(), 10'000) <= 0) return;
    for (auto it = open_fds.begin(); it != open_fds.end();) {
      if (it->revents == 0) {
        ++it;
        continue;
      }
      char buffer[4096];
      const ssize_t got = ::read(it->fd, buffer, sizeof buffer);
      if (got <= 0) {
        it = open_fds.erase(it);
        continue;
      }
      (it->fd == out_fd ? captured.out : captured.err).append(buffer, static_cast<size_t>(got));
      it->revents = 0;
      ++it;
    }
  }
}

// Runs each body in its own child, all with stdin holding `input` and
// stdout and stderr going to shared pipes, and collects what they wrote.
Captured run_captured(const std::vector<std::function<int()>>& bodies,
                      const std::string& input = "") {
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return {};
  (void)!::write(in[1], input.data(), input.size());
  ::close(in[1]);
  std::vector<std::unique_ptr<Child>> children;
  for (const auto& body : bodies) {
    children.push_back(std::make_unique<Child>([&] {
      dup2(in[0], STDIN_FILENO);
      dup2(out[1], STDOUT_FILENO);
      dup2(err[1], STDERR_FILENO);
      for (int fd : {in[0], out[0], out[1], err[0], err[1]}) ::close(fd);
      return body();
    }));
  }
  for (int fd : {in[0], out[1], err[1]}) ::close(fd);
  Captured captured;
  drain(out[0], err[0], captured);
  ::close(out[0]);
  ::close(err[0]);
  captured.status = 0;
  for (const auto& child : children) {
    const int status = child->exit_status();
    if (status != 0) captured.status = status;
  }
  return captured;
}

TEST(MessageBox, ShowsACaptionLineThenTheTextOnStandardErrorOnly) {
  const Captured captured = run_captured(
      {[] {
        message_box::show("Tarnwick - Version 4.11\nMulti adapters support.", "Tarnwick Information");
        // Standard input still holds the console's command, unread.
        char line[32] = {};
        const ssize_t got = ::read(STDIN_FILENO, line, sizeof line - 1);
        return got == 6 && std::string(line) == "start\n" ? 0 : 1;
      }},
      "start\n");
  EXPECT_EQ(captured.status, 0) << "the box read standard input";
  EXPECT_EQ(captured.err, "[Tarnwick Information]\nTarnwick - Version 4.11\nMulti adapters support.\n");
  EXPECT_EQ(captured.out, "");
}

TEST(MessageBox, NullTextAndCaptionShowAsEmpty) {
  const Captured captured = run_captured({[] {
    message_box::show(nullptr, nullptr);
    message_box::show("I2CSEMA1", "TARNWICK failed");
    return 0;
  }});
  EXPECT_EQ(captured.err, "[]\n\n[TARNWICK failed]\nI2CSEMA1\n");
}

TEST(MessageBox, BoxesOfSeveralProcessesDoNotInterleave) {
  constexpr int kProcesses = 4;
  constexpr int kBoxes = 50;
  const auto text_of = [](int process, int box) {
    std::string text;
    for (int line = 0; line < 3; ++line) {
      text += std::string(200, static_cast<char>('a' + process)) + std::to_string(box);
      if (line < 2) text += '\n';
    }
    return text;
  };
  std::vector<std::function<int()>> bodies;
  for (int p = 0; p < kProcesses; ++p) {
    bodies.push_back([&, p] {
      for (int b = 0; b < kBoxes; ++b) {
        message_box::show(text_of(p, b).c_str(), ("box " + std::to_string(p)).c_str());
      }
      return 0;
    });
  }
  const Captured captured = run_captured(bodies);

  // Each box is four whole lines: a caption, then its three text lines.
  std::vector<int> next_box(kProcesses, 0);
  std::size_t at = 0;
  int boxes = 0;
  while (at < captured.err.size()) {
    const std::string caption_start = "[box ";
    ASSERT_EQ(captured.err.compare(at, caption_start.size(), caption_start), 0)
        << "box torn at byte " << at;
    const int p = captured.err[at + caption_start.size()] - '0';
    ASSERT_TRUE(p >= 0 && p < kProcesses) << "box torn at byte " << at;
    const std::string expected =
        "[box " + std::to_string(p) + "]\n" + text_of(p, next_box[p]) + "\n";
    ASSERT_EQ(captured.err.substr(at, expected.size()), expected);
    at += expected.size();
    ++next_box[p];
    ++boxes;
  }
  EXPECT_EQ(boxes, kProcesses * kBoxes);
}

TEST(MessageBox, AStandardErrorNobodyReadsDoesNotKillTheHost) {
  int err[2];
  ASSERT_EQ(pipe(err), 0);
  test_kit::Signal reader_gone;
  Child host([&] {
    dup2(err[1], STDERR_FILENO);
    ::close(err[0]);
    ::close(err[1]);
    if (!reader_gone.await()) return 4;
    message_box::show("I2CSEMA0", "TARNWICK failed");
    sigset_t pending, mask;
    sigpending(&pending);
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    if (sigismember(&pending, SIGPIPE)) return 2;
    if (sigismember(&mask, SIGPIPE)) return 3;
    return 0;
  });
  ::close(err[0]);
  ::close(err[1]);
  reader_gone.notify();
  EXPECT_EQ(host.exit_status(), 0) << "-1: killed; 2: SIGPIPE left pending; 3: left blocked";
}

}  // namespace
