#define FUSE_USE_VERSION 31
#include "daemon/cuse_device.h"

#include <cuse_lowlevel.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "daemon/device_node.h"

namespace i2cdev {

namespace {

// One device per process: the CUSE callbacks reach it through here.
struct Device {
  Bus* bus = nullptr;
  DeviceOptions options;
  std::string name;  // i2c-<number>
  std::string node;  // /dev/i2c-<number>
  fuse_session* session = nullptr;
  int folder = -1;   // the folder it was started in
  bool created = false;
};
Device device;

// libfuse moves a daemon to / when it sets up (in the foreground too); the
// library looks for I2C.INI in the current folder at every bus opening, so
// the daemon goes back to where it was started and reads the file it was
// started with.
void back_to_start_folder() {
  if (device.folder >= 0 && ::fchdir(device.folder) != 0) {
    std::fprintf(stderr, "tarnwick-i2cdev: cannot return to the folder it was started in: %s\n",
                 std::strerror(errno));
  }
}

// devtmpfs makes the node while the kernel takes the device, before this
// process hears of it; a moment's grace for a slower /dev.
bool node_is_ours() {
  const std::string dev_file = "/sys/class/cuse/" + device.name + "/dev";
  for (int tenth = 0; tenth < 10; ++tenth) {
    if (node_belongs_to(device.node, dev_file)) return true;
    ::usleep(100000);
  }
  return false;
}

Client* client_of(const fuse_file_info* fi) {
  return reinterpret_cast<Client*>(static_cast<std::uintptr_t>(fi->fh));
}

// The device is there: its node gets its owner and mode, and only then
// does the daemon go to the background, so that whoever started it finds
// the device ready, and hears of every failure before it.
void on_init_done(void*) {
  if (!node_is_ours()) {
    // Another device's node of the same name (or none) is left alone.
    fuse_session_exit(device.session);
    return;
  }
  device.created = true;
  // devtmpfs made the node as root, 0600, when the kernel took the device.
  if (::chown(device.node.c_str(), 0, device.options.group) != 0 ||
      ::chmod(device.node.c_str(), device.options.mode) != 0) {
    std::fprintf(stderr, "tarnwick-i2cdev: cannot set the owner and mode of %s: %s\n",
                 device.node.c_str(), std::strerror(errno));
  }
  if (!device.options.foreground) {
    fuse_daemonize(0);
    back_to_start_folder();
  }
}

void on_open(fuse_req_t req, fuse_file_info* fi) {
  auto* client = new (std::nothrow) Client;
  if (client == nullptr) {
    fuse_reply_err(req, ENOMEM);
    return;
  }
  fi->fh = reinterpret_cast<std::uintptr_t>(client);
  fi->nonseekable = 1;
  fuse_reply_open(req, fi);
}

void on_release(fuse_req_t req, fuse_file_info* fi) {
  delete client_of(fi);
  fuse_reply_err(req, 0);
}

void on_read(fuse_req_t req, size_t size, off_t, fuse_file_info* fi) {
  std::vector<std::uint8_t> buf(std::min<size_t>(size, TARNWICK_MAX_LEN));
  const long done = read(*device.bus, *client_of(fi), buf.data(), buf.size());
  if (done < 0) {
    fuse_reply_err(req, static_cast<int>(-done));
  } else {
    fuse_reply_buf(req, reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(done));
  }
}

void on_write(fuse_req_t req, const char* buf, size_t size, off_t, fuse_file_info* fi) {
  const long done = write(*device.bus, *client_of(fi), reinterpret_cast<const std::uint8_t*>(buf), size);
  if (done < 0) {
    fuse_reply_err(req, static_cast<int>(-done));
  } else {
    fuse_reply_write(req, static_cast<size_t>(done));
  }
}

void on_ioctl(fuse_req_t req, int cmd, void* arg, fuse_file_info* fi, unsigned int flags,
              const void* in_buf, size_t in_bufsz, size_t out_bufsz) {
  // A 32-bit caller's structures have another layout (4-byte pointers).
  if (flags & FUSE_IOCTL_COMPAT) {
    fuse_reply_err(req, EINVAL);
    return;
  }
  const Answer answer =
      ioctl(*device.bus, *client_of(fi), static_cast<unsigned int>(cmd),
            reinterpret_cast<std::uintptr_t>(arg),
            {static_cast<const std::uint8_t*>(in_buf), in_bufsz}, out_bufsz);
  if (answer.retry) {
    fuse_reply_ioctl_retry(req, answer.in.data(), answer.in.size(), answer.out.data(),
                           answer.out.size());
  } else if (answer.result < 0) {
    fuse_reply_err(req, static_cast<int>(-answer.result));
  } else {
    fuse_reply_ioctl(req, static_cast<int>(answer.result), answer.data.data(), answer.data.size());
  }
}

}  // namespace

int serve(Bus& bus, const DeviceOptions& options) {
  device.bus = &bus;
  device.options = options;
  device.name = "i2c-" + std::to_string(options.number);
  device.node = "/dev/" + device.name;
  device.folder = ::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);

  const std::string devname = "DEVNAME=" + device.name;
  const char* dev_info[] = {devname.c_str()};
  cuse_info info{};
  info.dev_info_argc = 1;
  info.dev_info_argv = dev_info;
  // i2c-dev's requests carry no size in their numbers and point at further
  // memory: the kernel must let this process ask for it.
  info.flags = CUSE_UNRESTRICTED_IOCTL;

  cuse_lowlevel_ops ops{};
  ops.init_done = on_init_done;
  ops.open = on_open;
  ops.release = on_release;
  ops.read = on_read;
  ops.write = on_write;
  ops.ioctl = on_ioctl;

  // One request at a time: the bus makes one transaction at a time anyway,
  // and the files' settings need no locks. libfuse stays in the foreground:
  // the daemon leaves it once the device is there (on_init_done).
  std::vector<const char*> args{"tarnwick-i2cdev", "-s", "-f"};
  int multithreaded = 0;
  fuse_session* session = cuse_lowlevel_setup(static_cast<int>(args.size()),
                                              const_cast<char**>(args.data()), &info, &ops,
                                              &multithreaded, nullptr);
  if (session == nullptr) {
    std::fprintf(stderr, "tarnwick-i2cdev: cannot set up the CUSE device %s\n", device.node.c_str());
    return 1;
  }
  device.session = session;
  back_to_start_folder();
  const int status = fuse_session_loop(session);
  cuse_lowlevel_teardown(session);
  if (!device.created) {
    std::fprintf(stderr, "tarnwick-i2cdev: the kernel refused %s (is the name taken?)\n",
                 device.node.c_str());
    return 1;
  }
  return status < 0 ? 1 : 0;
}

}  // namespace i2cdev
