// Stops this process at a chosen port access of the library, so that a
// test can kill it at exactly that point.
//
// The test program defines DlPortReadPortUchar and DlPortWritePortUchar
// itself and exports them: the dynamic linker binds libtarnwick.so's port
// calls to the program's definitions first, which count each access and
// then pass it on to the real port layer.
#pragma once

namespace port_access_stop {

// The process stops itself (SIGSTOP) just before its `count`-th port access
// from now on; 0 never stops. The access that stops is not made.
void stop_before_access(long count);

// Port accesses made since the last stop_before_access().
long accesses_counted();

}  // namespace port_access_stop
