#include "library/adapters/parallel/adapter_config.h"

#include <cstdio>

#include "library/frame/library_state.h"
#include "platform/profile/profile.h"
#include "platform/text/scan.h"

namespace adapter_config {
namespace {

constexpr std::size_t kValueSize = 80;
constexpr const char* kDebugSection = "Debug";

// Base port and Nops as signed 16-bit values widened to 32 bits, so that
// 0x8000 and above show with FFFF in front.
void write_debug_record(const char* debug_key) {
  char record[kValueSize];
  std::snprintf(record, sizeof record, "Base:0x%X Nops:0x%X",
                static_cast<unsigned>(static_cast<std::int32_t>(frame::base_port)),
                static_cast<unsigned>(static_cast<std::int32_t>(frame::nops)));
  // The record is a trace for the user; a file that cannot be written
  // must not keep the adapter from starting.
  profile::put(kDebugSection, debug_key, record);
}

}  // namespace

std::int32_t hexadecimal_key(const char* section, const char* key,
                             const char* fallback) {
  char value[kValueSize];
  profile::get(section, key, fallback, value, sizeof value);
  if (const auto number = scan::hexadecimal(value)) return *number;
  return scan::hexadecimal(fallback).value_or(0);
}

void read_timing(const char* section, const char* debug_key) {
  frame::base_port =
      static_cast<std::int16_t>(hexadecimal_key(section, "Base", "378"));
  frame::nops = static_cast<std::int16_t>(hexadecimal_key(section, "Nops", "100"));
  write_debug_record(debug_key);
}

}  // namespace adapter_config
