// Test harness for everything that runs against libtarnwick.so as a host
// would: through dlopen and the exported names, on the simulated bench.
//
//   harness::Environment env;              // scratch dir, own semaphores,
//                                          // I2C_INI pointing into it
//   env.configure({{"I2C Card", {{"Nops", "0"}}}});   // writes I2C.INI,
//                                          // with the port trace switched on
//   harness::Library lib;                  // dlopen: the load steps run
//   lib->I2C_Init();                       // the ten exports, by name
//   lib.unload();                          // dlclose: unload steps run, the
//                                          // bench and its trace are closed
//   auto lines = env.trace();              // "W 0301 C1", "R 0301 81", ...
//
// Each Library is a fresh load: libtarnwick.so leaves the process at unload
// (it has no unique symbols and is not marked nodelete), so the next load
// runs the load steps again over fresh library state, and the port layer
// that it loaded leaves with it: its backend finishes, the trace reaches its
// file and the next load builds the bench anew from power-up.
// The test program itself must not link either library. Declare the
// Environment before the Library, so the library is unloaded first.
//
// ChildProcess runs a piece of the test in a forked process (a second host
// of the library: cross-process exclusion, a load with other settings); it
// inherits the environment, so the same semaphores and configuration file
// (set I2C_INI anew inside the child for a bench and trace of its own).
// Fork it before this process loads the library: a child forked while the
// library is loaded shares that load, its state and its bench.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tarnwick.h"
#include "utilities/tarnwick_exports.h"

namespace harness {

// ---------------------------------------------------------------- files --

struct Section {
  std::string name;
  std::vector<std::pair<std::string, std::string>> keys;  // key, value
};
using Ini = std::vector<Section>;

// Writes `sections` as an INI file at `path`, replacing the file.
void write_ini(const std::string& path, const Ini& sections);

// The lines of a text file, without their line ends; empty when missing.
std::vector<std::string> read_lines(const std::string& path);

// Port trace lines with the value of every read dropped ("R 0301 80"
// becomes "R 0301"); writes stay whole. For comparing register sequences
// whose read values the test does not pin down.
std::vector<std::string> without_read_values(const std::vector<std::string>& trace);

// "Nops" of both parallel sections, and the Custom adapter wired as the
// Philips adapter is: data out bit 7 of 0x378 (set drives SDA low), data in
// bit 7 of 0x379 (set reads high), clock out bit 3 of 0x37A.
Ini parallel_wiring(const std::string& nops);

// Standard error written while `action` runs (message boxes go there).
std::string capture_stderr(const std::function<void()>& action);

// ---------------------------------------------------------- environment --

// Sets an environment variable for the object's life; restores it after.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

// Everything around one test: a scratch directory (removed afterwards), a
// TARNWICK_SEM_PREFIX unique to this process and object, so the bus
// semaphores are the test's own (removed afterwards), and I2C_INI pointing
// at "I2C.INI" in the scratch directory.
class Environment {
 public:
  Environment();
  ~Environment();
  Environment(const Environment&) = delete;
  Environment& operator=(const Environment&) = delete;

  // Writes the configuration file: `sections`, and unless they hold a
  // section "Port IO" themselves, one whose "Trace" is trace_path(); section
  // "Simulation" gets "EEPROM Write Time = 0" and "Wall Clock = 0" unless
  // the test gives those keys.
  void configure(const Ini& sections) const;

  const std::string& directory() const { return directory_; }
  const std::string& ini_path() const { return ini_path_; }
  const std::string& trace_path() const { return trace_path_; }
  // A path in the scratch directory.
  std::string file(const std::string& name) const;

  // The port trace so far (complete once the library is unloaded).
  std::vector<std::string> trace() const;
  // Empties the trace file. The port layer buffers its lines, so do this
  // only while no library is loaded.
  void clear_trace() const;

  // Removes the bus semaphores "I2CSEMA0" to "I2CSEMA2" of this prefix.
  void remove_semaphores() const;

 private:
  std::string directory_;
  std::string ini_path_;
  std::string trace_path_;
  ScopedEnv ini_variable_;
  ScopedEnv prefix_variable_;
};

// ------------------------------------------------------------- library --

// The ten exports, bound by name.
using Exports = tarnwick_host::Exports;

// Paths of the built libraries.
std::string tarnwick_path();
std::string dlportio_path();

// Whether a shared object of that name (or soname) is in the process now.
bool is_loaded(const std::string& name);

// libtarnwick.so loaded with dlopen(RTLD_NOW | RTLD_LOCAL) and its ten
// exports bound with dlsym. Throws std::runtime_error (with dlerror's text)
// when the library or an export cannot be found.
class Library {
 public:
  explicit Library(const std::string& path = tarnwick_path());
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  const Exports* operator->() const { return &exports_; }
  const Exports& exports() const { return exports_; }
  // Any symbol by name; null when the library does not export it.
  void* symbol(const char* name) const;
  // dlclose; the unload steps run. Safe to call twice.
  void unload();
  bool loaded() const { return handle_ != nullptr; }

 private:
  void* handle_ = nullptr;
  Exports exports_;
};

// -------------------------------------------------------- child process --

// A forked process that runs `body` and exits with its result. Parent and
// child talk in lines through two pipes. The child leaves with _exit: no
// destructors, no test framework, and an exception exits with 125.
class ChildProcess {
 public:
  class Channel {
   public:
    void send(const std::string& line) const;
    // The next line, or nothing at end of stream or after `timeout_ms`
    // (a safety net against a hung peer, not a measurement).
    std::optional<std::string> receive(int timeout_ms = 30000);

   private:
    friend class ChildProcess;
    int in_ = -1;
    int out_ = -1;
    std::string pending_;
  };

  explicit ChildProcess(const std::function<int(Channel&)>& body);
  // Kills the child if it is still running.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void send(const std::string& line) { channel_.send(line); }
  std::optional<std::string> receive(int timeout_ms = 30000) {
    return channel_.receive(timeout_ms);
  }
  // Waits for the child's end: its exit status, or -1 when a signal ended it.
  int wait();

 private:
  int pid_ = -1;
  Channel channel_;
};

}  // namespace harness
