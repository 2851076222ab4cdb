#include "tests/support/tarnwick_harness.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "platform/bus_semaphore.h"
#include "tests/support/child_write.h"

namespace harness {

// ---------------------------------------------------------------- files --

void write_ini(const std::string& path, const Ini& sections) {
  std::ofstream out(path, std::ios::trunc);
  if (!out) {
    throw std::runtime_error("cannot write " + path);
  }
  for (const auto& section : sections) {
    out << '[' << section.name << "]\n";
    for (const auto& [key, value] : section.keys) {
      out << key << " = " << value << '\n';
    }
    out << '\n';
  }
}

std::vector<std::string> read_lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> without_read_values(const std::vector<std::string>& trace) {
  std::vector<std::string> result;
  result.reserve(trace.size());
  for (const auto& line : trace) {
    if (line.size() > 6 && line[0] == 'R') {
      result.push_back(line.substr(0, 6));  // "R 0301"
    } else {
      result.push_back(line);
    }
  }
  return result;
}

Ini parallel_wiring(const std::string& nops) {
  return {{"I2C para", {{"Nops", nops}}},
          {"I2C para Gen",
           {{"Nops", nops},
            {"SDA IN Port", "379"}, {"SDA IN Bit", "80"}, {"SDA IN Pol", "1"},
            {"SDA OUT Port", "378"}, {"SDA OUT Bit", "80"}, {"SDA OUT Pol", "1"},
            {"SCL OUT Port", "37A"}, {"SCL OUT Bit", "8"}, {"SCL OUT Pol", "0"}}}};
}

std::string capture_stderr(const std::function<void()>& action) {
  std::fflush(stderr);
  std::cerr.flush();
  FILE* sink = std::tmpfile();
  if (sink == nullptr) {
    throw std::runtime_error("cannot create a file for standard error");
  }
  const int saved = dup(STDERR_FILENO);
  dup2(fileno(sink), STDERR_FILENO);
  auto restore = [&] {
    std::fflush(stderr);
    std::cerr.flush();
    dup2(saved, STDERR_FILENO);
    close(saved);
  };
  try {
    action();
  } catch (...) {
    restore();
    std::fclose(sink);
    throw;
  }
  restore();
  std::string text;
  std::rewind(sink);
  char chunk[512];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, sink)) > 0;) {
    text.append(chunk, got);
  }
  std::fclose(sink);
  return text;
}

// ---------------------------------------------------------- environment --

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) {
    previous_ = old;
  }
  setenv(name_.c_str(), value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (previous_) {
    setenv(name_.c_str(), previous_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

namespace {

std::string make_scratch_directory() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                        "/tarnwick-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a scratch directory from " + pattern);
  }
  return pattern;
}

std::string unique_semaphore_prefix() {
  static std::atomic<int> counter{0};
  return "twtest-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + "-";
}

}  // namespace

Environment::Environment()
    : directory_(make_scratch_directory()),
      ini_path_(directory_ + "/I2C.INI"),
      trace_path_(directory_ + "/ports.trace"),
      ini_variable_("I2C_INI", ini_path_),
      prefix_variable_("TARNWICK_SEM_PREFIX", unique_semaphore_prefix()) {}

Environment::~Environment() {
  remove_semaphores();
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

void Environment::configure(const Ini& sections) const {
  Ini all = sections;
  bool has_port_io = false;
  for (const auto& section : sections) {
    has_port_io = has_port_io || section.name == "Port IO";
  }
  if (!has_port_io) {
    all.push_back({"Port IO", {{"Trace", trace_path_}}});
  }
  // Tests write and read back at once, and compare traces and waveforms:
  // no EEPROM write cycle and bench time from the port accesses alone,
  // unless the test sets the keys itself.
  const std::vector<std::pair<std::string, std::string>> kTestBench{
      {"EEPROM Write Time", "0"}, {"Wall Clock", "0"}};
  Section* simulation = nullptr;
  for (auto& section : all) {
    if (section.name == "Simulation") simulation = &section;
  }
  if (simulation == nullptr) {
    all.push_back({"Simulation", {}});
    simulation = &all.back();
  }
  for (const auto& [key, value] : kTestBench) {
    bool given = false;
    for (const auto& entry : simulation->keys) given = given || entry.first == key;
    if (!given) simulation->keys.emplace_back(key, value);
  }
  write_ini(ini_path_, all);
}

std::string Environment::file(const std::string& name) const { return directory_ + "/" + name; }

std::vector<std::string> Environment::trace() const { return read_lines(trace_path_); }

void Environment::clear_trace() const {
  std::ofstream truncate(trace_path_, std::ios::trunc);
}

void Environment::remove_semaphores() const {
  for (const char* name : {"I2CSEMA0", "I2CSEMA1", "I2CSEMA2"}) {
    bus_semaphore::remove(name);
  }
}

// ------------------------------------------------------------- library --

std::string tarnwick_path() { return TARNWICK_LIBRARY_PATH; }
std::string dlportio_path() { return DLPORTIO_LIBRARY_PATH; }

bool is_loaded(const std::string& name) {
  void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) {
    return false;
  }
  dlclose(handle);
  return true;
}

Library::Library(const std::string& path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* error = dlerror();
    throw std::runtime_error("cannot load " + path + ": " + (error != nullptr ? error : "?"));
  }
  try {
    exports_ = tarnwick_host::bind_exports(handle_);
  } catch (...) {
    unload();
    throw;
  }
}

Library::~Library() { unload(); }

void* Library::symbol(const char* name) const {
  return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

void Library::unload() {
  if (handle_ != nullptr) {
    dlclose(handle_);
    handle_ = nullptr;
    exports_ = Exports{};
  }
}

// -------------------------------------------------------- child process --

void ChildProcess::Channel::send(const std::string& line) const {
  const std::string text = line + "\n";
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote =
        test_support::write_to_child(out_, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) {
      continue;
    }
    if (wrote <= 0) {
      return;  // the peer is gone; its end shows in receive() and wait()
    }
    done += static_cast<std::size_t>(wrote);
  }
}

std::optional<std::string> ChildProcess::Channel::receive(int timeout_ms) {
  for (;;) {
    if (const auto end = pending_.find('\n'); end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return line;
    }
    pollfd waiting{in_, POLLIN, 0};
    const int ready = poll(&waiting, 1, timeout_ms);
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0) {
      return std::nullopt;
    }
    char chunk[256];
    const ssize_t got = read(in_, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return std::nullopt;
    }
    pending_.append(chunk, static_cast<std::size_t>(got));
  }
}

ChildProcess::ChildProcess(const std::function<int(Channel&)>& body) {
  // A child that died must show as a failed receive, not kill the test.
  signal(SIGPIPE, SIG_IGN);
  int to_child[2];
  int to_parent[2];
  if (pipe(to_child) != 0 || pipe(to_parent) != 0) {
    throw std::runtime_error("cannot create pipes");
  }
  std::fflush(nullptr);
  pid_ = fork();
  if (pid_ < 0) {
    throw std::runtime_error("cannot fork");
  }
  if (pid_ == 0) {
    close(to_child[1]);
    close(to_parent[0]);
    channel_.in_ = to_child[0];
    channel_.out_ = to_parent[1];
    int status = 125;
    try {
      status = body(channel_);
    } catch (...) {
    }
    std::fflush(nullptr);
    _exit(status);
  }
  close(to_child[0]);
  close(to_parent[1]);
  channel_.in_ = to_parent[0];
  channel_.out_ = to_child[1];
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  close(channel_.in_);
  close(channel_.out_);
}

int ChildProcess::wait() {
  if (pid_ <= 0) {
    return -1;
  }
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace harness
