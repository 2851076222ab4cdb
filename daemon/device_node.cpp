#include "daemon/device_node.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>

namespace i2cdev {

bool node_belongs_to(const std::string& node, const std::string& dev_file) {
  std::ifstream text(dev_file);
  unsigned int major = 0, minor = 0;
  char colon = 0;
  if (!(text >> major >> colon >> minor) || colon != ':') return false;
  struct stat info;
  return ::lstat(node.c_str(), &info) == 0 && S_ISCHR(info.st_mode) &&
         info.st_rdev == ::makedev(major, minor);
}

}  // namespace i2cdev
