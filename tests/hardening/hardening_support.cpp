#include "tests/hardening/hardening_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/sem.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/bus_semaphore.h"

namespace hardening {

// ------------------------------------------------------------ settings --

namespace {

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

std::optional<long> whole_number(const std::string& text) {
  if (text.empty() || text.size() > 12) return std::nullopt;
  long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

long setting(const char* name, long fallback, long min, long max) {
  const char* raw = std::getenv(name);
  if (raw == nullptr || *raw == '\0') return fallback;
  const auto value = whole_number(trimmed(raw));
  if (!value || *value < min || *value > max) {
    throw std::invalid_argument(std::string(name) + " = \"" + raw + "\" is not a number from " +
                                std::to_string(min) + " to " + std::to_string(max));
  }
  return *value;
}

std::vector<std::string> setting_list(const char* name, const std::string& fallback) {
  const char* raw = std::getenv(name);
  const std::string text = raw != nullptr && *raw != '\0' ? raw : fallback;
  std::vector<std::string> items;
  std::stringstream stream(text);
  for (std::string item; std::getline(stream, item, ',');) {
    item = trimmed(item);
    if (!item.empty()) items.push_back(item);
  }
  return items;
}

long kill_point(const char* name, const std::string& item, long whole) {
  const bool percent = !item.empty() && item.back() == '%';
  const auto number = whole_number(percent ? item.substr(0, item.size() - 1) : item);
  if (!number || (percent && *number > 100)) {
    throw std::invalid_argument(std::string(name) + ": \"" + item +
                                "\" is neither a count nor a percentage from 0% to 100%");
  }
  return percent ? whole * *number / 100 : *number;
}

// ----------------------------------------------------------- processes --

Forked::Forked(const std::function<int()>& body) {
  std::fflush(nullptr);
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("cannot fork");
  if (pid_ == 0) {
    int status = 127;
    try {
      status = body();
    } catch (...) {
    }
    std::fflush(nullptr);
    _exit(status);
  }
}

Forked::~Forked() {
  if (pid_ > 0 && !reaped_) kill_hard();
}

Forked::Ending Forked::wait(int timeout_ms) {
  Ending ending;
  if (reaped_) return ending;
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
        ending.code = WEXITSTATUS(status);
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

void Forked::kill_hard() {
  if (pid_ <= 0 || reaped_) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
}

// ----------------------------------------------------------- bus locks --

int slot_holders(int slot) {
  const std::string name = "I2CSEMA" + std::to_string(slot);
  const bus_semaphore::Handle handle = bus_semaphore::open(name.c_str());
  if (!handle.valid()) return -1;
  // The value counts holders: 0 free, 1 held.
  return ::semctl(handle.id, 0, GETVAL);
}

// --------------------------------------------------------------- files --

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> names_starting_with(const std::string& directory,
                                             const std::string& prefix) {
  std::vector<std::string> names;
  if (DIR* folder = ::opendir(directory.c_str())) {
    while (const dirent* entry = ::readdir(folder)) {
      const std::string name = entry->d_name;
      if (name.rfind(prefix, 0) == 0) names.push_back(name);
    }
    ::closedir(folder);
  }
  return names;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// ------------------------------------------------------------- console --

namespace {

constexpr uid_t kNobody = 65534;

// An unlinked scratch file: the child writes into it, the parent reads it.
int scratch_file() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/hardening-XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) throw std::runtime_error("cannot create a scratch file");
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

bool drop_privileges() {
  if (::geteuid() != 0) return true;
  return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}

// A copy of a program and its shared objects in a fresh directory that
// every user may enter and read; removed with the object.
class ReachableCopy {
 public:
  ReachableCopy(const std::string& program, const std::vector<SharedObject>& libraries) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/hardening-run-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("cannot create a directory for the program's copy");
    }
    directory_ = pattern;
    namespace fs = std::filesystem;
    fs::permissions(directory_, fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
    program_ = directory_ + "/" + fs::path(program).filename().string();
    fs::copy_file(program, program_);
    for (const SharedObject& library : libraries) {
      fs::copy_file(library.file, directory_ + "/" + library.soname);
    }
  }
  ~ReachableCopy() {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
  ReachableCopy(const ReachableCopy&) = delete;
  ReachableCopy& operator=(const ReachableCopy&) = delete;

  const std::string& directory() const { return directory_; }
  const std::string& program() const { return program_; }

 private:
  std::string directory_;
  std::string program_;
};

// Tells the test, through the child's standard error, why the program did
// not start (an exit status alone would not say).
void report_failed_start(const char* what, const std::string& detail) {
  const std::string line = std::string("run_program: cannot ") + what + " " + detail + ": " +
                           std::strerror(errno) + "\n";
  [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace

bool can_drop_privileges() {
  Forked probe([] { return drop_privileges() ? 0 : 1; });
  const Forked::Ending ending = probe.wait();
  return ending.outcome == Forked::Outcome::exited && ending.code == 0;
}

ProgramRun run_program(const ProgramOptions& options, int timeout_ms) {
  const int input = scratch_file();
  const int output = scratch_file();
  const int errors = scratch_file();
  if (::write(input, options.input.data(), options.input.size()) !=
      static_cast<ssize_t>(options.input.size())) {
    throw std::runtime_error("cannot write the program's input");
  }
  ::lseek(input, 0, SEEK_SET);

  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    bool replaced = false;
    for (const std::string& given : options.environment) {
      const auto name_end = given.find('=');
      replaced = replaced || text.compare(0, name_end + 1, given, 0, name_end + 1) == 0;
    }
    if (!replaced) environment.push_back(text);
  }
  environment.insert(environment.end(), options.environment.begin(),
                     options.environment.end());

  std::optional<ReachableCopy> copy;
  std::string program_file = options.program;
  if (options.unprivileged) {
    copy.emplace(options.program, options.libraries);
    program_file = copy->program();
    std::erase_if(environment, [](const std::string& entry) {
      return entry.rfind("LD_LIBRARY_PATH=", 0) == 0;
    });
    environment.push_back("LD_LIBRARY_PATH=" + copy->directory());
  }

  ProgramRun run;
  {
    Forked program([&] {
      ::dup2(input, STDIN_FILENO);
      ::dup2(output, STDOUT_FILENO);
      ::dup2(errors, STDERR_FILENO);
      if (!options.directory.empty() && ::chdir(options.directory.c_str()) != 0) {
        report_failed_start("enter", options.directory);
        return 126;
      }
      if (options.unprivileged && !drop_privileges()) {
        report_failed_start("become user", std::to_string(kNobody));
        return 125;
      }
      std::vector<char*> pointers;
      for (std::string& entry : environment) pointers.push_back(entry.data());
      pointers.push_back(nullptr);
      std::string program = program_file;
      char* arguments[] = {program.data(), nullptr};
      ::execve(program.c_str(), arguments, pointers.data());
      report_failed_start("run", program);
      return 127;
    });
    const Forked::Ending ending = program.wait(timeout_ms);
    if (ending.outcome == Forked::Outcome::exited) run.exit_status = ending.code;
  }
  run.output = contents_of(output);
  run.errors = contents_of(errors);
  ::close(input);
  ::close(output);
  ::close(errors);
  return run;
}

}  // namespace hardening
