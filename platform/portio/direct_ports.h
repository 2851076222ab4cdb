// Real x86 I/O ports, reached with the in and out instructions after the
// kernel has granted this process the ports the adapters are configured for
// (ioperm). Ports outside that grant are never touched: they read 0xFF and
// writes to them are dropped, as on a bus where nothing answers; the same
// holds for every port when the grant was refused.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

namespace portio {

class DirectPorts {
 public:
  // Asks for `ports`; when the kernel refuses, one line on standard error
  // says why and what to do (`config_path` names the file to change).
  DirectPorts(const std::vector<std::uint16_t>& ports,
              const std::string& config_path);
  ~DirectPorts();
  DirectPorts(const DirectPorts&) = delete;
  DirectPorts& operator=(const DirectPorts&) = delete;

  bool reachable() const { return reachable_; }
  std::uint8_t read(std::uint16_t port);
  void write(std::uint16_t port, std::uint8_t value);

 private:
  // The kernel keeps the I/O permission bitmap per thread, so a thread that
  // existed before the grant asks again on its first access.
  bool granted_in_this_thread();
  bool grant(std::string& failure) const;
  void release() const;

  std::vector<std::uint16_t> ports_;
  std::bitset<0x10000> granted_;
  std::string config_path_;
  std::uint64_t generation_;
  bool reachable_ = false;
};

}  // namespace portio
