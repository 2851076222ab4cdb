#include "platform/portio/direct_ports.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/portio/stderr_line.h"

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define PORTIO_HAS_X86_PORTS 1
#else
#define PORTIO_HAS_X86_PORTS 0
#endif

namespace portio {

namespace {

std::atomic<std::uint64_t> next_generation{1};
// Which port layer this thread last asked the kernel for, and the answer.
thread_local std::uint64_t thread_grant_generation = 0;
thread_local bool thread_granted = false;

std::string hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", value & 0xFFFFu);
  return text;
}

// Calls `each(first, count)` for every run of consecutive ports.
template <typename Each>
bool for_each_run(const std::vector<std::uint16_t>& sorted, Each each) {
  std::size_t i = 0;
  while (i < sorted.size()) {
    std::size_t end = i + 1;
    while (end < sorted.size() && sorted[end] == sorted[end - 1] + 1) ++end;
    if (!each(sorted[i], static_cast<unsigned>(end - i))) return false;
    i = end;
  }
  return true;
}

}  // namespace

DirectPorts::DirectPorts(const std::vector<std::uint16_t>& ports,
                         const std::string& config_path)
    : ports_(ports),
      config_path_(config_path),
      generation_(next_generation.fetch_add(1)) {
  std::string failure;
  if (grant(failure)) {
    for (const std::uint16_t port : ports_) granted_.set(port);
    thread_grant_generation = generation_;
    thread_granted = true;
    reachable_ = true;
    return;
  }
  stderr_line(failure + "; run as root (or with CAP_SYS_RAWIO) on an x86 PC, "
              "or set Backend = sim in section \"Port IO\" of " +
              config_path_ + "; until then port reads give FF and writes "
              "are ignored");
}

DirectPorts::~DirectPorts() {
  if (thread_grant_generation == generation_ && thread_granted) release();
}

bool DirectPorts::grant(std::string& failure) const {
#if PORTIO_HAS_X86_PORTS
  return for_each_run(ports_, [&](std::uint16_t first, unsigned count) {
    if (::ioperm(first, count, 1) == 0) return true;
    failure = "cannot reach I/O ports " + hex4(first) + " to " +
              hex4(first + count - 1u) + " directly (ioperm: " +
              std::strerror(errno) + ")";
    return false;
  });
#else
  failure = "cannot reach I/O ports directly: this machine is not an x86 PC";
  return false;
#endif
}

void DirectPorts::release() const {
#if PORTIO_HAS_X86_PORTS
  for_each_run(ports_, [](std::uint16_t first, unsigned count) {
    ::ioperm(first, count, 0);
    return true;
  });
#endif
}

bool DirectPorts::granted_in_this_thread() {
  if (thread_grant_generation == generation_) [[likely]] {
    return thread_granted;
  }
  thread_grant_generation = generation_;
  std::string failure;
  thread_granted = grant(failure);
  if (!thread_granted) {
    stderr_line(failure + " in this thread; its port reads give FF and "
                "writes are ignored");
  }
  return thread_granted;
}

std::uint8_t DirectPorts::read(std::uint16_t port) {
  if (!reachable_ || !granted_.test(port) || !granted_in_this_thread()) {
    return 0xFF;
  }
#if PORTIO_HAS_X86_PORTS
  return ::inb(port);
#else
  return 0xFF;
#endif
}

void DirectPorts::write(std::uint16_t port, std::uint8_t value) {
  if (!reachable_ || !granted_.test(port) || !granted_in_this_thread()) return;
#if PORTIO_HAS_X86_PORTS
  ::outb(value, port);
#else
  (void)value;
#endif
}

}  // namespace portio
