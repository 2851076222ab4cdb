// What the code under test writes to standard output or error (message
// boxes and port layer reports go to standard error).
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace test_kit {

// Sends a file descriptor (1 or 2) into a file for as long as it lives, or
// until text() is taken.
class CapturedOutput {
 public:
  explicit CapturedOutput(int fd);
  ~CapturedOutput();
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;

  // Ends the capture and gives all that was written.
  std::string text();

 private:
  void restore();
  int fd_;
  int saved_ = -1;
  std::FILE* file_ = nullptr;
};

// Standard error written while `action` runs.
std::string capture_stderr(const std::function<void()>& action);

}  // namespace test_kit
