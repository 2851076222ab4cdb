#include "benchmarks/host.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/sem.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "platform/bus_semaphore.h"
#include "platform/format.h"

#ifndef TARNWICK_LIBRARY_PATH
#define TARNWICK_LIBRARY_PATH "libtarnwick.so"
#endif

namespace bench {
namespace {

constexpr std::array<const char*, 3> kSemaphoreNames{"I2CSEMA0", "I2CSEMA1", "I2CSEMA2"};
// Kept ready for the signal handler, which may only make system calls.
std::array<int, 8> semaphore_keys{};
std::size_t semaphore_key_count = 0;
char scratch_path[512] = {};

void remove_semaphores() {
  for (const char* name : kSemaphoreNames) bus_semaphore::remove(name);
}

// Removes every file of the scratch directory and the directory itself. The
// files are not only the benchmark's own: a configuration write cut short
// leaves its temporary file beside I2C.INI. Only system calls here, as a
// signal handler may make: the directory is read with getdents64 itself.
void empty_scratch_directory() {
  const int directory = open(scratch_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory >= 0) {
    alignas(8) char entries[4096];
    for (;;) {
      const long length = syscall(SYS_getdents64, directory, entries, sizeof entries);
      if (length <= 0) break;
      for (long offset = 0; offset < length;) {
        const auto* entry = reinterpret_cast<const struct dirent64*>(entries + offset);
        const char* name = entry->d_name;
        const bool dots = name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
        if (!dots) unlinkat(directory, name, 0);
        offset += entry->d_reclen;
      }
    }
    close(directory);
  }
  rmdir(scratch_path);
}

void end_on_signal(int signal_number) {
  for (std::size_t i = 0; i < semaphore_key_count; ++i) {
    const int id = semget(semaphore_keys[i], 1, 0);
    if (id >= 0) semctl(id, 0, IPC_RMID);
  }
  if (scratch_path[0] != '\0') empty_scratch_directory();
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

}  // namespace

void Host::remove_on_signal(const std::string& semaphore_name) {
  if (semaphore_key_count < semaphore_keys.size()) {
    semaphore_keys[semaphore_key_count++] = bus_semaphore::key_for(semaphore_name.c_str());
  }
}

Host::Host() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                        "/tarnwick-bench.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a scratch directory " + pattern);
  }
  directory_ = pattern;
  setenv("I2C_INI", file("I2C.INI").c_str(), 1);
  const std::string prefix = "tarnwick-bench." + std::to_string(getpid()) + ".";
  setenv("TARNWICK_SEM_PREFIX", prefix.c_str(), 1);

  for (const char* name : kSemaphoreNames) remove_on_signal(name);
  if (directory_.size() < sizeof scratch_path) {
    directory_.copy(scratch_path, directory_.size());
    scratch_path[directory_.size()] = '\0';
  }
  struct sigaction action {};
  action.sa_handler = end_on_signal;
  sigemptyset(&action.sa_mask);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(signal_number, &action, nullptr);
  }
}

Host::~Host() {
  if (handle_ != nullptr) {
    // The port backend goes first, so that the bench is not left running
    // over a library that has left the process.
    dlclose(handle_);
  }
  remove_semaphores();
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
  scratch_path[0] = '\0';
}

void Host::configure(const Settings& settings, const std::string& port_io,
                     const std::string& custom_lines, const std::string& simulation) const {
  const std::string path = file("I2C.INI");
  std::ofstream out(path, std::ios::trunc);
  const std::string nops = format::hexadecimal(settings.nops);
  out << "[I2C Device]\nDefault = " << settings.default_interface << "\n\n"
      << "[I2C Card]\nBase = 300\nNops = " << nops << "\n\n"
      << "[I2C para]\nBase = 378\nNops = " << nops << "\n\n"
      << "[I2C para Gen]\nBase = 378\nNops = " << nops << "\n";
  if (custom_lines.empty()) {
    out << "SDA IN Port = 379\nSDA IN Bit = 80\nSDA IN Pol = 1\n"
        << "SDA OUT Port = 378\nSDA OUT Bit = 80\nSDA OUT Pol = 1\n"
        << "SCL IN Port = 37A\nSCL IN Bit = 8\nSCL IN Pol = 0\n"
        << "SCL OUT Port = 37A\nSCL OUT Bit = 8\nSCL OUT Pol = 0\n";
  } else {
    out << custom_lines;
  }
  out << "\n[Port IO]\n" << (port_io.empty() ? "Backend = sim\n" : port_io);
  if (!settings.trace.empty()) out << "Trace = " << settings.trace << "\n";
  if (!settings.default_bench) {
    out << "[Simulation]\nWall Clock = 0\nEEPROM Write Time = 0\n";
  }
  if (!simulation.empty()) out << (settings.default_bench ? "[Simulation]\n" : "") << simulation;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

namespace {

sigset_t end_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, signal_number);
  return set;
}

}  // namespace

EndSignalsHeld::EndSignalsHeld() {
  const sigset_t held = end_signals();
  sigprocmask(SIG_BLOCK, &held, &previous_);
}

EndSignalsHeld::~EndSignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

void EndSignalsHeld::restore_in_child() const { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

void Host::restart_ports() {
  if (handle_ == nullptr) return;
  dlclose(handle_);
  handle_ = nullptr;
  exports_ = Exports{};
  ports_ = PortCalls{};
}

const Host::PortCalls& Host::ports() {
  static_cast<void>(library());
  if (ports_.read != nullptr) return ports_;
  void* layer = dlopen("libdlportio.so.1", RTLD_NOW | RTLD_NOLOAD);
  if (layer == nullptr) throw std::runtime_error("the library loaded no port layer");
  ports_.read = reinterpret_cast<unsigned char (*)(unsigned long)>(
      dlsym(layer, "DlPortReadPortUchar"));
  ports_.write = reinterpret_cast<void (*)(unsigned long, unsigned char)>(
      dlsym(layer, "DlPortWritePortUchar"));
  // The library holds the port layer for as long as it is loaded.
  dlclose(layer);
  if (ports_.read == nullptr || ports_.write == nullptr) {
    ports_ = PortCalls{};
    throw std::runtime_error("the port layer lacks its port calls");
  }
  return ports_;
}

const Exports& Host::library() {
  if (handle_ != nullptr) return exports_;
  void* handle = dlopen(TARNWICK_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) throw std::runtime_error(std::string("cannot load ") + dlerror());
  try {
    exports_ = tarnwick_host::bind_exports(handle);
  } catch (...) {
    dlclose(handle);
    throw;
  }
  handle_ = handle;
  return exports_;
}

void* Host::symbol(const char* name) {
  static_cast<void>(library());
  return dlsym(handle_, name);
}

void Host::use(Adapter adapter) {
  const Exports& lib = library();
  lib.I2C_SelectInterface(interface_number(adapter));
  lib.I2C_Init();
}

}  // namespace bench
