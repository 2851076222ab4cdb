#include "tests/packaging/program_run.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/bus_semaphore.h"
#include "tests/support/scratch_base.h"

namespace packaging_test {

namespace {

std::atomic<int> scratch_count{0};

int open_or_throw(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  return fd;
}

}  // namespace

Outcome run(const std::vector<std::string>& argv, const RunOptions& options) {
  std::string pattern_text = test_scratch::pattern("tarnwick-run-");
  char* pattern = pattern_text.data();
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  const std::string dir = pattern;
  {
    std::ofstream(dir + "/in", std::ios::binary) << options.input;
  }
  const int in = open_or_throw(dir + "/in", O_RDONLY);
  const int out = open_or_throw(dir + "/out", O_WRONLY | O_CREAT | O_TRUNC);
  const int err = open_or_throw(dir + "/err", O_WRONLY | O_CREAT | O_TRUNC);

  std::vector<char*> arguments;
  for (const std::string& word : argv) arguments.push_back(const_cast<char*>(word.c_str()));
  arguments.push_back(nullptr);

  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    if (!options.directory.empty() && ::chdir(options.directory.c_str()) != 0) ::_exit(126);
    for (const std::string& entry : options.environment) {
      const auto equals = entry.find('=');
      if (equals == std::string::npos) {
        ::unsetenv(entry.c_str());
      } else {
        ::setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
      }
    }
    ::execvp(arguments[0], arguments.data());
    ::_exit(127);
  }
  ::close(in);
  ::close(out);
  ::close(err);
  Outcome outcome;
  int status = 0;
  if (pid > 0 && ::waitpid(pid, &status, 0) == pid) {
    if (WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) outcome.status = 128 + WTERMSIG(status);
  }
  outcome.out = read_file(dir + "/out");
  outcome.err = read_file(dir + "/err");
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return outcome;
}

Scratch::Scratch() {
  std::string pattern_text = test_scratch::pattern("tarnwick-packaging-");
  char* pattern = pattern_text.data();
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  prefix_ = "packaging-" + std::to_string(::getpid()) + "-" +
            std::to_string(++scratch_count) + "-";
}

Scratch::~Scratch() {
  const char* previous = std::getenv("TARNWICK_SEM_PREFIX");
  const std::string saved = previous != nullptr ? previous : "";
  ::setenv("TARNWICK_SEM_PREFIX", prefix_.c_str(), 1);
  for (const char* name : {"I2CSEMA0", "I2CSEMA1", "I2CSEMA2"}) bus_semaphore::remove(name);
  if (previous != nullptr) {
    ::setenv("TARNWICK_SEM_PREFIX", saved.c_str(), 1);
  } else {
    ::unsetenv("TARNWICK_SEM_PREFIX");
  }
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void Scratch::write(const std::string& name, const std::string& text) const {
  std::ofstream(file(name), std::ios::binary | std::ios::trunc) << text;
}

std::vector<std::string> Scratch::environment() const {
  return {"TARNWICK_SEM_PREFIX=" + prefix_, "I2C_INI=" + file("I2C.INI"), "LD_LIBRARY_PATH",
          "LD_PRELOAD"};
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<std::string> host_c_flags() { return split_words(HOST_C_FLAGS); }

bool tree_is_sanitized() { return std::string(HOST_C_FLAGS).find("-fsanitize") != std::string::npos; }

std::vector<std::string> split_words(const std::string& text) {
  std::istringstream stream(text);
  std::vector<std::string> words;
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

std::vector<std::uint8_t> eeprom_image() {
  std::vector<std::uint8_t> image(256);
  for (std::size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<std::uint8_t>((i * 167 + 13) ^ (i >> 3));
  }
  return image;
}

std::string dump_text(const std::vector<std::uint8_t>& memory) {
  std::string text;
  char cell[24];
  for (std::size_t line = 0; line < memory.size(); line += 16) {
    std::snprintf(cell, sizeof cell, "%02zx:", line);
    text += cell;
    for (std::size_t i = line; i < line + 16 && i < memory.size(); ++i) {
      std::snprintf(cell, sizeof cell, " %02x", memory[i]);
      text += cell;
    }
    text += "\n";
  }
  return text;
}

void prepare_eeprom_bench(const Scratch& scratch, const std::string& more_settings) {
  const auto image = eeprom_image();
  scratch.write("eeprom.bin", std::string(image.begin(), image.end()));
  scratch.write("I2C.INI", "[Simulation]\nEEPROM File = " + scratch.file("eeprom.bin") +
                               "\n" + more_settings);
}

}  // namespace packaging_test
