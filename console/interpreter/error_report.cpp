// The error line of a failed command.
#include <array>
#include <cstdio>

#include "console/interpreter/error_codes.h"

namespace console::error {
namespace {

// Indexed by the code; code 0 is success and has no text.
constexpr std::array<const char*, 10> texts = {
    nullptr,
    "Bus not opened",
    "No ACK from slave",
    "No ACK",
    "Syntax",
    "Bus already opened",
    "Bus already closed",
    "Interface number",
    "Interface is busy",
    "Interface error",
};

}  // namespace

void report(std::int16_t code) {
  std::fputs("ERROR : ", stdout);
  if (code > none && code < static_cast<std::int16_t>(texts.size())) {
    std::printf("%s.\n", texts[static_cast<std::size_t>(code)]);
  } else {
    // 255, and any code no action should ever give.
    std::fputs("Unknown (please report !).\n", stdout);
  }
}

}  // namespace console::error
