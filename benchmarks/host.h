// The benchmark as a host of libtarnwick.so on the simulated bench: a
// scratch directory with its own I2C.INI (I2C_INI points at it), bus
// semaphores of its own (TARNWICK_SEM_PREFIX), so that a bus in use on the
// machine is never touched, and the library loaded with dlopen once both
// are in place. Everything is removed again when the Host goes, or when
// the program is ended by SIGINT, SIGTERM or SIGHUP.
#pragma once

#include <signal.h>

#include <cstdint>
#include <string>

#include "benchmarks/adapter.h"
#include "tarnwick.h"
#include "utilities/tarnwick_exports.h"

namespace bench {

// The ten exports, bound by name.
using Exports = tarnwick_host::Exports;

// What I2C.INI says. The Custom adapter is wired like the Philips adapter:
// SDA out on bit 7 of the data port (a set bit pulls the line low), SDA in
// on bit 7 of the status port, SCL on bit 3 of the control port.
struct Settings {
  std::uint16_t nops = 0x100;  // of all three adapters' sections
  std::int16_t default_interface = 1;
  std::string trace;           // port trace file; empty for none
  // False: bench time is the port accesses alone ("Wall Clock = 0") and an
  // EEPROM write takes no time, so counts are the same on every run. True:
  // the bench as a user gets it, with its own defaults for both.
  bool default_bench = false;
};

class Host {
 public:
  // Throws std::runtime_error when the scratch directory cannot be made.
  Host();
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Writes I2C.INI. The port layer reads its own section only when its
  // backend starts: call restart_ports() for a new trace setting.
  void configure(const Settings& settings) const { configure(settings, "", ""); }
  // The same with `port_io` (keys of section "Port IO") in place of
  // "Backend = sim", and `custom_lines` (the Custom adapter's line keys) in
  // place of the Philips-like wiring; empty: those.
  // `simulation`: more lines of section "Simulation" ("Timing Check = fast\n").
  void configure(const Settings& settings, const std::string& port_io,
                 const std::string& custom_lines, const std::string& simulation = "") const;
  // Unloads the library and with it the port layer, whose backend finishes
  // (its trace reaches the file); the next library() loads both afresh and
  // the next access starts the bench from power-up.
  void restart_ports();

  // Loads the library at the first call. Throws std::runtime_error when it
  // or one of its exports cannot be found.
  const Exports& library();

  // The two port calls of the port layer that the library loaded (loading
  // the library first), for driving ports as the library does.
  struct PortCalls {
    unsigned char (*read)(unsigned long port) = nullptr;
    void (*write)(unsigned long port, unsigned char value) = nullptr;
  };
  const PortCalls& ports();

  // An export beyond the ten (the transfer interface), loading the library
  // first; nullptr when it has none of that name.
  void* symbol(const char* name);

  // Selects the adapter and runs its init operation.
  void use(Adapter adapter);

  // A semaphore (name without the prefix) that a measurement makes: it is
  // removed too when a signal ends the program.
  static void remove_on_signal(const std::string& semaphore_name);

  const std::string& directory() const { return directory_; }
  std::string file(const std::string& name) const { return directory_ + "/" + name; }

 private:
  std::string directory_;
  void* handle_ = nullptr;
  Exports exports_;
  PortCalls ports_;
};

// While one lives, SIGINT, SIGTERM and SIGHUP wait: around child processes
// that use the benchmark's semaphores, which must not outlive the cleanup
// (a waiter re-creates a semaphore removed under it). A signal that came
// meanwhile ends the program when the last one goes.
class EndSignalsHeld {
 public:
  EndSignalsHeld();
  ~EndSignalsHeld();
  EndSignalsHeld(const EndSignalsHeld&) = delete;
  EndSignalsHeld& operator=(const EndSignalsHeld&) = delete;

  // For a forked child about to exec another program: the mask it had.
  void restore_in_child() const;

 private:
  sigset_t previous_;
};

}  // namespace bench
