#include "tests/hardening/port_access_stop.h"

#include <dlfcn.h>
#include <signal.h>

#include <atomic>
#include <cstdlib>

#include "dlportio.h"

namespace port_access_stop {
namespace {

using ReadPort = unsigned char (*)(unsigned long);
using WritePort = void (*)(unsigned long, unsigned char);

std::atomic<long> accesses_left{0};
std::atomic<long> counted{0};

// The real calls, in the port layer that libtarnwick.so brought in; looked
// up at each access, since the library and its port layer may have been
// unloaded and loaded again elsewhere since the last one.
template <typename Function>
Function real(const char* name) {
  void* port_layer = dlopen("libdlportio.so.1", RTLD_NOW | RTLD_NOLOAD);
  if (port_layer == nullptr) std::abort();
  void* function = dlsym(port_layer, name);
  dlclose(port_layer);
  if (function == nullptr) std::abort();
  return reinterpret_cast<Function>(function);
}

void count_access() {
  ++counted;
  if (accesses_left.load() > 0 && --accesses_left == 0) raise(SIGSTOP);
}

}  // namespace

void stop_before_access(long count) {
  counted = 0;
  accesses_left = count;
}

long accesses_counted() { return counted.load(); }

}  // namespace port_access_stop

extern "C" __attribute__((visibility("default"))) unsigned char DlPortReadPortUchar(
    unsigned long port) {
  port_access_stop::count_access();
  return port_access_stop::real<port_access_stop::ReadPort>("DlPortReadPortUchar")(port);
}

extern "C" __attribute__((visibility("default"))) void DlPortWritePortUchar(unsigned long port,
                                                                            unsigned char value) {
  port_access_stop::count_access();
  port_access_stop::real<port_access_stop::WritePort>("DlPortWritePortUchar")(port, value);
}
