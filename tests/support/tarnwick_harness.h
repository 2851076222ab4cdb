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
// A test_kit::Child runs a piece of the test in a forked process (a second
// host of the library: cross-process exclusion, a load with other
// settings); it inherits the environment, so the same semaphores and
// configuration file (set I2C_INI anew inside the child for a bench and
// trace of its own).
#pragma once

#include <string>
#include <vector>

#include "tarnwick.h"
#include "tests/support/capture.h"
#include "tests/support/child.h"
#include "tests/support/ini.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scratch.h"
#include "tests/support/semaphores.h"
#include "utilities/tarnwick_exports.h"

namespace harness {

// Port trace lines with the value of every read dropped ("R 0301 80"
// becomes "R 0301"); writes stay whole. For comparing register sequences
// whose read values the test does not pin down.
std::vector<std::string> without_read_values(const std::vector<std::string>& trace);

// Everything around one test: a scratch folder, bus semaphores of its own
// (TARNWICK_SEM_PREFIX set for this process and the children it forks),
// and I2C_INI pointing at "I2C.INI" in the folder; all removed or restored
// afterwards.
class Environment {
 public:
  Environment();

  // Writes the configuration file: `sections`, and unless they hold a
  // section "Port IO" themselves, one whose "Trace" is trace_path(); section
  // "Simulation" gets "EEPROM Write Time = 0" and "Wall Clock = 0" unless
  // the test gives those keys.
  void configure(const test_kit::Ini& sections) const;

  const std::string& directory() const { return scratch_.path(); }
  const std::string& ini_path() const { return ini_path_; }
  const std::string& trace_path() const { return trace_path_; }
  // A path in the scratch folder.
  std::string file(const std::string& name) const { return scratch_.file(name); }

  // The port trace so far (complete once the library is unloaded).
  std::vector<std::string> trace() const;
  // Empties the trace file. The port layer buffers its lines, so do this
  // only while no library is loaded.
  void clear_trace() const;

 private:
  test_kit::ScratchFolder scratch_;
  test_kit::SemaphoreNamespace semaphores_;
  std::string ini_path_;
  std::string trace_path_;
  test_kit::ScopedEnv ini_variable_;
  test_kit::ScopedEnv prefix_variable_;
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

}  // namespace harness
