#include "tests/support/program.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "tests/support/child.h"
#include "tests/support/scratch.h"

extern char** environ;

namespace test_kit {
namespace {

// An unlinked scratch file: the child writes into it, the parent reads it.
// A file, not a pipe, so that a program that writes much never blocks on a
// parent that does not read yet.
int scratch_file() {
  std::string pattern = scratch_base() + "/tarnwick-run-XXXXXX";
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot create a scratch file from " + pattern);
  ::unlink(pattern.c_str());
  return fd;
}

std::string contents_of(int fd) {
  std::string text;
  ::lseek(fd, 0, SEEK_SET);
  char chunk[4096];
  for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;) {
    text.append(chunk, static_cast<std::size_t>(got));
  }
  return text;
}

// Tells the test, through the child's standard error, why the program did
// not start (an exit status alone would not say).
void report_failed_start(const char* what, const std::string& detail) {
  const std::string line = std::string("run_program: cannot ") + what + " " + detail + ": " +
                           std::strerror(errno) + "\n";
  [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
}

std::string name_of(const std::string& entry) { return entry.substr(0, entry.find('=')); }

}  // namespace

std::vector<std::string> environment_with(const std::vector<std::string>& changes) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    bool changed = false;
    for (const std::string& change : changes) changed = changed || name_of(change) == name_of(text);
    if (!changed) entries.push_back(text);
  }
  for (const std::string& change : changes) {
    if (change.find('=') != std::string::npos) entries.push_back(change);
  }
  return entries;
}

bool become_other_user() {
  if (::geteuid() != 0) return true;
  return ::setgroups(0, nullptr) == 0 && ::setgid(kOtherUser) == 0 &&
         ::setuid(kOtherUser) == 0;
}

bool become_set_user_id_root() {
  return ::setgroups(0, nullptr) == 0 && ::setresgid(kOtherUser, kOtherUser, kOtherUser) == 0 &&
         ::setresuid(kOtherUser, 0, 0) == 0;
}

bool can_switch_user() {
  Child probe([] { return become_other_user() ? 0 : 1; });
  return probe.exit_status() == 0;
}

Run run_program(const Program& program) {
  if (program.argv.empty()) throw std::invalid_argument("run_program: no program");
  const int input = scratch_file();
  const int output = scratch_file();
  const int errors = scratch_file();
  if (::write(input, program.input.data(), program.input.size()) !=
      static_cast<ssize_t>(program.input.size())) {
    throw std::runtime_error("cannot write the program's input");
  }
  ::lseek(input, 0, SEEK_SET);

  std::vector<std::string> changes = program.environment;
  std::vector<std::string> argv = program.argv;
  std::optional<ScratchFolder> copy;
  if (program.as_other_user) {
    copy.emplace("tarnwick-run-", 0755);
    namespace fs = std::filesystem;
    const std::string file = copy->file(fs::path(argv[0]).filename().string());
    fs::copy_file(argv[0], file);
    argv[0] = file;
    for (const SharedObject& library : program.libraries) {
      fs::copy_file(library.file, copy->file(library.soname));
    }
    changes.push_back("LD_LIBRARY_PATH=" + copy->path());
  }
  std::vector<std::string> environment = environment_with(changes);

  Run run;
  {
    Child child([&] {
      ::dup2(input, STDIN_FILENO);
      ::dup2(output, STDOUT_FILENO);
      ::dup2(errors, STDERR_FILENO);
      if (!program.directory.empty() && ::chdir(program.directory.c_str()) != 0) {
        report_failed_start("enter", program.directory);
        return 126;
      }
      if (program.as_other_user && !become_other_user()) {
        report_failed_start("become user", std::to_string(kOtherUser));
        return 125;
      }
      std::vector<char*> arguments;
      for (std::string& word : argv) arguments.push_back(word.data());
      arguments.push_back(nullptr);
      std::vector<char*> pointers;
      for (std::string& entry : environment) pointers.push_back(entry.data());
      pointers.push_back(nullptr);
      ::execvpe(arguments[0], arguments.data(), pointers.data());
      report_failed_start("run", argv[0]);
      return 127;
    });
    const Child::Ending ending = child.wait(program.timeout_ms);
    if (ending.outcome == Child::Outcome::exited) run.exit_status = ending.code;
    if (ending.outcome == Child::Outcome::killed) run.signal = ending.code;
  }
  run.out = contents_of(output);
  run.err = contents_of(errors);
  ::close(input);
  ::close(output);
  ::close(errors);
  return run;
}

}  // namespace test_kit
