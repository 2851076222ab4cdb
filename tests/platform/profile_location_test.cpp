// Finding the configuration file: I2C_INI first, otherwise I2C.INI of the
// current folder in any letter case.
#include <filesystem>

#include "platform/profile/profile.h"
#include "scratch_folder.h"

namespace {

using ProfileLocation = ScratchFolder;

std::string read_default() {
  char buffer[80];
  profile::get("I2C Device", "Default", "1", buffer, sizeof buffer);
  return buffer;
}

TEST_F(ProfileLocation, EnvironmentVariableNamesTheFile) {
  write("elsewhere.cfg", "[I2C Device]\nDefault=3\n");
  write("I2C.INI", "[I2C Device]\nDefault=2\n");
  ::setenv("I2C_INI", path("elsewhere.cfg").c_str(), 1);
  EXPECT_EQ(profile::file_path(), path("elsewhere.cfg"));
  EXPECT_EQ(read_default(), "3");
  ASSERT_TRUE(profile::put("Debug", "Bastion", "x"));
  EXPECT_EQ(read("I2C.INI"), "[I2C Device]\nDefault=2\n");

  ::setenv("I2C_INI", "", 1);
  EXPECT_EQ(profile::file_path(), "I2C.INI");
  EXPECT_EQ(read_default(), "2");
}

TEST_F(ProfileLocation, LowerCaseNameReachesTheSameFile) {
  write("i2c.ini", "[I2C Device]\nDefault=2\n");
  EXPECT_EQ(profile::file_path(), "i2c.ini");
  EXPECT_EQ(read_default(), "2");
  ASSERT_TRUE(profile::put("Debug", "Bastion", "x"));
  EXPECT_FALSE(std::filesystem::exists(path("I2C.INI")));
  EXPECT_EQ(read("i2c.ini"), "[I2C Device]\nDefault=2\n\n[Debug]\nBastion=x\n");
}

TEST_F(ProfileLocation, AmongSeveralSpellingsTheChoiceIsFixed) {
  write("i2c.INI", "");
  write("i2C.ini", "");
  EXPECT_EQ(profile::file_path(), "i2C.ini");
  write("I2C.INI", "");
  EXPECT_EQ(profile::file_path(), "I2C.INI");
}

TEST_F(ProfileLocation, WithoutAnyFileTheDefaultsApplyAndAWriteCreatesI2cIni) {
  write("I2C.INI.bak", "[I2C Device]\nDefault=2\n");
  EXPECT_EQ(profile::file_path(), "I2C.INI");
  EXPECT_EQ(read_default(), "1");
  ASSERT_TRUE(profile::put("Debug", "Barbican", "y"));
  EXPECT_EQ(read("I2C.INI"), "[Debug]\nBarbican=y\n");
}

}  // namespace
