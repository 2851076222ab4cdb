// The simulated PC: a PCF8584 card and a parallel port at their I/O ports,
// both masters of one I2C bus with the configured slave devices. Ports that
// nothing decodes read 0xFF and ignore writes, as a floating ISA bus does.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "sim/bus/timing_check.h"
#include "sim/devices/device_list.h"

namespace sim {

class Bus;
class Pcf8584Model;
class ParportModel;

// Section "Simulation" of the configuration file.
struct BenchConfig {
  std::string devices{kDefaultDeviceList};
  std::string large_eeproms;  // "Large EEPROMs": 24C32 to 24C512 at A8, AA, AC, AE
  std::string eeprom_file;   // "EEPROM File": contents of the first 24C02
  std::string waveform;      // "Waveform": VCD file of SDA/SCL
  std::uint16_t card_base = 0x300;     // "Card Base" (hex)
  std::uint16_t parport_base = 0x378;  // "Parport Base" (hex)
  bool bus_busy = false;               // "Bus Busy"
  bool bus_error = false;              // "Bus Error"
  int pin_polls = 0;                   // "PIN Polls"
  std::uint8_t adapter_status = 0x20;  // "Adapter Status" (hex), bits 4 to 6
  bool sda_stuck = false;              // "SDA Stuck"
  int nack_byte = 0;                   // "NACK Byte": data byte every slave refuses
  int access_time_us = 1;              // "Access Time": bench us per port access
  bool wall_clock = true;              // "Wall Clock": pauses count as wall time
  int eeprom_write_us = 5000;          // "EEPROM Write Time": write cycle in us
  int stretch_us = 50;                 // "Stretch Time": an MCU slave's clock stretch in us
  int stranded_clocks = 0;             // "Stranded Slave": clocks until it lets SDA go
  TimingMode timing_check = TimingMode::off;  // "Timing Check": off, standard or fast
  bool timing_strict = false;          // "Timing Strict": a violation fails the transfer

  // Reads the section from the configuration file; missing keys keep the
  // defaults above. Problems are described through `warn`, one line each.
  static BenchConfig load(const std::function<void(std::string_view)>& warn);
};

class Bench {
 public:
  // `warn` receives one line per configuration problem (bad device entry);
  // `violation` receives the bus's protocol-violation lines.
  // Either may be empty. With the timing checker on, every timing violation
  // goes to `violation` too, and `warn` receives the first one of each
  // parameter and, when the bench powers down, one line that counts them
  // all: at most nine lines however many there were.
  Bench(const BenchConfig& config,
        std::function<void(std::string_view)> warn,
        std::function<void(std::string_view)> violation);
  // Closes the waveform; the EEPROM file is up to date at every STOP. The
  // timing checker's count goes to `warn`.
  ~Bench();
  Bench(const Bench&) = delete;
  Bench& operator=(const Bench&) = delete;

  // One port access each, and bench time goes on by one access. The card decodes
  // card base and card base + 1, the parallel port parport base to
  // parport base + 2; every other port reads 0xFF and ignores writes.
  std::uint8_t read(std::uint16_t port);
  void write(std::uint16_t port, std::uint8_t value);

  Bus& bus();

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
  // The per-access path uses these, not the parts behind the pointer.
  Bus* bus_;
  Pcf8584Model* card_;
  ParportModel* parport_;
  std::uint16_t card_base_;
  std::uint16_t parport_base_;
};

}  // namespace sim
