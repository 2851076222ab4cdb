// Preloaded into a program under test: every request for exactly 1024
// bytes, the size of the console's line buffer, fails as on a machine out
// of memory.
#include <cstddef>

extern "C" void* __libc_malloc(std::size_t size);

extern "C" __attribute__((visibility("default"))) void* malloc(std::size_t size) {
  return size == 1024 ? nullptr : __libc_malloc(size);
}
