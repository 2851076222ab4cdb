// Configuration shared by the two parallel adapters: hexadecimal keys with
// defaults, the base port and Nops, and the debug record each init leaves.
#pragma once

#include <cstdint>

namespace adapter_config {

// The number held by `key` of `section` as hexadecimal text. A key that is
// missing, or present without a hexadecimal number, gives `fallback`.
std::int32_t hexadecimal_key(const char* section, const char* key,
                             const char* fallback);

// Sets the library-wide base port and Nops from "Base" and "Nops" of the
// adapter's section, then records both under `debug_key` of "Debug".
void read_timing(const char* section, const char* debug_key);

}  // namespace adapter_config
