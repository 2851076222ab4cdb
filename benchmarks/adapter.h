// The three adapters as the benchmarks name them.
#pragma once

#include <cstdint>

namespace bench {

enum class Adapter { card, philips, custom };

inline constexpr Adapter kAdapters[] = {Adapter::card, Adapter::philips, Adapter::custom};

inline const char* adapter_name(Adapter adapter) {
  switch (adapter) {
    case Adapter::card: return "PCF8584 card";
    case Adapter::philips: return "Philips adapter";
    case Adapter::custom: return "Custom adapter";
  }
  return "?";
}

// Short names for JSON keys.
inline const char* adapter_key(Adapter adapter) {
  switch (adapter) {
    case Adapter::card: return "card";
    case Adapter::philips: return "philips";
    case Adapter::custom: return "custom";
  }
  return "?";
}

// The number I2C_SelectInterface takes.
inline std::int16_t interface_number(Adapter adapter) {
  switch (adapter) {
    case Adapter::card: return 1;
    case Adapter::philips: return 2;
    case Adapter::custom: return 3;
  }
  return 1;
}

}  // namespace bench
