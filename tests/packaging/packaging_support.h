// What the packaging tests share: a scratch folder with bus locks of its
// own for each program run there, the flags of this build for hosts built
// against it, and the bench EEPROM the example hosts and utilities read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/ini.h"
#include "tests/support/scratch.h"
#include "tests/support/semaphores.h"

namespace packaging_test {

// A scratch folder, and a TARNWICK_SEM_PREFIX whose bus semaphores are
// removed afterwards.
class Scratch : public test_kit::ScratchFolder {
 public:
  Scratch() : ScratchFolder("tarnwick-packaging-") {}
  // The environment every program run here gets: the bus lock prefix,
  // I2C_INI naming the scratch I2C.INI, and no library path or preload of
  // the test's own, so that the program finds what a user's would.
  std::vector<std::string> environment() const {
    return {semaphores_.environment_entry(), "I2C_INI=" + file("I2C.INI"), "LD_LIBRARY_PATH",
            "LD_PRELOAD"};
  }

 private:
  test_kit::SemaphoreNamespace semaphores_{"packaging"};
};

// The C flags this tree is built with: hosts built here against it use
// them too (a sanitizer build needs its runtime in the host as well).
std::vector<std::string> host_c_flags();
// A host that is not built here (the system's Python) cannot load a
// sanitizer-built library without that runtime preloaded.
bool tree_is_sanitized();
std::vector<std::string> split_words(const std::string& text);

// 256 bytes that are not a pattern a wrong offset could reproduce.
std::vector<std::uint8_t> eeprom_image();
// What the example hosts print for `memory`: "00: xx xx ...", 16 a line.
std::string dump_text(const std::vector<std::uint8_t>& memory);
// Settings for a quick bench: no port delays on any adapter, and the Custom
// adapter wired as the Philips adapter is.
inline const std::string kQuickBench = test_kit::all_adapters_text("0");
// A scratch I2C.INI whose bench EEPROM starts with eeprom_image().
void prepare_eeprom_bench(const Scratch& scratch, const std::string& more_settings = {});

}  // namespace packaging_test
