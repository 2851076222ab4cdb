// A scratch folder with its own configuration file, pointed at by I2C_INI,
// and the port layer (built into the test) started afresh for each test
// and finished after it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dlportio.h"
#include "platform/portio/port_layer.h"
#include "sim/bench/sim_bench.h"
#include "tests/support/scratch_base.h"

namespace portio_test {

inline std::string read_file(const std::string& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}


class PortIoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern_text = test_scratch::pattern("portio-test-");
    char* pattern = pattern_text.data();
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
    ::setenv("I2C_INI", config_path().c_str(), 1);
    portio::restart();
  }

  void TearDown() override {
    portio::restart();
    ::unsetenv("I2C_INI");
    std::filesystem::remove_all(folder_);
  }

  std::string config_path() const { return folder_ + "/I2C.INI"; }
  std::string path(const std::string& name) const { return folder_ + "/" + name; }

  // Replaces the configuration and makes the next access read it.
  void configure(const std::string& text) {
    std::ofstream(config_path(), std::ios::trunc) << text;
    portio::restart();
  }

  std::string folder_;
};

// Sends a file descriptor (1 or 2) into a file for as long as it lives.
class CapturedOutput {
 public:
  explicit CapturedOutput(int fd) : fd_(fd) {
    std::fflush(nullptr);
    saved_ = ::dup(fd_);
    file_ = std::tmpfile();
    ::dup2(::fileno(file_), fd_);
  }
  ~CapturedOutput() {
    restore();
    std::fclose(file_);
  }
  std::string text() {
    restore();
    std::string all;
    std::rewind(file_);
    char chunk[512];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file_)) > 0;) {
      all.append(chunk, n);
    }
    return all;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(nullptr);
    ::dup2(saved_, fd_);
    ::close(saved_);
    saved_ = -1;
  }
  int fd_;
  int saved_ = -1;
  std::FILE* file_ = nullptr;
};

// Runs `body` in a child process that then exits normally with status 0;
// gives the child's exit status (-1 when it did not exit normally).
template <typename Body>
int in_child(Body body) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    body();
    std::exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace portio_test
