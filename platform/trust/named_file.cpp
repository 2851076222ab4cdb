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

bool trusted_owner(uid_t owner) { return owner == 0 || (!elevated() && owner == ::getuid()); }

std::string foreign_owner(uid_t owner) {
  if (elevated()) {
    return "belongs to user " + std::to_string(owner) +
           ", not to root, whose files alone a host with more rights than its user trusts";
  }
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

// What kind of file may stand behind a name. A FIFO would hold the process
// until another one opens its other end, and a socket or a block device
// is no trace, waveform or image; a character device is what a user means
// by /dev/null or /dev/tty, but not one the user may pick for a process
// that has more rights than the user.
std::string kind_refusal(mode_t mode) {
  if (S_ISREG(mode)) return {};
  if (S_ISCHR(mode) && !elevated()) return {};
  if (S_ISFIFO(mode)) return "it is a FIFO (named pipe), not a regular file";
  if (S_ISSOCK(mode)) return "it is a socket, not a regular file";
  if (S_ISBLK(mode)) return "it is a block device, not a regular file";
  // A folder cannot be written, and the image reader names one in its own
  // words, as it always has.
  if (S_ISDIR(mode)) return {};
  return "it is a device, which a host with more rights than its user does not open";
}

}  // namespace

int open_named_file(const std::string& path, int flags, mode_t mode,
                    std::string& error) {
  const bool strict = privileged();
  // Non-blocking only for the open, so that a FIFO at the name cannot hold
  // the process before it is looked at; truncation waits for the checks.
  const int open_flags = (flags & ~O_TRUNC) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                         (strict ? O_NOFOLLOW : 0);
  // A privileged process takes every folder on the way as it takes those of
  // its configuration file: a link or folder that another user controls
  // would let that user point the file at one of root's own.
  file_utilities::Descriptor folder;
  if (strict) {
    if (std::string why = rules::open_folder(file_utilities::folder_of(path), folder);
        !why.empty()) {
      error = std::move(why);
      errno = EPERM;
      return -1;
    }
    if (!folder.valid()) {
      error = std::strerror(ENOENT);
      errno = ENOENT;
      return -1;
    }
  }
  const int fd = strict ? ::openat(folder.get(), file_utilities::name_of(path).c_str(),
                                   open_flags, 0600)
                        : ::open(path.c_str(), open_flags, mode);
  if (fd < 0) {
    const int reason = errno;
    if (strict && reason == ELOOP) {
      error = "it is a symbolic link, which a privileged process does not follow";
    } else if (reason == ENXIO) {
      // What a FIFO without a reader, or a socket, gives a non-blocking open.
      struct stat info{};
      const int looked = strict ? ::fstatat(folder.get(), file_utilities::name_of(path).c_str(),
                                            &info, AT_SYMLINK_NOFOLLOW)
                                : ::stat(path.c_str(), &info);
      error = looked == 0 && !kind_refusal(info.st_mode).empty()
                  ? kind_refusal(info.st_mode)
                  : std::strerror(reason);
    } else {
      error = std::strerror(reason);
    }
    errno = reason;
    return -1;
  }
  struct stat info{};
  if (::fstat(fd, &info) != 0) return refuse(fd, error, std::strerror(errno));
  if (std::string why = kind_refusal(info.st_mode); !why.empty()) {
    return refuse(fd, error, std::move(why));
  }
  if (strict && !rules::trusted_owner(info.st_uid)) {
    return refuse(fd, error, "it " + rules::foreign_owner(info.st_uid));
  }
  // Another name of the same file could be one of root's own files, hard
  // linked into a folder where anyone may create names.
  if (strict && S_ISREG(info.st_mode) && info.st_nlink > 1) {
    return refuse(fd, error, "it has other names (hard links)");
  }
  // Root passes every permission check: a file whose owner took the write
  // bits away is still not to be appended to or truncated.
  if ((flags & O_ACCMODE) != O_RDONLY && S_ISREG(info.st_mode) &&
      !file_utilities::mode_allows_writing(info)) {
    return refuse(fd, error, "it is read-only");
  }
  const int status = ::fcntl(fd, F_GETFL);
  if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0 ||
      ((flags & O_TRUNC) != 0 && S_ISREG(info.st_mode) && ::ftruncate(fd, 0) != 0)) {
    return refuse(fd, error, std::strerror(errno));
  }
  return fd;
}

int open_named_folder(const std::string& path, std::string& error) {
  const std::string folder_path = file_utilities::folder_of(path);
  file_utilities::Descriptor folder;
  if (!privileged()) {
    folder = file_utilities::Descriptor(
        ::open(folder_path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  } else if (std::string why = rules::open_folder(folder_path, folder); !why.empty()) {
    error = std::move(why);
    errno = EPERM;
    return -1;
  } else if (!folder.valid()) {
    errno = ENOENT;
  }
  if (!folder.valid()) {
    error = std::strerror(errno);
    return -1;
  }
  return ::fcntl(folder.get(), F_DUPFD_CLOEXEC, 0);
}

}  // namespace trust
