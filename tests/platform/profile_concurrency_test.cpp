// Several processes writing one configuration file at once, and a writer
// killed in the middle: the file is never torn and no key is lost.
#include <signal.h>

#include <filesystem>
#include <memory>
#include <sstream>

#include "platform/profile/profile.h"
#include "tests/platform/scratch_folder.h"
#include "tests/support/child.h"

namespace {

using ProfileConcurrency = ScratchFolder;

const std::string shared_file =
    "; shared by every process\n"
    "[I2C Device]\n"
    "; which adapter\n"
    "Default=2\n"
    "\n"
    "[Race]\n"
    "; keys appear below\n";

std::vector<std::string> comment_lines(const std::string& text) {
  std::vector<std::string> comments;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with(";")) comments.push_back(line);
  }
  return comments;
}

std::string value(const std::string& file, const std::string& section,
                  const std::string& key) {
  char buffer[80];
  profile::get(file, section.c_str(), key.c_str(), "<missing>", buffer, sizeof buffer);
  return buffer;
}

TEST_F(ProfileConcurrency, TenProcessesWritingAtOnceLoseNoKeyAndNoComment) {
  constexpr int writers = 10;
  constexpr int rounds = 50;
  write("I2C.INI", shared_file);
  const std::string file = path("I2C.INI");

  std::vector<std::unique_ptr<test_kit::Child>> children;
  for (int writer = 0; writer < writers; ++writer) {
    children.push_back(std::make_unique<test_kit::Child>([&file, writer] {
      // Half the writers also race to create a section of their own.
      const std::string section = writer % 2 == 0 ? "Race" : "Race " + std::to_string(writer);
      const std::string key = "Writer" + std::to_string(writer);
      int failures = 0;
      for (int round = 0; round < rounds; ++round) {
        const std::string text = std::to_string(round);
        if (!profile::put(file, section.c_str(), key.c_str(), text.c_str())) ++failures;
      }
      return failures == 0 ? 0 : 1;
    }));
  }
  for (const auto& child : children) {
    EXPECT_EQ(child->exit_status(), 0) << "a writer saw a failed put";
  }

  const std::string final_text = read("I2C.INI");
  EXPECT_TRUE(final_text.starts_with(shared_file)) << final_text;
  EXPECT_EQ(comment_lines(final_text), comment_lines(shared_file));
  EXPECT_EQ(value(file, "I2C Device", "Default"), "2");
  for (int writer = 0; writer < writers; ++writer) {
    const std::string section = writer % 2 == 0 ? "Race" : "Race " + std::to_string(writer);
    EXPECT_EQ(value(file, section, "Writer" + std::to_string(writer)), "49")
        << "writer " << writer << " in\n" << final_text;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_),
                          std::filesystem::directory_iterator()),
            1);
}

TEST_F(ProfileConcurrency, WriterKilledMidWayLeavesAWholeFile) {
  write("I2C.INI", shared_file);
  const std::string file = path("I2C.INI");
  ASSERT_TRUE(profile::put(file, "Race", "Steady", "kept"));
  const std::string before_kill = read("I2C.INI");

  test_kit::Child writer([&file]() -> int {
    for (unsigned round = 0;; ++round) {
      profile::put(file, "Race", "Counter", std::to_string(round).c_str());
    }
  });
  // Let the writer get well into its loop, then kill it wherever it is.
  for (int looks = 0; looks < 1000000; ++looks) {
    const std::string counter = value(file, "Race", "Counter");
    if (counter != "<missing>" && std::stoi(counter) >= 30) break;
  }
  ASSERT_EQ(::kill(writer.pid(), SIGKILL), 0);
  writer.exit_status();

  const std::string after = read("I2C.INI");
  EXPECT_TRUE(after.starts_with(before_kill)) << after;
  EXPECT_EQ(comment_lines(after), comment_lines(shared_file));
  EXPECT_EQ(value(file, "Race", "Steady"), "kept");
  const std::string counter = value(file, "Race", "Counter");
  ASSERT_NE(counter, "<missing>");
  EXPECT_GE(std::stoi(counter), 30);

  // The next writer carries on from a whole file.
  ASSERT_TRUE(profile::put(file, "Race", "Counter", "done"));
  EXPECT_EQ(read("I2C.INI"), before_kill + "Counter=done\n");
}

}  // namespace
