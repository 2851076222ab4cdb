// Running installed and built programs as a user would, from a scratch
// directory of their own, with bus locks of their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace packaging_test {

struct Outcome {
  int status = -1;  // exit status, or 128 + the signal that ended it
  std::string out;
  std::string err;
};

struct RunOptions {
  std::string directory;                 // working directory; empty: as now
  std::vector<std::string> environment;  // "NAME=value" set, "NAME" removed
  std::string input;                     // standard input
};

// Runs `argv` (argv[0] looked up in PATH) and waits for its end.
Outcome run(const std::vector<std::string>& argv, const RunOptions& options = {});

// A directory removed with everything in it afterwards, and a
// TARNWICK_SEM_PREFIX whose bus semaphores are removed afterwards.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& text) const;
  // The environment entries every program run here gets: the bus lock
  // prefix, and I2C_INI naming the scratch I2C.INI.
  std::vector<std::string> environment() const;

 private:
  std::string path_;
  std::string prefix_;
};

std::string read_file(const std::string& path);

// The C flags this tree is built with: hosts built here against it use
// them too (a sanitizer build needs its runtime in the host as well).
std::vector<std::string> host_c_flags();
// A host that is not built here (the system's Python) cannot load a
// sanitizer-built library without that runtime preloaded.
bool tree_is_sanitized();
std::vector<std::string> split_words(const std::string& text);

// 256 bytes that are not a pattern a wrong offset could reproduce.
std::vector<std::uint8_t> eeprom_image();
// What the example hosts print for `memory`: "00: xx xx ...", 16 a line.
std::string dump_text(const std::vector<std::uint8_t>& memory);
// Settings for a quick bench: no port delays on any adapter, and the Custom
// adapter wired as the Philips adapter is.
inline const std::string kQuickBench =
    "[I2C Card]\nNops = 0\n[I2C para]\nNops = 0\n"
    "[I2C para Gen]\nNops = 0\n"
    "SDA OUT Port = 378\nSDA OUT Bit = 80\nSDA OUT Pol = 1\n"
    "SCL OUT Port = 37A\nSCL OUT Bit = 8\nSCL OUT Pol = 0\n"
    "SDA IN Port = 379\nSDA IN Bit = 80\nSDA IN Pol = 1\n";
// A scratch I2C.INI whose bench EEPROM starts with eeprom_image().
void prepare_eeprom_bench(const Scratch& scratch, const std::string& more_settings = {});

}  // namespace packaging_test
