// A real parallel port through the Linux parport device (ppdev), claimed
// for this process alone. Its data, status and control registers appear at
// three consecutive I/O port numbers; every other port reads 0xFF and
// ignores writes. When the device cannot be opened or claimed, one line on
// standard error says why, and every port behaves as unreachable.
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/format.h"
#include "platform/portio/backends/backend.h"
#include "platform/stderr_line.h"

namespace portio::ppdev_backend {
namespace {

enum : unsigned { kData = 0, kStatus = 1, kControl = 2, kRegisters = 3 };

// Control bit 5 turns a bidirectional port's data lines into inputs. The
// kernel's parport_pc driver keeps it out of PPRCONTROL (which gives only
// its copy of the four output bits) and out of PPWCONTROL (where a set bit
// 5 turns the lines to input for good and a clear one never turns them
// back), so a read-modify-write of the register, as every line write of the
// Custom adapter is, would clear it. It is the data direction: set here
// with PPDATADIR and read back from what was set, as on the port itself.
constexpr std::uint8_t kDirection = 0x20;

int fd = -1;
std::uint16_t base = 0;
bool data_reversed = false;

}  // namespace

void open(const PortSettings& settings, void (*)(const char*), std::string& banner) {
  base = settings.parport_base;
  const std::string& device = settings.parport_device;
  const std::string advice =
      "; check key Parport in section \"Port IO\" of " + settings.config_path +
      " (or set Backend = sim there); until then port reads give FF and "
      "writes are ignored";
  const int opened = ::open(device.c_str(), O_RDWR | O_CLOEXEC);
  if (opened < 0) {
    stderr_line("cannot open parallel port " + device + " (" + std::strerror(errno) + ")" +
                advice);
    return;
  }
  // Exclusive: no other parport driver (lp, a second process) may slip in
  // between our accesses and move the lines under the adapter.
  if (::ioctl(opened, PPEXCL) != 0 || ::ioctl(opened, PPCLAIM) != 0) {
    // The kernel refuses an exclusive claim with ENXIO (or EBUSY) while
    // another program or a kernel driver such as lp has the port: the key
    // is right then, and the person must hear who is in the way.
    const int error = errno;
    const bool taken = error == ENXIO || error == EBUSY;
    stderr_line("cannot claim parallel port " + device + " for this process alone (" +
                std::strerror(error) + ")" +
                (taken ? "; another program or a kernel driver (such as lp) has it; end that "
                         "program (or unload lp) or set Backend = sim in section \"Port IO\" "
                         "of " + settings.config_path +
                         "; until then port reads give FF and writes are ignored"
                       : advice));
    ::close(opened);
    return;
  }
  fd = opened;
  // A claim restores the port's forward direction; say so to the driver
  // too, so that the direction kept here is the port's.
  int forward = 0;
  ::ioctl(fd, PPDATADIR, &forward);
  data_reversed = false;
  banner = "parallel port " + device + " at ports " + format::hexadecimal(base, 4) + " to " +
           format::hexadecimal((base + 2u) & 0xFFFFu, 4);
}

std::uint8_t read(std::uint16_t port) {
  const unsigned reg = static_cast<std::uint16_t>(port - base);
  if (fd < 0 || reg >= kRegisters) return 0xFF;
  unsigned char value = 0xFF;
  const unsigned long request =
      reg == kData ? PPRDATA : reg == kStatus ? PPRSTATUS : PPRCONTROL;
  if (::ioctl(fd, request, &value) != 0) return 0xFF;
  if (reg == kControl) {
    value = static_cast<unsigned char>((value & ~kDirection) | (data_reversed ? kDirection : 0));
  }
  return value;
}

void write(std::uint16_t port, std::uint8_t value) {
  const unsigned reg = static_cast<std::uint16_t>(port - base);
  if (fd < 0 || reg >= kRegisters) return;
  unsigned char byte = value;
  if (reg == kData) {
    ::ioctl(fd, PPWDATA, &byte);
  } else if (reg == kControl) {
    const bool reverse = (byte & kDirection) != 0;
    if (reverse != data_reversed) {
      int direction = reverse ? 1 : 0;
      if (::ioctl(fd, PPDATADIR, &direction) == 0) data_reversed = reverse;
    }
    byte = static_cast<unsigned char>(byte & ~kDirection);
    ::ioctl(fd, PPWCONTROL, &byte);
  }
  // The status register is read-only on every parallel port.
}

void close() {
  if (fd < 0) return;
  // The next user of the port finds its data lines driven again.
  if (data_reversed) {
    int forward = 0;
    ::ioctl(fd, PPDATADIR, &forward);
  }
  ::ioctl(fd, PPRELEASE);
  ::close(fd);
  fd = -1;
  data_reversed = false;
}

}  // namespace portio::ppdev_backend
