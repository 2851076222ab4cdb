// A fresh temporary folder per test, made the current directory, with
// I2C_INI cleared, so no test ever reaches a real configuration file.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "tests/support/scratch_base.h"

class ScratchFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern_text = test_scratch::pattern("tw-profile-");
    char* pattern = pattern_text.data();
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
    char* here = ::getcwd(nullptr, 0);
    ASSERT_NE(here, nullptr);
    previous_folder_ = here;
    std::free(here);
    if (const char* configured = std::getenv("I2C_INI")) previous_ini_ = configured;
    ::unsetenv("I2C_INI");
    ASSERT_EQ(::chdir(folder_.c_str()), 0);
  }

  void TearDown() override {
    if (!previous_folder_.empty()) {
      EXPECT_EQ(::chdir(previous_folder_.c_str()), 0);
    }
    if (previous_ini_) {
      ::setenv("I2C_INI", previous_ini_->c_str(), 1);
    } else {
      ::unsetenv("I2C_INI");
    }
    std::error_code ignored;
    // A test may have left a folder without permissions behind.
    std::filesystem::permissions(folder_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(folder_, ignored);
  }

  std::string path(const std::string& name) const { return folder_ + "/" + name; }

  void write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(path(name), std::ios::binary | std::ios::trunc);
    out << bytes;
  }

  std::string read(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  static mode_t mode_of(const std::string& path) {
    struct stat info{};
    ::lstat(path.c_str(), &info);
    return info.st_mode;
  }

  std::string folder_;

 private:
  std::string previous_folder_;
  std::optional<std::string> previous_ini_;
};
