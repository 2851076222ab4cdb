// The port-I/O library: DlPortReadPortUchar and DlPortWritePortUchar over
// the backend that section "Port IO" of the configuration file chooses from
// the backend table, opened at the first access. The per-access path is a
// load of the active routines and one call: no lock, no allocation, no
// configuration read. With a trace, the routines are a wrapper that writes
// one line per access around whichever backend is active. Line programs go
// to the backend's own routine where it has one, and are otherwise run
// access by access through the same routines as single accesses.
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "dlportio.h"
#include "platform/portio/backends/backend.h"
#include "platform/portio/line_program.h"
#include "platform/portio/port_layer.h"
#include "platform/portio/port_settings.h"
#include "platform/stderr_line.h"
#include "platform/portio/trace_log.h"

namespace portio {
namespace {

struct Active {
  std::uint8_t (*read)(std::uint16_t port);
  void (*write)(std::uint16_t port, std::uint8_t value);
  const BackendRow* row;
};

std::atomic<const Active*> active{nullptr};
Active current_routines{};
std::mutex lifecycle;
std::unique_ptr<TraceLog> trace;

void warn(std::string_view line) { stderr_line(line); }

std::uint8_t traced_read(std::uint16_t port) {
  const std::uint8_t value = current_routines.row->read(port);
  trace->access('R', port, value);
  return value;
}

void traced_write(std::uint16_t port, std::uint8_t value) {
  current_routines.row->write(port, value);
  trace->access('W', port, value);
}

// A program the backend sent whole, traced afterwards as the accesses it
// stands for: what each line step wrote or read.
long traced_run(const DlPortStep* steps, long count, std::uint8_t* results) {
  const long done = current_routines.row->run(steps, count, results);
  for (long i = 0; i < done; ++i) {
    const DlPortStep& step = steps[i];
    if (step.kind == DLPORT_STEP_READ) trace->access('R', step.port, results[i]);
    if (step.kind == DLPORT_STEP_WRITE || step.kind == DLPORT_STEP_MODIFY) {
      trace->access('W', step.port, results[i]);
    }
  }
  return done;
}

void trace_note(const char* line) {
  if (trace) trace->violation(line);
}

std::string source_of(const PortSettings& settings) {
  if (!settings.backend_given) {
    return "(no Backend in section \"Port IO\" of " + settings.config_path + ")";
  }
  return std::string("(Backend = ") + kBackends[settings.backend].name +
         " in section \"Port IO\" of " + settings.config_path + ")";
}

// Buffered trace lines must reach the file before fork, or the child would
// inherit and write them a second time.
void flush_before_fork() {
  if (active.load(std::memory_order_acquire) != nullptr && trace) trace->flush();
}

const Active* start() {
  std::lock_guard<std::mutex> lock(lifecycle);
  if (const Active* ready = active.load(std::memory_order_acquire)) return ready;

  static std::once_flag fork_hook;
  std::call_once(fork_hook, [] { pthread_atfork(flush_before_fork, nullptr, nullptr); });

  const PortSettings settings = PortSettings::load(warn);
  const BackendRow& row = kBackends[settings.backend];
  if (!settings.trace_path.empty()) {
    std::string error;
    trace = TraceLog::open(settings.trace_path, error);
    if (!trace) {
      stderr_line("cannot open the port trace " + settings.trace_path + " (" + error +
                  "); check key Trace in section \"Port IO\" of " + settings.config_path +
                  "; accesses are not traced");
    }
  }

  std::string banner;
  row.open(settings, trace ? trace_note : nullptr, banner);
  if (!banner.empty() && stderr_is_terminal()) {
    stderr_line(banner + " " + source_of(settings));
  }

  current_routines = trace ? Active{traced_read, traced_write, &row}
                           : Active{row.read, row.write, &row};
  active.store(&current_routines, std::memory_order_release);
  return &current_routines;
}

void finish() {
  std::lock_guard<std::mutex> lock(lifecycle);
  const Active* ending = active.exchange(nullptr, std::memory_order_acq_rel);
  // The backend goes first so that its last words reach the trace.
  if (ending != nullptr) ending->row->close();
  trace.reset();
}

// Finishes the backend when the process exits normally or unloads the port
// layer: the trace reaches its file and the backend closes its own. Hosts
// that load this library are unloaded or finished before it, so their last
// accesses are in.
struct FinishAtExit {
  ~FinishAtExit() { finish(); }
} finish_at_exit;

inline const Active& routines() {
  const Active* ready = active.load(std::memory_order_acquire);
  if (ready == nullptr) [[unlikely]] ready = start();
  return *ready;
}

}  // namespace

void restart() { finish(); }

const char* backend_name() { return routines().row->name; }

}  // namespace portio

// The PC's I/O space has 16 address lines: ports wrap at 0xFFFF. No C++
// exception leaves through these C calls (a host could not catch it): a
// read that cannot be done gives 0xFF, as a port with nothing on it does,
// and a write that cannot be done is lost.
unsigned char DlPortReadPortUchar(unsigned long port) {
  try {
    return portio::routines().read(static_cast<std::uint16_t>(port));
  } catch (...) {
    return 0xFF;
  }
}

void DlPortWritePortUchar(unsigned long port, unsigned char value) {
  try {
    portio::routines().write(static_cast<std::uint16_t>(port), value);
  } catch (...) {
  }
}

long DlPortRunProgram(const DlPortStep* steps, long count, unsigned char* results) {
  if (count < 0 || (count > 0 && (steps == nullptr || results == nullptr))) return -1;
  try {
    const portio::Active& routines = portio::routines();
    if (routines.row->run != nullptr) {
      return routines.read == portio::traced_read ? portio::traced_run(steps, count, results)
                                                  : routines.row->run(steps, count, results);
    }
    return line_program::run(steps, count, results, routines.read, routines.write);
  } catch (...) {
    return -1;
  }
}

int DlPortSendsProgramsWhole(void) {
  try {
    return portio::routines().row->run != nullptr ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
