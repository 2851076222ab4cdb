// Backend = sim: the simulated bench, a backend object of its own
// (libdlportio-sim.so) that is loaded by name when it is chosen: the port
// layer carries no line of the simulator. The object is looked for beside the port layer first,
// so a build tree and an installed prefix each find their own bench, then
// wherever the loader looks. Without it, one line says so and every port
// reads FF, as on a PC where nothing answers.
#include <dlfcn.h>

#include <string>

#include "platform/portio/backend_object.h"
#include "platform/portio/backends/backend.h"
#include "platform/stderr_line.h"

namespace portio::bench_loader {
namespace {

constexpr const char* kObjectName = "libdlportio-sim.so.1";

void* handle = nullptr;
const DlPortBackendObject* object = nullptr;

std::uint8_t unanswered_read(unsigned short) { return 0xFF; }
void dropped_write(unsigned short, unsigned char) {}

// The accesses go straight to the object's routines.
unsigned char (*object_read)(unsigned short) = unanswered_read;
void (*object_write)(unsigned short, unsigned char) = dropped_write;

void warn(const char* line) { stderr_line(line); }

std::string directory_of_port_layer() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&directory_of_port_layer), &info) == 0 ||
      info.dli_fname == nullptr) {
    return "";
  }
  const std::string path = info.dli_fname;
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// Beside the port layer, then by name; the loader's message of the first
// attempt tells the most.
void* load_object(std::string& error) {
  const std::string beside = directory_of_port_layer() + kObjectName;
  if (void* loaded = ::dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL)) return loaded;
  const char* reason = ::dlerror();
  error = reason != nullptr ? reason : beside + ": cannot be loaded";
  return ::dlopen(kObjectName, RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

void open(const PortSettings& settings, void (*trace_note)(const char*),
          std::string& banner) {
  const std::string advice = "; check that it is installed beside libdlportio.so, or "
                             "choose another Backend in section \"Port IO\" of " +
                             settings.config_path +
                             "; until then port reads give FF and writes are ignored";
  std::string error;
  handle = load_object(error);
  if (handle == nullptr) {
    stderr_line("cannot load the simulated bench " + std::string(kObjectName) + " (" +
                error + ")" + advice);
    return;
  }
  object = static_cast<const DlPortBackendObject*>(
      ::dlsym(handle, DLPORTIO_BACKEND_OBJECT_SYMBOL));
  if (object == nullptr || object->version != DLPORTIO_BACKEND_OBJECT_VERSION) {
    stderr_line("the simulated bench " + std::string(kObjectName) +
                " is not one this port layer can use" + advice);
    close();
    return;
  }
  const DlPortBackendHost host{warn, trace_note};
  if (object->open(&host) != 0) {
    close();
    return;
  }
  object_read = object->read;
  object_write = object->write;
  banner = "simulated bench";
}

std::uint8_t read(std::uint16_t port) { return object_read(port); }
void write(std::uint16_t port, std::uint8_t value) { object_write(port, value); }

void close() {
  if (object != nullptr && object_read != unanswered_read) object->close();
  object_read = unanswered_read;
  object_write = dropped_write;
  object = nullptr;
  if (handle != nullptr) ::dlclose(handle);
  handle = nullptr;
}

}  // namespace portio::bench_loader
