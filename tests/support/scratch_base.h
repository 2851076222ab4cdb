// Where tests make their scratch folders: under TMPDIR when it is set,
// else under /tmp. The test presets point TMPDIR at build/<preset>/scratch,
// a folder only its owner can write: run as root, the library trusts no
// configuration file below a folder that others can write, such as /tmp.
#pragma once

#include <cstdlib>
#include <string>

namespace test_scratch {

// A mkdtemp pattern: "<base>/<name>XXXXXX".
inline std::string pattern(const char* name) {
  const char* base = std::getenv("TMPDIR");
  return std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + name + "XXXXXX";
}

}  // namespace test_scratch
