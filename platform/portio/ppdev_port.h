// A real parallel port through the Linux parport device (ppdev), claimed
// for this process alone. Its data, status and control registers appear at
// three consecutive I/O port numbers; every other port reads 0xFF and
// ignores writes. When the device cannot be opened or claimed, one line on
// standard error says why, and every port behaves as unreachable.
#pragma once

#include <cstdint>
#include <string>

namespace portio {

class PpdevPort {
 public:
  PpdevPort(const std::string& device, std::uint16_t base,
            const std::string& config_path);
  ~PpdevPort();
  PpdevPort(const PpdevPort&) = delete;
  PpdevPort& operator=(const PpdevPort&) = delete;

  bool reachable() const { return fd_ >= 0; }
  std::uint8_t read(std::uint16_t port);
  void write(std::uint16_t port, std::uint8_t value);

 private:
  int fd_ = -1;
  std::uint16_t base_;
};

}  // namespace portio
