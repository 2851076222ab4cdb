#include "tests/fuzz/fuzz_environment.h"

#include <sanitizer/common_interface_defs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "tests/support/files.h"
#include "tests/support/ini.h"
#include "tests/support/scratch.h"
#include "tests/support/semaphores.h"

namespace fuzz_environment {
namespace {

constexpr const char* kScratchVariable = "TWFUZZ_SCRATCH";

std::string own_prefix() { return "twfuzz-" + std::to_string(::getpid()) + "-"; }

// TMPDIR when it is set (scripts/fuzz points it into the build when run as
// root, who trusts no configuration file below a folder others can write),
// else memory (/dev/shm), else /tmp.
std::string make_scratch_directory() {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp != nullptr && *tmp != '\0' ? tmp : "/dev/shm";
  struct stat info {};
  if (::stat(base.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
      ::access(base.c_str(), W_OK) != 0) {
    base = "/tmp";
  }
  try {
    return test_kit::make_scratch_directory("twfuzz-", base);
  } catch (const std::exception& error) {
    fail(error.what());
  }
}

void write_file(const std::string& path, const std::string& text) {
  try {
    test_kit::write_file(path, text);
  } catch (const std::exception& error) {
    fail(error.what());
  }
}

// The process owns its semaphores and directory; nobody else will remove
// them.
void clean_up() {
  test_kit::remove_bus_semaphores(own_prefix());
  if (const char* scratch = std::getenv(kScratchVariable)) test_kit::remove_tree(scratch);
}

}  // namespace

const std::string custom_wiring = test_kit::custom_wired_like_philips_text();

void set_up(char** argv, const std::string& configuration) {
  const char* prefix = std::getenv("TARNWICK_SEM_PREFIX");
  if (prefix != nullptr && own_prefix() == prefix && std::getenv(kScratchVariable) != nullptr) {
    std::atexit(clean_up);
    // A sanitizer report ends the process without the exit handlers.
    __sanitizer_set_death_callback(clean_up);
    return;
  }
  const std::string scratch = make_scratch_directory();
  write_file(scratch + "/I2C.INI", configuration);
  ::setenv(kScratchVariable, scratch.c_str(), 1);
  ::setenv("I2C_INI", (scratch + "/I2C.INI").c_str(), 1);
  ::setenv("TARNWICK_SEM_PREFIX", own_prefix().c_str(), 1);
  ::execv("/proc/self/exe", argv);
  fail("cannot execute myself again with private bus semaphores");
}

std::string scratch_path(const std::string& name) {
  const char* scratch = std::getenv(kScratchVariable);
  if (scratch == nullptr) fail("set_up() has not run");
  return std::string(scratch) + "/" + name;
}

std::string write_configuration(const std::string& name, const std::string& text) {
  const std::string path = scratch_path(name);
  write_file(path, text);
  return path;
}

bool slot_held(int slot) { return test_kit::slot_holders(slot) > 0; }

void fail(const std::string& what) {
  // The fuzz runs close the targets' standard error (message boxes would
  // flood it); the sanitizers' report channel stays open.
  __sanitizer_report_error_summary(what.c_str());
  std::fprintf(stderr, "\n*** %s\n", what.c_str());
  std::fflush(stderr);
  clean_up();  // the abort skips the exit handlers; libFuzzer keeps the input
  std::abort();
}

}  // namespace fuzz_environment
