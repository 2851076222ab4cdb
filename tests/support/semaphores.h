// Bus semaphores of a test's own: a TARNWICK_SEM_PREFIX nobody else uses,
// so that no test touches a real bus lock or another test's, and the
// semaphores it made are gone afterwards.
#pragma once

#include <string>

namespace test_kit {

// The three bus slots' semaphore names.
inline constexpr const char* kSlotSemaphores[] = {"I2CSEMA0", "I2CSEMA1", "I2CSEMA2"};

// Removes the bus semaphores "I2CSEMA0" to "I2CSEMA2" of `prefix`.
void remove_bus_semaphores(const std::string& prefix);

class SemaphoreNamespace {
 public:
  // The prefix "<tag>-<pid>-<count>-", unique to this object.
  explicit SemaphoreNamespace(const std::string& tag = "twtest");
  // Removes the bus semaphores of the prefix.
  ~SemaphoreNamespace();
  SemaphoreNamespace(const SemaphoreNamespace&) = delete;
  SemaphoreNamespace& operator=(const SemaphoreNamespace&) = delete;

  const std::string& prefix() const { return prefix_; }
  // "TARNWICK_SEM_PREFIX=<prefix>", for a program's environment.
  std::string environment_entry() const { return "TARNWICK_SEM_PREFIX=" + prefix_; }

 private:
  std::string prefix_;
};

// How many processes hold the bus semaphore of `slot` (0 card, 1 parallel
// adapters) under the current TARNWICK_SEM_PREFIX: 0 or 1; -1 when the
// semaphore does not exist.
int slot_holders(int slot);

}  // namespace test_kit
