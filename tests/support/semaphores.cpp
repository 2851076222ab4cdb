#include "tests/support/semaphores.h"

#include <sys/sem.h>
#include <unistd.h>

#include <atomic>

#include "platform/bus_semaphore.h"
#include "tests/support/scoped_env.h"

namespace test_kit {

void remove_bus_semaphores(const std::string& prefix) {
  // The semaphore module puts the prefix of the environment before names.
  const ScopedEnv use_prefix("TARNWICK_SEM_PREFIX", prefix);
  for (const char* name : kSlotSemaphores) bus_semaphore::remove(name);
}

SemaphoreNamespace::SemaphoreNamespace(const std::string& tag) {
  static std::atomic<int> count{0};
  prefix_ = tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(++count) + "-";
}

SemaphoreNamespace::~SemaphoreNamespace() { remove_bus_semaphores(prefix_); }

int slot_holders(int slot) {
  const std::string name = "I2CSEMA" + std::to_string(slot);
  const bus_semaphore::Handle handle = bus_semaphore::open(name.c_str());
  if (!handle.valid()) return -1;
  // The value counts holders: 0 free, 1 held.
  return ::semctl(handle.id, 0, GETVAL);
}

}  // namespace test_kit
