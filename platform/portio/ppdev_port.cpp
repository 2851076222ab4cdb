#include "platform/portio/ppdev_port.h"

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/portio/stderr_line.h"

namespace portio {

namespace {

enum : unsigned { kData = 0, kStatus = 1, kControl = 2, kRegisters = 3 };

}  // namespace

PpdevPort::PpdevPort(const std::string& device, std::uint16_t base,
                     const std::string& config_path)
    : base_(base) {
  const std::string advice =
      "; check key Parport in section \"Port IO\" of " + config_path +
      " (or set Backend = sim there); until then port reads give FF and "
      "writes are ignored";
  const int fd = ::open(device.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    stderr_line("cannot open parallel port " + device + " (" +
                std::strerror(errno) + ")" + advice);
    return;
  }
  // Exclusive: no other parport driver (lp, a second process) may slip in
  // between our accesses and move the lines under the adapter.
  if (::ioctl(fd, PPEXCL) != 0 || ::ioctl(fd, PPCLAIM) != 0) {
    stderr_line("cannot claim parallel port " + device + " for this process "
                "alone (" + std::strerror(errno) + ")" + advice);
    ::close(fd);
    return;
  }
  fd_ = fd;
}

PpdevPort::~PpdevPort() {
  if (fd_ < 0) return;
  ::ioctl(fd_, PPRELEASE);
  ::close(fd_);
}

std::uint8_t PpdevPort::read(std::uint16_t port) {
  const unsigned reg = static_cast<std::uint16_t>(port - base_);
  if (fd_ < 0 || reg >= kRegisters) return 0xFF;
  unsigned char value = 0xFF;
  const unsigned long request =
      reg == kData ? PPRDATA : reg == kStatus ? PPRSTATUS : PPRCONTROL;
  if (::ioctl(fd_, request, &value) != 0) return 0xFF;
  return value;
}

void PpdevPort::write(std::uint16_t port, std::uint8_t value) {
  const unsigned reg = static_cast<std::uint16_t>(port - base_);
  if (fd_ < 0 || reg >= kRegisters) return;
  unsigned char byte = value;
  if (reg == kData) {
    ::ioctl(fd_, PPWDATA, &byte);
  } else if (reg == kControl) {
    ::ioctl(fd_, PPWCONTROL, &byte);
  }
  // The status register is read-only on every parallel port.
}

}  // namespace portio
