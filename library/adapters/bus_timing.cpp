// The standard's minimum times, the port access time and the adapter
// settings of the transfer interface.
#include "library/adapters/bus_timing.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "dlportio.h"
#include "platform/portio/line_program.h"
#include "platform/profile/profile.h"
#include "platform/scan.h"

namespace bus_timing {
namespace {

constexpr std::size_t kValueSize = 80;
constexpr std::int32_t kNsPerUs = 1000;
constexpr std::int64_t kNsPerSecond = 1000000000;
// Enough reads that the clock's own cost and resolution vanish in the mean.
constexpr std::int32_t kMeasuredReads = 256;
constexpr std::int32_t kLongestStretchMs = 60000;

// The real backends of the port layer; any other name (or none) is the
// bench, as the port layer itself decides.
constexpr std::array<std::string_view, 4> kRealBackends{"direct", "ppdev", "ftdi", "gpio"};

std::int32_t measured_access_ns = 0;

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

bool on_the_bench() {
  char value[kValueSize];
  profile::get("Port IO", "Backend", "", value, sizeof value);
  const std::string_view backend = trimmed(value);
  return std::none_of(kRealBackends.begin(), kRealBackends.end(),
                      [&](std::string_view name) { return scan::equal_ignoring_case(backend, name); });
}

namespace {

std::optional<std::uint32_t> decimal_key(const char* section, const char* key,
                                         std::uint32_t most) {
  char value[kValueSize];
  profile::get(section, key, "", value, sizeof value);
  return scan::whole_number(value, {.base = 10, .max = most});
}

std::int32_t measure(std::uint16_t delay_port) {
  const std::int64_t begun = line_program::monotonic_ns();
  delay(delay_port, kMeasuredReads);
  const std::int64_t each = (line_program::monotonic_ns() - begun + kMeasuredReads - 1) / kMeasuredReads;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(each, 1, kNsPerSecond));
}

}  // namespace

const Minimums& minimums_for(std::int32_t hz) {
  return hz <= kStandardModeHz ? kStandardMode : kFastMode;
}

std::int32_t access_time_ns(std::uint16_t delay_port) {
  if (on_the_bench()) {
    // The bench's own reading of the key: a whole number of us from 1.
    const auto us = decimal_key("Simulation", "Access Time", 0x7FFFFFFF);
    const std::uint32_t access_us = us && *us >= 1 ? *us : 1;
    return static_cast<std::int32_t>(
        std::min<std::uint32_t>(access_us, kNsPerSecond / kNsPerUs) * kNsPerUs);
  }
  if (measured_access_ns == 0) measured_access_ns = measure(delay_port);
  return measured_access_ns;
}

std::int32_t accesses_for(std::int64_t ns, std::int32_t access_ns) {
  if (ns <= 0) return 0;
  return static_cast<std::int32_t>((ns + access_ns - 1) / access_ns);
}

void delay(std::uint16_t port, std::int32_t reads) {
  for (std::int32_t done = 0; done < reads; ++done) {
    static_cast<void>(DlPortReadPortUchar(port));
  }
}

Settings read_settings(const char* section, std::int32_t slowest_hz) {
  Settings settings;
  if (const auto hz = decimal_key(section, "Bus Speed", 0x7FFFFFFF);
      hz && static_cast<std::int64_t>(*hz) >= slowest_hz) {
    settings.hz = static_cast<std::int32_t>(*hz);
  }
  if (const auto ms = decimal_key(section, "Stretch Timeout", kLongestStretchMs)) {
    settings.stretch_ms = static_cast<std::int32_t>(*ms);
  }
  return settings;
}

}  // namespace bus_timing
