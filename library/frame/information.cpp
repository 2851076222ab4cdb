// The information box: what this library is and which adapter it drives.
#include "library/frame/information.h"

#include <array>
#include <cstdio>

#include "library/state/library_state.h"
#include "platform/message_box.h"

namespace frame {

namespace {

constexpr std::size_t kInformationSize = 300;

constexpr const char* kHeading = "Tarnwick - Version 4.11\nMulti adapters support.\nIn use : ";
constexpr const char* kOwnership = "Copyright (c) the Tarnwick developers";
constexpr const char* kCaption = "Tarnwick Information";

constexpr std::array<const char*, 3> kAdapterNames{"PCF8584 card", "Philips adapter",
                                                   "Custom adapter"};
constexpr const char* kUnknownAdapter = "Default adapter";

const char* adapter_name(std::int16_t adapter) {
  if (adapter < 0 || static_cast<std::size_t>(adapter) >= kAdapterNames.size()) {
    return kUnknownAdapter;
  }
  return kAdapterNames[static_cast<std::size_t>(adapter)];
}

}  // namespace

void information_text(std::int16_t adapter, char* buffer, std::size_t size) {
  std::snprintf(buffer, size, "%s%s\n%s", kHeading, adapter_name(adapter), kOwnership);
}

void show_information() {
  std::array<char, kInformationSize> text{};
  information_text(state::adapter_index, text.data(), text.size());
  message_box::show(text.data(), kCaption);
}

}  // namespace frame
