// Real x86 I/O ports through the in and out instructions. Each port is
// asked of the kernel (ioperm) when this process first uses it, so the
// process holds exactly the ports its adapter reaches, whichever adapter
// and settings that is. When the kernel refuses, one line says why and
// what to do, and from then on every port that was not granted reads 0xFF
// and drops its writes, as on a bus where nothing answers.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include <unistd.h>

#include "platform/format.h"
#include "platform/portio/backends/backend.h"
#include "platform/portio/backends/direct_ports.h"
#include "platform/stderr_line.h"

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define PORTIO_HAS_X86_PORTS 1
#else
#define PORTIO_HAS_X86_PORTS 0
#endif

namespace portio {

namespace {

#if PORTIO_HAS_X86_PORTS
int kernel_ioperm(unsigned long first, unsigned long count, int turn_on) {
  return ::ioperm(first, count, turn_on);
}
std::uint8_t instruction_in(std::uint16_t port) { return ::inb(port); }
void instruction_out(std::uint16_t port, std::uint8_t value) { ::outb(value, port); }
#else
int kernel_ioperm(unsigned long, unsigned long, int) {
  errno = ENOSYS;
  return -1;
}
std::uint8_t instruction_in(std::uint16_t) { return 0xFF; }
void instruction_out(std::uint16_t, std::uint8_t) {}
#endif

}  // namespace

int (*direct_ports::ask_kernel)(unsigned long, unsigned long, int) = kernel_ioperm;
std::uint8_t (*direct_ports::in_byte)(std::uint16_t) = instruction_in;
void (*direct_ports::out_byte)(std::uint16_t, std::uint8_t) = instruction_out;

namespace direct_ports {
namespace {

// Ports granted to the process so far; the kernel keeps its permission
// bitmap per thread, and a thread that already ran when a port was granted
// asks for it again on its own first use.
std::bitset<kPorts> granted;
thread_local std::bitset<kPorts> granted_here;
thread_local std::uint64_t thread_generation = 0;
std::uint64_t generation = 1;
bool refused = false;
bool chipset_told = false;
std::string config_path;

// Ports below 0x100 are the PC's own chipset on every PC: DMA, interrupt,
// timer and keyboard controllers. No I2C adapter sits there, and a write
// there can hang the machine, so they are never asked for.
constexpr std::uint16_t kFirstAdapterPort = 0x100;

// What to do about a refused ioperm, by its cause: rights help only where
// rights were missing; a kernel (or machine) without port instructions
// needs another backend, whoever runs the program. The text runs on into
// "set Backend = sim ...".
std::string remedy(int cause) {
  if ((cause == EPERM || cause == EACCES) && ::geteuid() == 0) {
    return "root here lacks CAP_SYS_RAWIO (a container, or the kernel's lockdown); "
           "give the process that capability, or set ";
  }
  if (cause == EPERM || cause == EACCES) {
    return "run as root (or with CAP_SYS_RAWIO) on an x86 PC, or set ";
  }
  if (cause == ENOSYS) {
    return "this kernel gives no direct port access (not an x86 PC, or built without "
           "ioperm); use Backend = ppdev for a parallel port, or set ";
  }
  return "check the adapter's ports in " + config_path + ", or set ";
}

}  // namespace

void start(const std::string& path) {
  granted.reset();
  refused = false;
  chipset_told = false;
  config_path = path;
  ++generation;
}

bool reachable(std::uint16_t port) {
  if (thread_generation != generation) [[unlikely]] {
    granted_here.reset();
    thread_generation = generation;
  }
  if (granted_here.test(port)) [[likely]] return true;
  if (port < kFirstAdapterPort) {
    if (!chipset_told) {
      chipset_told = true;
      stderr_line("I/O port " + format::hexadecimal(port, 4) +
                  " belongs to the PC's own chipset (ports 0000 to "
                  "00FF), where no I2C adapter sits; the direct backend does not touch them; "
                  "check the adapter's ports in " + config_path +
                  "; reads of them give FF and writes are ignored");
    }
    return false;
  }
  if (refused) return false;
  if (ask_kernel(port, 1, 1) != 0) {
    refused = true;
    const int cause = errno;
    const bool elsewhere = granted.test(port);
    stderr_line("cannot reach I/O port " + format::hexadecimal(port, 4) + " directly" +
                (elsewhere ? " in this thread" : "") + " (ioperm: " + std::strerror(cause) +
                "); " + remedy(cause) + "Backend = sim in section \"Port IO\" of " +
                config_path + "; until then port reads give FF and writes are ignored");
    return false;
  }
  granted.set(port);
  granted_here.set(port);
  return true;
}

void finish() {
  if (granted_here.any() && thread_generation == generation) {
    for (std::size_t port = 0; port < kPorts; ++port) {
      if (granted_here.test(port)) ask_kernel(port, 1, 0);
    }
  }
  granted_here.reset();
  granted.reset();
  ++generation;
}

}  // namespace direct_ports

namespace direct_backend {

void open(const PortSettings& settings, void (*)(const char*), std::string& banner) {
  direct_ports::start(settings.config_path);
  banner = "direct port access";
}

std::uint8_t read(std::uint16_t port) {
  return direct_ports::reachable(port) ? direct_ports::in_byte(port) : 0xFF;
}

void write(std::uint16_t port, std::uint8_t value) {
  if (direct_ports::reachable(port)) direct_ports::out_byte(port, value);
}

void close() { direct_ports::finish(); }

}  // namespace direct_backend
}  // namespace portio
