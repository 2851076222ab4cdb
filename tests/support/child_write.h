// Writing to the standard input of a child that may already have ended.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace test_support {

// write(2) on `fd` with SIGPIPE held back for the call: a child that ended
// (or closed its input) gives -1 with errno EPIPE instead of killing the
// test with SIGPIPE. A SIGPIPE that this write raised is taken back; one
// that was already pending stays pending.
ssize_t write_to_child(int fd, const void* data, std::size_t size);

}  // namespace test_support
