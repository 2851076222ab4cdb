// Whether this process has rights beyond those of the user who started it.
#include <linux/capability.h>
#include <sys/auxv.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "platform/trust/trust.h"

namespace trust {
namespace {

// CAP_SYS_RAWIO lets a process open I/O ports with ioperm: root's power
// over the hardware without root's user id.
bool holds_raw_io() {
  __user_cap_header_struct header{};
  header.version = _LINUX_CAPABILITY_VERSION_3;
  header.pid = 0;
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  constexpr unsigned bit = CAP_SYS_RAWIO;
  return (data[bit / 32].effective >> (bit % 32)) & 1u;
}

}  // namespace

bool privileged() {
  if (::geteuid() == 0) return true;
  if (::geteuid() != ::getuid() || ::getegid() != ::getgid()) return true;
  // Set by the kernel for set-user-ID, set-group-ID and file-capability
  // programs, also when the ids have been made equal since.
  if (::getauxval(AT_SECURE) != 0) return true;
  return holds_raw_io();
}

const char* environment(const char* name) { return elevated() ? nullptr : std::getenv(name); }

bool elevated() {
  // Root that started its own console chose its own files; anyone else
  // with rights beyond their own must not steer them.
  return ::getuid() != 0 && privileged();
}

}  // namespace trust
