// The benchmark program in its quick mode: it runs, and its --json output
// is one valid JSON object holding every figure the run is read by.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/bus_semaphore.h"
#include "tests/support/child.h"
#include "tests/support/program.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scratch.h"
#include "tests/support/semaphores.h"

namespace {

// The members of a JSON object: each top-level key with its value's kind
// ('n' number, 's' text, 'b' true/false, 'z' null, 'o' object, 'a' array)
// and, for numbers, the value. Throws std::runtime_error on anything that
// is not JSON.
struct Member {
  char kind = 0;
  double number = 0;
};

class Reader {
 public:
  explicit Reader(const std::string& text) : text_(text) {}

  std::map<std::string, Member> top_object() {
    std::map<std::string, Member> members;
    skip();
    expect('{');
    skip();
    if (peek() == '}') {
      ++at_;
    } else {
      for (;;) {
        skip();
        const std::string key = string();
        skip();
        expect(':');
        members[key] = value();
        skip();
        if (peek() == ',') {
          ++at_;
          continue;
        }
        expect('}');
        break;
      }
    }
    skip();
    if (at_ != text_.size()) fail("text after the object");
    return members;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw std::runtime_error(what + " at offset " + std::to_string(at_));
  }
  char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
  void skip() {
    while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
  }
  void expect(char c) {
    if (peek() != c) fail(std::string("expected '") + c + "'");
    ++at_;
  }
  std::string string() {
    expect('"');
    std::string out;
    while (peek() != '"') {
      if (peek() == '\0') fail("unterminated string");
      if (static_cast<unsigned char>(peek()) < 0x20) fail("control character in a string");
      if (peek() == '\\') {
        ++at_;
        const char e = peek();
        if (e == 'u') {
          for (int i = 0; i < 4; ++i) {
            ++at_;
            if (!std::isxdigit(static_cast<unsigned char>(peek()))) fail("bad \\u escape");
          }
        } else if (std::string("\"\\/bfnrt").find(e) == std::string::npos) {
          fail("bad escape");
        }
      }
      out += peek();
      ++at_;
    }
    ++at_;
    return out;
  }
  Member value() {
    skip();
    Member member;
    const char c = peek();
    if (c == '{' || c == '[') {
      member.kind = c == '{' ? 'o' : 'a';
      const char close = c == '{' ? '}' : ']';
      ++at_;
      skip();
      if (peek() == close) {
        ++at_;
        return member;
      }
      for (;;) {
        skip();
        if (c == '{') {
          string();
          skip();
          expect(':');
        }
        value();
        skip();
        if (peek() == ',') {
          ++at_;
          continue;
        }
        expect(close);
        return member;
      }
    }
    if (c == '"') {
      string();
      member.kind = 's';
    } else if (text_.compare(at_, 4, "true") == 0 || text_.compare(at_, 5, "false") == 0) {
      at_ += c == 't' ? 4 : 5;
      member.kind = 'b';
    } else if (text_.compare(at_, 4, "null") == 0) {
      at_ += 4;
      member.kind = 'z';
    } else {
      const char* begin = text_.c_str() + at_;
      char* end = nullptr;
      member.number = std::strtod(begin, &end);
      if (end == begin || (!std::isdigit(static_cast<unsigned char>(c)) && c != '-')) {
        fail("not a JSON value");
      }
      at_ += static_cast<std::size_t>(end - begin);
      member.kind = 'n';
    }
    return member;
  }

  const std::string& text_;
  std::size_t at_ = 0;
};

test_kit::Run run_bench(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{TARNWICK_BENCH_PATH};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return test_kit::run_program({argv});
}

TEST(BenchProgram, QuickJsonRunGivesEveryFigureAndNoExtraPortAccess) {
  const test_kit::Run run = run_bench({"--quick", "--json"});
  ASSERT_EQ(run.exit_status, 0) << run.out;
  std::map<std::string, Member> members;
  ASSERT_NO_THROW(members = Reader(run.out).top_object()) << run.out;
  for (const char* key :
       {"port_accesses_extra", "overhead_ratio", "sim_accesses_per_second",
        "semaphore_handoff_ratio", "semaphore_timeout_ms_max", "console_commands_per_second",
        "console_vs_cat_ratio", "transfer_timing_violations"}) {
    ASSERT_TRUE(members.count(key)) << "missing key " << key;
    EXPECT_EQ(members[key].kind, 'n') << key << " is not a number";
  }
  EXPECT_EQ(members["port_accesses_extra"].number, 0);
  EXPECT_EQ(members["port_accesses_missing"].number, 0);
  EXPECT_GT(members["overhead_ratio"].number, 0);
  EXPECT_GT(members["sim_accesses_per_second"].number, 0);
  EXPECT_GE(members["semaphore_timeout_ms_max"].number, 100);
  EXPECT_GT(members["console_commands_per_second"].number, 0);
  // Every transfer went through (else a problem and status 1) within the
  // standard's minimums.
  EXPECT_EQ(members["transfer_timing_violations"].number, 0);
  EXPECT_EQ(members["goals"].kind, 'a');
  EXPECT_EQ(members["details"].kind, 'o');
  EXPECT_EQ(members["date"].kind, 's');
  // Round trips per tarnwick_transfer, by backend and transfer.
  EXPECT_EQ(members["transfer_round_trips"].kind, 'o');
}

// A run ended by SIGTERM while it holds the library loaded still removes
// its bus semaphores and its scratch files.
TEST(BenchProgram, ASignalEndsItWithoutLeavingSemaphoresOrFiles) {
  const test_kit::ScratchFolder scratch("bench-signal-test.");
  test_kit::Child bench([&] {
    setenv("TMPDIR", scratch.path().c_str(), 1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    execl(TARNWICK_BENCH_PATH, TARNWICK_BENCH_PATH, "--quick", static_cast<char*>(nullptr));
    return 127;
  });
  const test_kit::ScopedEnv prefix("TARNWICK_SEM_PREFIX",
                                   "tarnwick-bench." + std::to_string(bench.pid()) + ".");
  // The semaphores appear when the benchmark first loads the library.
  bool created = false;
  for (int i = 0; i < 2000 && !created; ++i) {
    created = bus_semaphore::open("I2CSEMA0").valid();
    if (!created) usleep(5000);
  }
  kill(bench.pid(), SIGTERM);
  const test_kit::Child::Ending ending = bench.wait();
  ASSERT_TRUE(created) << "the benchmark made no bus semaphores";
  EXPECT_TRUE(ending.outcome == test_kit::Child::Outcome::killed && ending.code == SIGTERM)
      << "outcome " << static_cast<int>(ending.outcome) << ", code " << ending.code;
  for (const char* slot : test_kit::kSlotSemaphores) {
    EXPECT_FALSE(bus_semaphore::open(slot).valid()) << slot << " was left behind";
  }
  std::error_code error;
  const bool empty = std::filesystem::is_empty(scratch.path(), error);
  EXPECT_TRUE(empty) << "files were left in " << scratch.path();
}

TEST(BenchProgram, RefusesAnUnknownOptionWithStatus2) {
  EXPECT_EQ(run_bench({"--fast"}).exit_status, 2);
}

}  // namespace
