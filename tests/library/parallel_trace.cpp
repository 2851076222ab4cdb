#include "tests/library/parallel_trace.h"

#include <dlfcn.h>

#include <cstdio>

namespace parallel_test {
namespace {

constexpr unsigned kDataPort = 0x378;
constexpr unsigned kStatusPort = 0x379;
constexpr unsigned kControlPort = 0x37A;
constexpr unsigned kMarkerPort = 0x2F0;  // nothing on the bench decodes it
constexpr unsigned kDataBit = 0x80;
constexpr unsigned kClockBit = 0x08;

struct Access {
  char kind = '?';
  unsigned port = 0;
  unsigned value = 0;
};

// "R 037A 0C" or "W 0378 7F"; anything else (a bus violation the bench
// logged, say) stays unparsed and shows as "?" with its text.
Access parse(const std::string& line) {
  Access access;
  unsigned port = 0;
  unsigned value = 0;
  char kind = 0;
  char end = 0;
  if (std::sscanf(line.c_str(), "%c %4x %2x%c", &kind, &port, &value, &end) == 3 &&
      (kind == 'R' || kind == 'W') && line.size() == 9) {
    access = {kind, port, value};
  }
  return access;
}

// A read-modify-write of one line: only its bit may change.
std::string line_write(const Access& read, const Access& write, unsigned bit,
                       char high, char low) {
  if ((read.value & ~bit) != (write.value & ~bit)) return "?other bits changed ";
  const bool set = (write.value & bit) != 0;
  // On this wiring a set data bit drives SDA, a set clock bit releases SCL.
  if (bit == kDataBit) return std::string(1, set ? low : high);
  return std::string(1, set ? high : low);
}

std::string events(const std::vector<std::string>& trace) {
  std::string out;
  for (std::size_t i = 0; i < trace.size(); ++i) {
    const Access now = parse(trace[i]);
    const Access next = i + 1 < trace.size() ? parse(trace[i + 1]) : Access{};
    const bool read_then_write =
        now.kind == 'R' && next.kind == 'W' && next.port == now.port;
    if (read_then_write && now.port == kControlPort) {
      out += line_write(now, next, kClockBit, 'C', 'c');
      ++i;
    } else if (read_then_write && now.port == kDataPort) {
      out += line_write(now, next, kDataBit, 'D', 'd');
      ++i;
    } else if (now.kind == 'W' && now.port == kDataPort && now.value == 0x7F) {
      out += 'D';
    } else if (now.kind == 'W' && now.port == kDataPort && now.value == 0x80) {
      out += 'd';
    } else if (now.kind == 'R' && now.port == kControlPort) {
      out += '.';
    } else if (now.kind == 'R' && now.port == kStatusPort) {
      out += 'r';
    } else if (now.kind == 'R' && now.port == kMarkerPort) {
      out += '|';
    } else {
      out += "?" + trace[i] + " ";
    }
  }
  return out;
}

}  // namespace

std::string without_delays(const std::string& events) {
  std::string out = events;
  std::erase(out, '.');
  return out;
}

void TracedBus::load(std::int16_t interface, const test_kit::Ini& ini) {
  env_.configure(ini);
  library_ = std::make_unique<harness::Library>();
  bus().I2C_SelectInterface(interface);
}

void TracedBus::mark() const {
  // The port library is in the process already, loaded by the bus library.
  void* portio = dlopen("libdlportio.so.1", RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(portio, nullptr) << "the port library is not loaded";
  auto read = reinterpret_cast<unsigned char (*)(unsigned long)>(
      dlsym(portio, "DlPortReadPortUchar"));
  ASSERT_NE(read, nullptr);
  read(kMarkerPort);
  dlclose(portio);
}

std::vector<std::string> TracedBus::segments() {
  library_->unload();
  std::vector<std::string> result(1);
  for (const char c : events(env_.trace())) {
    if (c == '|') result.emplace_back();
    else result.back() += c;
  }
  return result;
}

}  // namespace parallel_test
