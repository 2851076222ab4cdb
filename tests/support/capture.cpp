#include "tests/support/capture.h"

#include <unistd.h>

#include <iostream>
#include <stdexcept>

namespace test_kit {

CapturedOutput::CapturedOutput(int fd) : fd_(fd) {
  std::fflush(nullptr);
  std::cout.flush();
  std::cerr.flush();
  file_ = std::tmpfile();
  if (file_ == nullptr) throw std::runtime_error("cannot create a file for the output");
  saved_ = ::dup(fd_);
  ::dup2(::fileno(file_), fd_);
}

CapturedOutput::~CapturedOutput() {
  restore();
  std::fclose(file_);
}

void CapturedOutput::restore() {
  if (saved_ < 0) return;
  std::fflush(nullptr);
  std::cout.flush();
  std::cerr.flush();
  ::dup2(saved_, fd_);
  ::close(saved_);
  saved_ = -1;
}

std::string CapturedOutput::text() {
  restore();
  std::string all;
  std::rewind(file_);
  char chunk[512];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file_)) > 0;) {
    all.append(chunk, got);
  }
  return all;
}

std::string capture_stderr(const std::function<void()>& action) {
  CapturedOutput captured(STDERR_FILENO);
  action();  // an exception ends the capture on the way out
  return captured.text();
}

}  // namespace test_kit
