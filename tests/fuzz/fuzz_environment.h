// What every fuzz target that drives the library needs around it: bus
// semaphores of its own, a scratch directory with configuration files for
// the bench, and a way to see whether a bus slot is held.
#pragma once

#include <string>

namespace fuzz_environment {

// Call first thing in LLVMFuzzerInitialize.
//
// The library opens its bus semaphores while it is loaded, before any code
// of the fuzz target runs, so the private names must already be in the
// environment then. When TARNWICK_SEM_PREFIX is not this process's own
// "twfuzz-<pid>-", the process makes a scratch directory (in /dev/shm when
// there is one: the debug records are written, and synced, very often),
// writes `configuration` there as I2C.INI, sets TARNWICK_SEM_PREFIX and
// I2C_INI, and executes itself again with the same arguments (same pid).
// The semaphores and the directory are removed when the process exits.
void set_up(char** argv, const std::string& configuration);

// Writes a configuration file called `name` into the scratch directory;
// returns its path.
std::string write_configuration(const std::string& name, const std::string& text);

// A path in the scratch directory.
std::string scratch_path(const std::string& name);

// Whether the bus semaphore of `slot` (0 card, 1 parallel adapters) is held
// by anybody, which here can only be this process.
bool slot_held(int slot);

// Reports a broken promise of the code under test and ends the process the
// way libFuzzer records as a crash, with the input kept.
[[noreturn]] void fail(const std::string& what);

// The bench wiring of the Custom adapter that mirrors the Philips adapter:
// the keys of its section, without the section line.
extern const std::string custom_wiring;

}  // namespace fuzz_environment
