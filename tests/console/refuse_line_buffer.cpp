// Preloaded into a program under test: every request for exactly 1024
// bytes, the size of the console's line buffer, fails as on a machine out
// of memory. Every other request goes to the allocator the program would
// have used: the C library's, or AddressSanitizer's in a sanitizer build,
// whose free() must get back only blocks it handed out itself.
#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
extern "C" void* __interceptor_malloc(std::size_t size);
#define NEXT_MALLOC __interceptor_malloc
#else
extern "C" void* __libc_malloc(std::size_t size);
#define NEXT_MALLOC __libc_malloc
#endif

extern "C" __attribute__((visibility("default"))) void* malloc(std::size_t size) {
  return size == 1024 ? nullptr : NEXT_MALLOC(size);
}
