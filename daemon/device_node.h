// The node that devtmpfs makes for a CUSE device: whether the node at a
// path is this device's, so that the daemon never changes the owner or
// mode of another device's node that happens to have the same name.
#pragma once

#include <string>

namespace i2cdev {

// True when `node` is a character device whose number is the one the
// kernel gives in `dev_file` ("MAJOR:MINOR", as /sys/class/cuse/NAME/dev
// holds it).
bool node_belongs_to(const std::string& node, const std::string& dev_file);

}  // namespace i2cdev
