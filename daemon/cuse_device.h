// /dev/i2c-N as a character device in user space (CUSE, through libfuse3):
// the kernel passes every open, read, write, ioctl and close of the node to
// this process, which answers them from i2cdev_requests over the bus.
#pragma once

#include <sys/types.h>

#include "daemon/i2cdev_requests.h"

namespace i2cdev {

struct DeviceOptions {
  int number = 0;           // /dev/i2c-<number>
  mode_t mode = 0600;       // of the node
  gid_t group = 0;          // of the node
  bool foreground = false;  // else detach as a daemon once the device is set up
};

// Creates the device and serves it until SIGTERM, SIGINT or SIGHUP; the
// device leaves with the process. The exit status: 0 after a signal, 1
// when the device could not be made (a line on standard error says why).
int serve(Bus& bus, const DeviceOptions& options);

}  // namespace i2cdev
