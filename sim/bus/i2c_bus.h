// The bench's I2C bus: the wires that the simulated masters and slaves share.
//
// It has two faces over one set of slave devices:
//  - the line face, for masters that switch SDA and SCL themselves (the
//    parallel port): open-drain, wired-AND with the slaves; the bus finds
//    START, repeated START and STOP in the edges, samples bits on SCL rising,
//    and lets the addressed slave pull SDA after SCL falls;
//  - the byte face, for controller models that make the conditions and move
//    whole bytes themselves (the PCF8584 card).
// Both faces reach the same devices, so a byte written through one can be
// read through the other.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

class Waveform;

// A slave device. The bus turns whatever the masters do into these events.
class Device {
 public:
  virtual ~Device() = default;
  // The 8-bit write address the device answers to (bit 0 clear).
  virtual std::uint8_t address() const = 0;
  // A START or repeated START appeared on the bus (told to every device).
  virtual void on_start() {}
  // The device was addressed; `read` is the direction bit of the address.
  virtual void on_selected(bool /*read*/) {}
  // The master wrote a data byte to the device; true acknowledges it.
  virtual bool on_write(std::uint8_t byte) = 0;
  // The master reads: the device hands over its next byte.
  virtual std::uint8_t on_read() = 0;
  // A STOP appeared on the bus (told to every device).
  virtual void on_stop() {}
};

class Bus {
 public:
  Bus();
  ~Bus();
  Bus(const Bus&) = delete;
  Bus& operator=(const Bus&) = delete;

  void attach(std::unique_ptr<Device> device);
  // The device answering to this 8-bit address (bit 0 ignored), or null.
  Device* device_at(std::uint8_t address) const;

  // ---- byte face ----
  // START, or repeated START when a transfer is already open.
  void start();
  // One byte from the master; true when a slave acknowledged it.
  bool write(std::uint8_t byte);
  // One byte to the master, which answers it with ACK (true) or NACK.
  std::uint8_t read(bool ack);
  void stop();

  // ---- line face ----
  // Registers a master that drives the lines; both released at first.
  int add_line_master();
  // What master `id` does with the lines: true releases, false pulls low.
  void drive(int id, bool sda, bool scl);
  // The levels on the bus now: every master, slave and fault wired-AND.
  bool sda() const;
  bool scl() const;

  // A fault that holds SDA low whatever anyone drives.
  void hold_sda_low(bool held);

  // ---- observation ----
  // One port access: the bench's clock advances by one time step.
  void tick();
  std::uint64_t time() const;
  // Draws the SDA/SCL levels into a VCD file from now on.
  void record_waveform(std::unique_ptr<Waveform> waveform);
  // Receives one line per protocol violation, each beginning with "! ".
  void on_violation(std::function<void(std::string_view)> sink);
  std::uint64_t violations() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace sim
