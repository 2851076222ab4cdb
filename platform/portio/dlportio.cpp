// The port-I/O library: DlPortReadPortUchar and DlPortWritePortUchar over
// the backend that section "Port IO" of the configuration file chooses, read
// once at the first access. The per-access path is a load of the active
// backend, a counter, a branch on the backend kind and a branch on tracing:
// no lock, no allocation and no configuration read.
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/portio/direct_ports.h"
#include "platform/portio/dlportio.h"
#include "platform/portio/dlportio_control.h"
#include "platform/portio/port_settings.h"
#include "platform/portio/ppdev_port.h"
#include "platform/portio/stderr_line.h"
#include "platform/portio/trace_log.h"
#include "sim/bench/bench.h"
#include "sim/bus/i2c_bus.h"

namespace portio {
namespace {

struct Backend {
  BackendKind kind = BackendKind::sim;
  std::unique_ptr<TraceLog> trace;  // declared first: the bench reports into it
  std::unique_ptr<sim::Bench> bench;
  std::unique_ptr<DirectPorts> direct;
  std::unique_ptr<PpdevPort> ppdev;
  unsigned long long accesses = 0;

  ~Backend() {
    // The bench goes first so that its last words reach the trace.
    bench.reset();
    direct.reset();
    ppdev.reset();
    trace.reset();
  }
};

std::atomic<Backend*> active{nullptr};
std::mutex lifecycle;

void warn(std::string_view line) { stderr_line(line); }

std::string source_of(const PortSettings& settings) {
  if (!settings.backend_given) {
    return "(no Backend in section \"Port IO\" of " + settings.config_path +
           ")";
  }
  return std::string("(Backend = ") + backend_name(settings.backend) +
         " in section \"Port IO\" of " + settings.config_path + ")";
}

std::string hex_port(unsigned port) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (int shift = 12; shift >= 0; shift -= 4) {
    text.push_back(kDigits[(port >> shift) & 0xF]);
  }
  return text;
}

// Buffered trace lines must reach the file before fork, or the child would
// inherit and write them a second time.
void flush_before_fork() {
  if (Backend* backend = active.load(std::memory_order_acquire)) {
    if (backend->trace) backend->trace->flush();
  }
}

Backend* start() {
  std::lock_guard<std::mutex> lock(lifecycle);
  if (Backend* ready = active.load(std::memory_order_acquire)) return ready;

  static std::once_flag fork_hook;
  std::call_once(fork_hook,
                 [] { pthread_atfork(flush_before_fork, nullptr, nullptr); });

  const PortSettings settings = PortSettings::load(warn);
  auto backend = std::make_unique<Backend>();
  backend->kind = settings.backend;

  if (!settings.trace_path.empty()) {
    std::string error;
    backend->trace = TraceLog::open(settings.trace_path, error);
    if (!backend->trace) {
      stderr_line("cannot open the port trace " + settings.trace_path + " (" +
                  error + "); check key Trace in section \"Port IO\" of " +
                  settings.config_path + "; accesses are not traced");
    }
  }

  std::string banner;
  switch (settings.backend) {
    case BackendKind::sim: {
      TraceLog* trace = backend->trace.get();
      std::function<void(std::string_view)> violation;
      if (trace) {
        violation = [trace](std::string_view line) { trace->violation(line); };
      }
      backend->bench = std::make_unique<sim::Bench>(
          sim::BenchConfig::load(warn), warn, std::move(violation));
      banner = "simulated bench ";
      break;
    }
    case BackendKind::direct:
      backend->direct =
          std::make_unique<DirectPorts>(adapter_ports(), settings.config_path);
      if (backend->direct->reachable()) banner = "direct port access ";
      break;
    case BackendKind::ppdev:
      backend->ppdev = std::make_unique<PpdevPort>(
          settings.parport_device, settings.parport_base, settings.config_path);
      if (backend->ppdev->reachable()) {
        banner = "parallel port " + settings.parport_device + " at ports " +
                 hex_port(settings.parport_base) + " to " +
                 hex_port(settings.parport_base + 2u) + " ";
      }
      break;
  }
  if (!banner.empty() && stderr_is_terminal()) {
    stderr_line(banner + source_of(settings));
  }

  Backend* ready = backend.release();
  active.store(ready, std::memory_order_release);
  return ready;
}

void finish() {
  std::lock_guard<std::mutex> lock(lifecycle);
  delete active.exchange(nullptr, std::memory_order_acq_rel);
}

// Finishes the backend when the process exits normally: the trace reaches
// its file, the waveform is closed and the EEPROM contents are saved. Hosts
// that load this library are unloaded or finished before it, so their last
// accesses are in.
struct FinishAtExit {
  ~FinishAtExit() { finish(); }
} finish_at_exit;

std::uint8_t read_other(Backend& backend, std::uint16_t port) {
  if (backend.kind == BackendKind::direct) return backend.direct->read(port);
  if (backend.kind == BackendKind::ppdev) return backend.ppdev->read(port);
  return 0xFF;
}

void write_other(Backend& backend, std::uint16_t port, std::uint8_t value) {
  if (backend.kind == BackendKind::direct) {
    backend.direct->write(port, value);
  } else if (backend.kind == BackendKind::ppdev) {
    backend.ppdev->write(port, value);
  }
}

inline Backend& current() {
  Backend* backend = active.load(std::memory_order_acquire);
  if (!backend) [[unlikely]] backend = start();
  return *backend;
}

}  // namespace
}  // namespace portio

// The PC's I/O space has 16 address lines: ports wrap at 0xFFFF.
unsigned char DlPortReadPortUchar(unsigned long port) {
  portio::Backend& backend = portio::current();
  ++backend.accesses;
  const auto address = static_cast<std::uint16_t>(port);
  const std::uint8_t value = backend.kind == portio::BackendKind::sim
                                 ? backend.bench->read(address)
                                 : portio::read_other(backend, address);
  if (backend.trace) [[unlikely]] backend.trace->access('R', address, value);
  return value;
}

void DlPortWritePortUchar(unsigned long port, unsigned char value) {
  portio::Backend& backend = portio::current();
  ++backend.accesses;
  const auto address = static_cast<std::uint16_t>(port);
  if (backend.kind == portio::BackendKind::sim) {
    backend.bench->write(address, value);
  } else {
    portio::write_other(backend, address, value);
  }
  if (backend.trace) [[unlikely]] backend.trace->access('W', address, value);
}

void DlPortReconfigure(void) { portio::finish(); }

unsigned long long DlPortAccessCount(void) {
  const portio::Backend* backend =
      portio::active.load(std::memory_order_acquire);
  return backend ? backend->accesses : 0;
}

unsigned long long DlPortBusViolations(void) {
  const portio::Backend* backend =
      portio::active.load(std::memory_order_acquire);
  if (!backend || !backend->bench) return 0;
  return backend->bench->bus().violations();
}

const char* DlPortBackendName(void) {
  return portio::backend_name(portio::current().kind);
}
