// tarnwick-i2cdev: one adapter of the library, or the bench, as Linux's
// /dev/i2c-N, so that i2c-tools, smbus2 and every other program written
// for i2c-dev use it unchanged. See tarnwick-i2cdev(8).
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "daemon/cuse_device.h"
#include "tarnwick/i2c.h"

namespace {

constexpr int kFirstFreeNumber = 20;  // above the numbers of a PC's own buses
constexpr long kHighestNumber = 1023;
constexpr const char* kUsage =
    "usage: tarnwick-i2cdev [-i N] [-n NUMBER] [-f] [-m MODE] [-g GROUP]\n";

std::optional<long> number_in(const char* text, int base, long lowest, long highest) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, base);
  if (errno != 0 || end == text || *end != '\0' || value < lowest || value > highest) {
    return std::nullopt;
  }
  return value;
}

bool exists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

// A number no node and no device of the kernel's has.
bool taken(int number) {
  const std::string name = "i2c-" + std::to_string(number);
  return exists("/dev/" + name) || exists("/sys/class/cuse/" + name) ||
         exists("/sys/class/i2c-dev/" + name);
}

int fail(const std::string& line) {
  std::fprintf(stderr, "tarnwick-i2cdev: %s\n", line.c_str());
  return 1;
}

// Bad arguments end with status 2, as in the utilities.
int refuse_argument(const std::string& line) {
  std::fprintf(stderr, "tarnwick-i2cdev: %s\n", line.c_str());
  return 2;
}

// The kernel's CUSE device is where every user-space character device
// starts; without it, or without the rights on it, nothing can be made.
std::optional<std::string> cuse_refusal() {
  const int fd = ::open("/dev/cuse", O_RDWR | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return std::nullopt;
  }
  if (errno == ENOENT || errno == ENODEV || errno == ENXIO) {
    return std::string("/dev/cuse is missing: load the kernel's CUSE module (modprobe cuse)");
  }
  if (errno == EACCES || errno == EPERM) {
    return std::string("no rights to open /dev/cuse: run as root");
  }
  return std::string("cannot open /dev/cuse: ") + std::strerror(errno);
}

}  // namespace

int main(int argc, char** argv) {
  int adapter = 0;
  std::optional<int> number;
  i2cdev::DeviceOptions options;
  int option;
  while ((option = ::getopt(argc, argv, "i:n:fm:g:")) != -1) {
    switch (option) {
      case 'i': {
        const auto value = number_in(optarg, 10, 0, 3);
        if (!value) return refuse_argument("-i takes 1 (card), 2 (Philips), 3 (Custom) or 0 (the selected one)");
        adapter = static_cast<int>(*value);
        break;
      }
      case 'n': {
        const auto value = number_in(optarg, 10, 0, kHighestNumber);
        if (!value) return refuse_argument("-n takes a bus number from 0 to " + std::to_string(kHighestNumber));
        number = static_cast<int>(*value);
        break;
      }
      case 'f':
        options.foreground = true;
        break;
      case 'm': {
        const auto value = number_in(optarg, 8, 0, 0777);
        if (!value) return refuse_argument("-m takes an octal mode from 0 to 0777, such as 0660");
        options.mode = static_cast<mode_t>(*value);
        break;
      }
      case 'g': {
        if (const group* entry = ::getgrnam(optarg)) {
          options.group = entry->gr_gid;
        } else if (const auto value = number_in(optarg, 10, 0, 0x7FFFFFFF)) {
          options.group = static_cast<gid_t>(*value);
        } else {
          return refuse_argument(std::string("no group ") + optarg);
        }
        break;
      }
      default:
        std::fputs(kUsage, stderr);
        return 2;
    }
  }
  if (optind != argc) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  if (number) {
    if (taken(*number)) return fail("/dev/i2c-" + std::to_string(*number) + " exists already");
    options.number = *number;
  } else {
    options.number = kFirstFreeNumber;
    while (taken(options.number)) {
      if (++options.number > kHighestNumber) return fail("no free bus number from 20 up");
    }
  }
  if (const auto refusal = cuse_refusal()) return fail(*refusal);

  i2cdev::Bus bus = i2cdev::make_bus(tarnwick_transfer, adapter);
  if (options.foreground) {
    std::fprintf(stderr, "tarnwick-i2cdev: /dev/i2c-%d on adapter %d\n", options.number, adapter);
  }
  return i2cdev::serve(bus, options);
}
