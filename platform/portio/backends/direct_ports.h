// Which I/O ports the kernel has let this process reach directly: each is
// asked for on its first use, so the direct backend holds exactly the ports
// the adapter in use reaches. The kernel's grant and the CPU's port
// instructions are reached through pointers so that tests can stand in for
// both on a machine without ports.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>

namespace portio::direct_ports {

inline constexpr std::size_t kPorts = 0x10000;

// ioperm, inb and outb; tests replace them.
extern int (*ask_kernel)(unsigned long first, unsigned long count, int turn_on);
extern std::uint8_t (*in_byte)(std::uint16_t port);
extern void (*out_byte)(std::uint16_t port, std::uint8_t value);

// Forgets every grant; `config_path` is named in the refusal line.
void start(const std::string& config_path);
// True when `port` may be used by this thread, asking for it first if
// needed. The first refusal is told on standard error, once; from then on
// no port is asked for.
bool reachable(std::uint16_t port);
// Gives back the ports this thread was granted.
void finish();

}  // namespace portio::direct_ports
