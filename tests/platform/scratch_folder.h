// A fresh scratch folder per test, made the current directory, with
// I2C_INI cleared, so no test ever reaches a real configuration file.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "tests/support/scoped_env.h"
#include "tests/support/scratch.h"

class ScratchFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char* here = ::getcwd(nullptr, 0);
    ASSERT_NE(here, nullptr);
    previous_folder_ = here;
    std::free(here);
    ASSERT_EQ(::chdir(folder_.c_str()), 0);
  }

  void TearDown() override {
    if (!previous_folder_.empty()) {
      EXPECT_EQ(::chdir(previous_folder_.c_str()), 0);
    }
  }

  std::string path(const std::string& name) const { return scratch_.file(name); }
  void write(const std::string& name, const std::string& bytes) const {
    scratch_.write(name, bytes);
  }
  std::string read(const std::string& name) const { return scratch_.read(name); }

  static mode_t mode_of(const std::string& path) {
    struct stat info{};
    ::lstat(path.c_str(), &info);
    return info.st_mode;
  }

 private:
  const test_kit::ScratchFolder scratch_{"tw-profile-"};
  const test_kit::ScopedEnv no_configuration_{"I2C_INI", std::nullopt};

 protected:
  const std::string folder_ = scratch_.path();

 private:
  std::string previous_folder_;
};
