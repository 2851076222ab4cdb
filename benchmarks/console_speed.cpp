// The console reading a long script: commands per second of sondrel, with
// cat of the same file into the same kind of pipe as the floor of merely
// reading it.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "benchmarks/clock.h"
#include "benchmarks/host.h"
#include "benchmarks/section.h"

namespace bench {
namespace {

// One command per line: MODE, DELAY and bus commands, on the Philips
// adapter, the EEPROM at 0xA0 and the port expander at 0x40.
constexpr std::array<const char*, 15> kCycle{
    "mode 0",  "delay 5",     "start", "address 160", "write 0", "read 8",
    "address 64", "write 85,170,255", "close",
    "mode 1",  "delay a",     "start", "address a1",  "read 4",  "close"};

struct Script {
  std::string path;
  int lines = 0;
  int reads = 0;  // READ commands: one "Read from slave" line each
};

Script write_script(const std::string& path, int lines) {
  Script script{path, lines, 0};
  std::ofstream out(path, std::ios::trunc);
  for (int i = 0; i < lines; ++i) {
    const std::string line = kCycle[static_cast<std::size_t>(i) % kCycle.size()];
    if (line.rfind("read", 0) == 0) ++script.reads;
    out << line << '\n';
  }
  out.close();
  if (!out) throw std::runtime_error("cannot write the script " + path);
  return script;
}

struct Outcome {
  double ns = 0;
  std::string output;
  bool exited_cleanly = false;
};

// Runs `argv` with standard input from `input` and standard output into a
// pipe that this process drains; the time runs from the fork to the end of
// the child.
Outcome run_piped(const std::vector<std::string>& argv, const std::string& input) {
  Outcome outcome;
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) throw std::runtime_error("cannot make a pipe");
  std::vector<char*> args;
  for (const auto& word : argv) args.push_back(const_cast<char*>(word.c_str()));
  args.push_back(nullptr);

  // The console takes the benchmark's bus semaphores: it must have ended
  // before a signal removes them.
  const EndSignalsHeld held;
  const std::int64_t begin = monotonic_ns();
  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("cannot fork");
  if (child == 0) {
    held.restore_in_child();
    const int in = open(input.c_str(), O_RDONLY);
    const int null = open("/dev/null", O_WRONLY);
    if (in < 0 || null < 0) _exit(126);
    dup2(in, STDIN_FILENO);
    dup2(pipe_ends[1], STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    close(pipe_ends[0]);
    close(pipe_ends[1]);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(pipe_ends[1]);
  std::array<char, 65536> chunk;
  for (;;) {
    const ssize_t got = read(pipe_ends[0], chunk.data(), chunk.size());
    if (got > 0) {
      outcome.output.append(chunk.data(), static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  close(pipe_ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  outcome.ns = static_cast<double>(monotonic_ns() - begin);
  outcome.exited_cleanly = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return outcome;
}

int occurrences(const std::string& text, const std::string& word) {
  int count = 0;
  for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++count;
  return count;
}

}  // namespace

Section measure_console(Host& host, const Options& options) {
  Section section;
  const int lines = options.quick ? 3000 : 100000;
  const int rounds = options.quick ? 1 : 3;
  host.configure({0, 2, ""});
  const Script script = write_script(host.file("script.txt"), lines);

  double sondrel_ns = 0;
  double cat_ns = 0;
  Outcome last;
  for (int round = 0; round < rounds; ++round) {
    Outcome console = run_piped({options.sondrel}, script.path);
    const Outcome cat = run_piped({"cat", script.path}, script.path);
    if (round == 0 || console.ns < sondrel_ns) sondrel_ns = console.ns;
    if (round == 0 || cat.ns < cat_ns) cat_ns = cat.ns;
    if (!cat.exited_cleanly) section.problems.push_back("cat of the script failed");
    last = std::move(console);
  }
  const int errors = occurrences(last.output, "ERROR");
  const int reads = occurrences(last.output, "Read from slave : ");
  if (!last.exited_cleanly) {
    section.problems.push_back("sondrel (" + options.sondrel + ") did not end with status 0");
  } else if (errors != 0 || reads != script.reads) {
    section.problems.push_back("sondrel printed " + std::to_string(errors) + " error lines and " +
                               std::to_string(reads) + " reads for the script's " +
                               std::to_string(script.reads));
  }

  const double per_second = sondrel_ns > 0 ? lines * 1e9 / sondrel_ns : 0;
  const double ratio = cat_ns > 0 ? sondrel_ns / cat_ns : 0;
  Table table;
  table.title = "Console: sondrel reading a script of " + grouped(lines) + " commands";
  table.header = {"program", "best time ms", "commands/s", "time over cat's"};
  table.rows.push_back({"sondrel", fixed(sondrel_ns / 1e6, 1), grouped(per_second), fixed(ratio, 1)});
  table.rows.push_back({"cat (floor)", fixed(cat_ns / 1e6, 1), grouped(cat_ns > 0 ? lines * 1e9 / cat_ns : 0),
                        "1.0"});
  table.notes.push_back("One command per line: MODE, DELAY, START, ADDRESS, WRITE, READ and "
                        "CLOSE on the Philips adapter at Nops 0; standard output into a pipe "
                        "that the benchmark drains. Times from fork to exit, best of " +
                        std::to_string(rounds) + ".");
  table.notes.push_back("Error lines in sondrel's output: " + std::to_string(errors) + ".");
  section.tables.push_back(std::move(table));
  section.headline.set("console_commands_per_second", per_second);
  section.headline.set("console_vs_cat_ratio", ratio);
  section.details.set("lines", lines)
      .set("sondrel_ms", sondrel_ns / 1e6)
      .set("cat_ms", cat_ns / 1e6)
      .set("error_lines", errors);
  return section;
}

}  // namespace bench
