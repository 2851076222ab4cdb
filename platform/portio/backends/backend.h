// A port backend: one row of routines that reach the PC's I/O ports in one
// way. The port layer opens the row that key "Backend" of section "Port IO"
// names at the first port access, sends every access to it, and closes it
// when the process ends or the port layer is restarted.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "dlportio.h"
#include "platform/portio/port_settings.h"

namespace portio {

struct BackendRow {
  const char* name;  // the value of "Backend" that chooses it
  // Starts the backend. `banner` receives what a person at the terminal is
  // told about the ports in use (empty: nothing), `trace_note` a way to put
  // a line into the port trace (null when none is kept). A backend that
  // cannot reach its ports says why on standard error itself and still
  // opens: its reads then give FF and its writes are dropped.
  void (*open)(const PortSettings& settings, void (*trace_note)(const char* line),
               std::string& banner);
  std::uint8_t (*read)(std::uint16_t port);
  void (*write)(std::uint16_t port, std::uint8_t value);
  void (*close)();
  // Sends a line program whole (DlPortRunProgram's contract); null: the
  // port layer runs programs access by access through read and write.
  long (*run)(const DlPortStep* steps, long count, std::uint8_t* results);
};

namespace bench_loader {
void open(const PortSettings&, void (*)(const char*), std::string&);
std::uint8_t read(std::uint16_t port);
void write(std::uint16_t port, std::uint8_t value);
void close();
}  // namespace bench_loader

namespace direct_backend {
void open(const PortSettings&, void (*)(const char*), std::string&);
std::uint8_t read(std::uint16_t port);
void write(std::uint16_t port, std::uint8_t value);
void close();
}  // namespace direct_backend

namespace ppdev_backend {
void open(const PortSettings&, void (*)(const char*), std::string&);
std::uint8_t read(std::uint16_t port);
void write(std::uint16_t port, std::uint8_t value);
void close();
}  // namespace ppdev_backend

namespace ftdi_backend {
void open(const PortSettings&, void (*)(const char*), std::string&);
std::uint8_t read(std::uint16_t port);
void write(std::uint16_t port, std::uint8_t value);
void close();
long run(const DlPortStep* steps, long count, std::uint8_t* results);
}  // namespace ftdi_backend

namespace gpio_backend {
void open(const PortSettings&, void (*)(const char*), std::string&);
std::uint8_t read(std::uint16_t port);
void write(std::uint16_t port, std::uint8_t value);
void close();
}  // namespace gpio_backend

// The first row is the default. Only the FTDI chip sends line programs
// whole: it alone makes the caller wait for a USB round trip per sample.
inline constexpr std::array<BackendRow, 5> kBackends{{
    {"sim", bench_loader::open, bench_loader::read, bench_loader::write, bench_loader::close,
     nullptr},
    {"direct", direct_backend::open, direct_backend::read, direct_backend::write,
     direct_backend::close, nullptr},
    {"ppdev", ppdev_backend::open, ppdev_backend::read, ppdev_backend::write,
     ppdev_backend::close, nullptr},
    {"ftdi", ftdi_backend::open, ftdi_backend::read, ftdi_backend::write, ftdi_backend::close,
     ftdi_backend::run},
    {"gpio", gpio_backend::open, gpio_backend::read, gpio_backend::write, gpio_backend::close,
     nullptr},
}};

}  // namespace portio
