#include "platform/file_utilities.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace file_utilities {

Descriptor::~Descriptor() {
  if (fd_ >= 0) ::close(fd_);
}

bool Descriptor::close() { return ::close(std::exchange(fd_, -1)) == 0; }

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd, bytes.data(), bytes.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

std::string folder_of(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool mode_allows_writing(const struct stat& info) {
  if (::geteuid() == info.st_uid) return (info.st_mode & S_IWUSR) != 0;
  bool in_group = ::getegid() == info.st_gid;
  if (!in_group) {
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
      std::vector<gid_t> groups(static_cast<std::size_t>(count));
      const int got = ::getgroups(count, groups.data());
      for (int i = 0; i < got; ++i) in_group = in_group || groups[i] == info.st_gid;
    }
  }
  if (in_group) return (info.st_mode & S_IWGRP) != 0;
  return (info.st_mode & S_IWOTH) != 0;
}

int replace(const Replacement& how, Descriptor out, std::string_view bytes) {
  if (how.owner) {
    [[maybe_unused]] const int owner_kept =
        ::fchown(out.get(), how.owner->first, how.owner->second);
  }
  bool written = (!how.bits || ::fchmod(out.get(), *how.bits) == 0) &&
                 write_all(out.get(), bytes) && (!how.durable || ::fsync(out.get()) == 0);
  int error = written ? 0 : errno;
  if (!out.close() && written) {
    written = false;
    error = errno;
  }
  if (written &&
      ::renameat(how.folder, how.temporary.c_str(), how.folder, how.target.c_str()) != 0) {
    written = false;
    error = errno;
  }
  if (!written) {
    ::unlinkat(how.folder, how.temporary.c_str(), 0);
    return error;
  }
  if (how.durable) ::fsync(how.folder);  // makes the rename itself durable
  return 0;
}

}  // namespace file_utilities
