// Running sondrel on pipes or a terminal, for the console's tests.
#include "tests/console/sondrel_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

#include "tests/support/child.h"
#include "tests/support/program.h"

namespace sondrel_test {
namespace {

// Only a guard against a hung program; no test depends on how fast it is.
constexpr int silence_limit_ms = 30000;

std::vector<std::string> child_environment(const Workspace& workspace,
                                           const std::string& configuration,
                                           const std::string& extra) {
  std::vector<std::string> changes{"I2C_INI=" + configuration,
                                   "TARNWICK_SEM_PREFIX=" + workspace.semaphore_prefix(),
                                   "HOME=" + workspace.directory(), "TERM=xterm", "EDITRC"};
  if (!extra.empty()) changes.push_back(extra);
  return test_kit::environment_with(changes);
}

[[noreturn]] void exec_sondrel(const Workspace& workspace, const std::string& configuration,
                               const std::string& extra) {
  std::vector<std::string> entries = child_environment(workspace, configuration, extra);
  std::vector<char*> environment;
  for (std::string& entry : entries) environment.push_back(entry.data());
  environment.push_back(nullptr);
  if (chdir(workspace.directory().c_str()) != 0) _exit(126);
  char program[] = SONDREL_PROGRAM;
  char* arguments[] = {program, nullptr};
  execve(program, arguments, environment.data());
  _exit(127);
}

}  // namespace

const std::string banner =
    "Sondrel  Version 4.00\n"
    "Copyright (c) the Sondrel developers\n"
    "Type '?' or 'help' for help\n"
    "\n";

Workspace::Workspace(const std::string& configuration)
    : configuration_(add_configuration("I2C.INI", configuration)) {}

std::string Workspace::add_configuration(const std::string& name, const std::string& text) {
  folder_.write(name, text);
  return folder_.file(name);
}

Console::Console(const Workspace& workspace, Input input, const std::string& configuration,
                 const std::string& extra_environment) {
  if (input == Input::terminal) {
    int terminal = -1;
    pid_ = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid_ < 0) throw std::runtime_error("forkpty failed");
    if (pid_ == 0) exec_sondrel(workspace, configuration, extra_environment);
    input_fd_ = output_fd_ = terminal;
    return;
  }
  int to_child[2], from_child[2], errors_from_child[2];
  if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0 ||
      pipe2(errors_from_child, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    dup2(to_child[0], STDIN_FILENO);
    dup2(from_child[1], STDOUT_FILENO);
    dup2(errors_from_child[1], STDERR_FILENO);
    exec_sondrel(workspace, configuration, extra_environment);
  }
  close(to_child[0]);
  close(from_child[1]);
  close(errors_from_child[1]);
  input_fd_ = to_child[1];
  output_fd_ = from_child[0];
  errors_fd_ = errors_from_child[0];
  fcntl(input_fd_, F_SETFL, O_NONBLOCK);
}

Console::~Console() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (input_fd_ >= 0 && input_fd_ != output_fd_) close(input_fd_);
  if (output_fd_ >= 0) close(output_fd_);
  if (errors_fd_ >= 0) close(errors_fd_);
}

bool Console::pump(int timeout_ms) {
  std::vector<pollfd> watched;
  if (output_fd_ >= 0) watched.push_back({output_fd_, POLLIN, 0});
  if (errors_fd_ >= 0) watched.push_back({errors_fd_, POLLIN, 0});
  if (watched.empty()) return false;
  if (poll(watched.data(), watched.size(), timeout_ms) <= 0) return true;
  for (const pollfd& entry : watched) {
    if (entry.revents == 0) continue;
    char chunk[4096];
    const ssize_t got = read(entry.fd, chunk, sizeof chunk);
    std::string& sink = entry.fd == errors_fd_ ? errors_ : output_;
    if (got > 0) {
      sink.append(chunk, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      // End of output; a terminal reports it as an error once the program
      // has gone.
      if (entry.fd == output_fd_ && input_fd_ == output_fd_) input_fd_ = -1;
      close(entry.fd);
      (entry.fd == errors_fd_ ? errors_fd_ : output_fd_) = -1;
    }
  }
  return true;
}

void Console::send(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    if (input_fd_ < 0) return;
    const ssize_t put =
        test_kit::write_to_child(input_fd_, bytes.data() + done, bytes.size() - done);
    if (put > 0) {
      done += static_cast<std::size_t>(put);
    } else if (put < 0 && errno != EAGAIN && errno != EINTR) {
      return;  // the program no longer reads
    } else {
      pump(10);  // let the program's output drain while its input is full
    }
  }
}

bool Console::wait_for(const std::string& text) {
  std::size_t seen = output_.size();
  int silent_ms = 0;
  std::size_t found = 0;
  while ((found = output_.find(text, waited_past_)) == std::string::npos) {
    if (!pump(100)) return false;
    silent_ms = output_.size() == seen ? silent_ms + 100 : 0;
    seen = output_.size();
    if (silent_ms > silence_limit_ms) return false;
  }
  waited_past_ = found + text.size();
  return true;
}

bool Console::wait_for_line_editor() {
  // The editor draws the prompt a moment before it switches the terminal.
  for (int waited_ms = 0; waited_ms < silence_limit_ms; ++waited_ms) {
    termios settings{};
    if (output_fd_ < 0 || tcgetattr(output_fd_, &settings) != 0) return false;
    if ((settings.c_lflag & ICANON) == 0) return true;
    pump(1);
  }
  return false;
}

void Console::end_input() {
  if (input_fd_ >= 0 && input_fd_ != output_fd_) {
    close(input_fd_);
    input_fd_ = -1;
  }
}

void Console::signal(int number) { kill(pid_, number); }

Ending Console::finish() {
  end_input();
  int silent_ms = 0;
  while (output_fd_ >= 0 || errors_fd_ >= 0) {
    const std::size_t before = output_.size() + errors_.size();
    pump(100);
    silent_ms = output_.size() + errors_.size() == before ? silent_ms + 100 : 0;
    if (silent_ms > silence_limit_ms) kill(pid_, SIGKILL);
  }
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return {output_, errors_, WIFEXITED(status) ? WEXITSTATUS(status) : -1,
          WIFSIGNALED(status) ? WTERMSIG(status) : 0};
}

Ending run_session(const Workspace& workspace, const std::string& input,
                   const std::string& extra_environment) {
  Console console(workspace, Console::Input::pipe, workspace.configuration_path(),
                  extra_environment);
  console.send(input);
  return console.finish();
}

}  // namespace sondrel_test
