#include "tests/support/tarnwick_harness.h"

#include <dlfcn.h>

#include <stdexcept>

#include "tests/support/files.h"

namespace harness {

std::vector<std::string> without_read_values(const std::vector<std::string>& trace) {
  std::vector<std::string> result;
  result.reserve(trace.size());
  for (const auto& line : trace) {
    if (line.size() > 6 && line[0] == 'R') {
      result.push_back(line.substr(0, 6));  // "R 0301"
    } else {
      result.push_back(line);
    }
  }
  return result;
}

Environment::Environment()
    : scratch_("tarnwick-test-"),
      ini_path_(scratch_.file("I2C.INI")),
      trace_path_(scratch_.file("ports.trace")),
      ini_variable_("I2C_INI", ini_path_),
      prefix_variable_("TARNWICK_SEM_PREFIX", semaphores_.prefix()) {}

void Environment::configure(const test_kit::Ini& sections) const {
  test_kit::Ini all = sections;
  bool has_port_io = false;
  for (const auto& section : sections) {
    has_port_io = has_port_io || section.name == "Port IO";
  }
  if (!has_port_io) {
    all.push_back({"Port IO", {{"Trace", trace_path_}}});
  }
  // Tests write and read back at once, and compare traces and waveforms:
  // no EEPROM write cycle and bench time from the port accesses alone,
  // unless the test sets the keys itself.
  const test_kit::Keys kTestBench{{"EEPROM Write Time", "0"}, {"Wall Clock", "0"}};
  test_kit::Section* simulation = nullptr;
  for (auto& section : all) {
    if (section.name == "Simulation") simulation = &section;
  }
  if (simulation == nullptr) {
    all.push_back({"Simulation", {}});
    simulation = &all.back();
  }
  for (const auto& [key, value] : kTestBench) {
    bool given = false;
    for (const auto& entry : simulation->keys) given = given || entry.first == key;
    if (!given) simulation->keys.emplace_back(key, value);
  }
  test_kit::write_ini(ini_path_, all);
}

std::vector<std::string> Environment::trace() const { return test_kit::read_lines(trace_path_); }

void Environment::clear_trace() const { test_kit::write_file(trace_path_, ""); }

// ------------------------------------------------------------- library --

std::string tarnwick_path() { return TARNWICK_LIBRARY_PATH; }
std::string dlportio_path() { return DLPORTIO_LIBRARY_PATH; }

bool is_loaded(const std::string& name) {
  void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) {
    return false;
  }
  dlclose(handle);
  return true;
}

Library::Library(const std::string& path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* error = dlerror();
    throw std::runtime_error("cannot load " + path + ": " + (error != nullptr ? error : "?"));
  }
  try {
    exports_ = tarnwick_host::bind_exports(handle_);
  } catch (...) {
    unload();
    throw;
  }
}

Library::~Library() { unload(); }

void* Library::symbol(const char* name) const {
  return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

void Library::unload() {
  if (handle_ != nullptr) {
    dlclose(handle_);
    handle_ = nullptr;
    exports_ = Exports{};
  }
}

}  // namespace harness
