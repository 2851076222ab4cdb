// Whether a node is the CUSE device's own before the daemon gives it an
// owner and mode: /dev/null stands in for a character device node, with
// its number (1:3) as the kernel would give it for the device.
#include <gtest/gtest.h>

#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "daemon/device_node.h"
#include "tests/support/scratch.h"

namespace {

struct NodeCase {
  const char* what;
  const char* node;                      // in the scratch folder unless absolute
  std::optional<std::string> dev_file;   // its text; none: no such file
  bool ours;
};

const std::vector<NodeCase> kNodeCases{
    {"the character device with the device's number", "/dev/null", "1:3\n", true},
    {"another device's number", "/dev/null", "1:5\n", false},
    {"another major number", "/dev/null", "10:3\n", false},
    {"a number the kernel never writes", "/dev/null", "1-3\n", false},
    {"no device file (the kernel refused the device)", "/dev/null", std::nullopt, false},
    {"no node", "missing", "1:3\n", false},
    {"a plain file of that name", "plain", "1:3\n", false},
    // The owner and mode would go through the link to whatever it names.
    {"a link to the right device", "link", "1:3\n", false},
};

TEST(DeviceNode, OnlyTheDevicesOwnCharacterNodeIsTheDevices) {
  test_kit::ScratchFolder folder;
  folder.write("plain", "");
  ASSERT_EQ(::symlink("/dev/null", folder.file("link").c_str()), 0);
  for (const auto& c : kNodeCases) {
    const std::string dev_file = folder.file("dev");
    ::unlink(dev_file.c_str());
    if (c.dev_file) folder.write("dev", *c.dev_file);
    const std::string node = c.node[0] == '/' ? c.node : folder.file(c.node);
    EXPECT_EQ(i2cdev::node_belongs_to(node, dev_file), c.ours) << c.what;
  }
}

}  // namespace
