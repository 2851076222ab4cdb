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

#include "platform/portio/backends/backend.h"
#include "platform/portio/stderr_line.h"
#include "platform/text/format.h"

namespace portio::ppdev_backend {
namespace {

enum : unsigned { kData = 0, kStatus = 1, kControl = 2, kRegisters = 3 };

int fd = -1;
std::uint16_t base = 0;

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
    stderr_line("cannot claim parallel port " + device + " for this process alone (" +
                std::strerror(errno) + ")" + advice);
    ::close(opened);
    return;
  }
  fd = opened;
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
  return value;
}

void write(std::uint16_t port, std::uint8_t value) {
  const unsigned reg = static_cast<std::uint16_t>(port - base);
  if (fd < 0 || reg >= kRegisters) return;
  unsigned char byte = value;
  if (reg == kData) {
    ::ioctl(fd, PPWDATA, &byte);
  } else if (reg == kControl) {
    ::ioctl(fd, PPWCONTROL, &byte);
  }
  // The status register is read-only on every parallel port.
}

void close() {
  if (fd < 0) return;
  ::ioctl(fd, PPRELEASE);
  ::close(fd);
  fd = -1;
}

}  // namespace portio::ppdev_backend
