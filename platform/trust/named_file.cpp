// Opening the files that the configuration file names, and the owner and
// mode rules that the path walk shares.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/trust/trust.h"
#include "platform/trust/trust_rules.h"

namespace trust {

namespace rules {

bool trusted_owner(uid_t owner) { return owner == 0 || owner == ::getuid(); }

std::string foreign_owner(uid_t owner) {
  return "belongs to user " + std::to_string(owner) +
         ", neither root nor the user running this program";
}

std::string file_refusal(const struct stat& info, const std::string& shown) {
  if (!trusted_owner(info.st_uid)) return shown + " " + foreign_owner(info.st_uid);
  if (writable_by_others(info.st_mode)) return shown + " is writable by other users";
  return {};
}

}  // namespace rules

namespace {

int refuse(int fd, std::string& error, std::string why) {
  ::close(fd);
  error = std::move(why);
  errno = EPERM;
  return -1;
}

}  // namespace

int open_named_file(const std::string& path, int flags, mode_t mode,
                    std::string& error) {
  if (!privileged()) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    if (fd < 0) error = std::strerror(errno);
    return fd;
  }
  // Non-blocking only for the open, so that a FIFO planted at the name
  // cannot hold the process before it is looked at; truncation waits for
  // the checks.
  const int fd = ::open(path.c_str(),
                        (flags & ~O_TRUNC) | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                        0600);
  if (fd < 0) {
    const int reason = errno;
    error = reason == ELOOP ? "it is a symbolic link, which a privileged process does not follow"
                            : std::strerror(reason);
    errno = reason;
    return -1;
  }
  struct stat info{};
  if (::fstat(fd, &info) != 0) return refuse(fd, error, std::strerror(errno));
  if (!rules::trusted_owner(info.st_uid)) {
    return refuse(fd, error, "it " + rules::foreign_owner(info.st_uid));
  }
  // Another name of the same file could be one of root's own files, hard
  // linked into a folder where anyone may create names.
  if (S_ISREG(info.st_mode) && info.st_nlink > 1) {
    return refuse(fd, error, "it has other names (hard links)");
  }
  const int status = ::fcntl(fd, F_GETFL);
  if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0 ||
      ((flags & O_TRUNC) != 0 && S_ISREG(info.st_mode) && ::ftruncate(fd, 0) != 0)) {
    return refuse(fd, error, std::strerror(errno));
  }
  return fd;
}

}  // namespace trust
