#include "tests/fuzz/fuzz_environment.h"

#include <sanitizer/common_interface_defs.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/bus_semaphore.h"

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
  std::string pattern = base + "/twfuzz-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) fail("cannot make a scratch directory in " + base);
  return pattern;
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) fail("cannot write " + path);
}

// The process owns its semaphores and directory; nobody else will remove
// them.
void clean_up() {
  for (const char* name : {"I2CSEMA0", "I2CSEMA1", "I2CSEMA2"}) bus_semaphore::remove(name);
  if (const char* scratch = std::getenv(kScratchVariable)) {
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
  }
}

}  // namespace

const char* const custom_wiring =
    "SDA IN Port = 379\nSDA IN Bit = 80\nSDA IN Pol = 1\n"
    "SDA OUT Port = 378\nSDA OUT Bit = 80\nSDA OUT Pol = 1\n"
    "SCL OUT Port = 37A\nSCL OUT Bit = 8\nSCL OUT Pol = 0\n";

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

bool slot_held(int slot) {
  const std::string name = "I2CSEMA" + std::to_string(slot);
  const bus_semaphore::Handle handle = bus_semaphore::open(name.c_str());
  // The value counts holders: 0 free, 1 held.
  return handle.valid() && ::semctl(handle.id, 0, GETVAL) != 0;
}

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
