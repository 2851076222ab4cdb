// Files written whole: every byte out through short and interrupted writes,
// and a replacement that either lands whole or leaves the target as it was,
// its temporary file gone and the failing step's errno told.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_utilities.h"

namespace {

namespace fs = std::filesystem;

std::atomic<int> alarms{0};
void count_alarm(int) { alarms.fetch_add(1, std::memory_order_relaxed); }

TEST(WriteAll, EveryByteArrivesInOrderThroughShortAndInterruptedWrites) {
  // A pipe that a slow reader drains, and a timer whose signal breaks into
  // the blocked writes (no SA_RESTART): each then returns what it had
  // written so far, or fails with EINTR when that was nothing.
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  std::string bytes(1 << 20, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);

  sigset_t alarm_only;
  sigemptyset(&alarm_only);
  sigaddset(&alarm_only, SIGALRM);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &alarm_only, nullptr), 0);  // the reader inherits it
  std::string received;
  std::thread reader([&] {
    char chunk[512];
    for (ssize_t got; (got = ::read(ends[0], chunk, sizeof chunk)) != 0;) {
      if (got < 0) break;
      received.append(chunk, static_cast<std::size_t>(got));
      ::usleep(20);
    }
  });
  ASSERT_EQ(::pthread_sigmask(SIG_UNBLOCK, &alarm_only, nullptr), 0);

  struct sigaction action{};
  struct sigaction previous{};
  action.sa_handler = count_alarm;
  ASSERT_EQ(::sigaction(SIGALRM, &action, &previous), 0);
  const itimerval every_200_us{{0, 200}, {0, 200}};
  ASSERT_EQ(::setitimer(ITIMER_REAL, &every_200_us, nullptr), 0);
  const bool written = file_utilities::write_all(ends[1], bytes);
  const itimerval off{};
  ::setitimer(ITIMER_REAL, &off, nullptr);
  ::sigaction(SIGALRM, &previous, nullptr);
  ::close(ends[1]);
  reader.join();
  ::close(ends[0]);

  EXPECT_TRUE(written);
  EXPECT_GT(alarms.load(), 0) << "no write was interrupted: the test proved nothing";
  ASSERT_EQ(received.size(), bytes.size());
  EXPECT_TRUE(received == bytes) << "the bytes arrived out of order or twice";
}

class Replace : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "tw-files-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  std::string path(const std::string& name) const { return folder_ + "/" + name; }
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  static std::string contents(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string folder_;
};

TEST_F(Replace, TheTargetGetsTheNewBytesWholeOrKeepsTheOldAndNoTemporaryStays) {
  struct Case {
    const char* name;
    std::function<void(const std::string& target)> arrange;
    std::optional<mode_t> bits;
    int error;                              // what replace() tells
    const char* target_holds;               // nullptr: the target is not a file
    std::vector<std::string> left_behind;   // the folder's entries afterwards
  };
  const Case cases[] = {
      {"a new file", [](const std::string&) {}, std::nullopt, 0, "new bytes", {"target"}},
      {"an old file, the bits given set exactly whatever the umask",
       [](const std::string& target) { std::ofstream(target) << "old bytes"; }, 0664, 0,
       "new bytes", {"target"}},
      {"a folder in the target's place: the rename fails",
       [](const std::string& target) { fs::create_directory(target); }, std::nullopt, EISDIR,
       nullptr, {"target"}},
      {"a file size limit: the write fails after a short one",
       [](const std::string& target) {
         std::ofstream(target) << "old bytes";
         ::signal(SIGXFSZ, SIG_IGN);
         const rlimit four_bytes{4, RLIM_INFINITY};
         ::setrlimit(RLIMIT_FSIZE, &four_bytes);
       },
       std::nullopt, EFBIG, "old bytes", {"target"}},
  };
  rlimit file_size{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &file_size), 0);
  const mode_t umask_before = ::umask(0077);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string target = path("target");
    c.arrange(target);
    const std::string temporary = ".target.new";
    const int out = ::open(path(temporary).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(out, 0) << std::strerror(errno);
    const file_utilities::Descriptor folder(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY));
    const int error = file_utilities::replace(
        {.folder = folder.get(), .temporary = temporary, .target = "target", .bits = c.bits},
        file_utilities::Descriptor(out), "new bytes");
    ::setrlimit(RLIMIT_FSIZE, &file_size);

    EXPECT_EQ(error, c.error) << std::strerror(error);
    EXPECT_EQ(entries(), c.left_behind);
    if (c.target_holds != nullptr) {
      EXPECT_EQ(contents(target), c.target_holds);
      struct stat info{};
      ASSERT_EQ(::stat(target.c_str(), &info), 0);
      EXPECT_EQ(info.st_mode & 07777, c.bits.value_or(0600));
    }
    fs::remove_all(target);
  }
  ::umask(umask_before);
  ::signal(SIGXFSZ, SIG_DFL);
}

}  // namespace
