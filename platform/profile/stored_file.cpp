// Reading the configuration file whole, and replacing it atomically under a
// lock that all writing processes share.
#include "platform/profile/stored_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include "platform/file_utilities.h"
#include "platform/trust/trust.h"

namespace profile::storage {
namespace {

using file_utilities::Descriptor;
using file_utilities::folder_of;
using file_utilities::name_of;

struct Opened {
  Contents contents;
  struct stat info{};
};

Opened read_with_status(const std::string& path) {
  Opened opened;
  // Non-blocking, so a pipe in the file's place cannot stall the caller.
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd.valid()) {
    opened.contents.presence = errno == ENOENT ? Presence::missing : Presence::unusable;
    if (errno != ENOENT) opened.contents.problem = std::strerror(errno);
    return opened;
  }
  opened.contents.presence = Presence::unusable;
  if (::fstat(fd.get(), &opened.info) != 0) {
    opened.contents.problem = std::strerror(errno);
    return opened;
  }
  if (!S_ISREG(opened.info.st_mode)) {
    opened.contents.problem =
        S_ISDIR(opened.info.st_mode) ? std::strerror(EISDIR) : "not a regular file";
    return opened;
  }
  // The path was checked before; a file swapped in since is not read.
  if (std::string why = trust::opened_refusal(fd.get()); !why.empty()) {
    opened.contents.problem = std::move(why);
    return opened;
  }
  std::string text;
  text.reserve(static_cast<std::size_t>(opened.info.st_size));
  char chunk[65536];
  for (;;) {
    const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      opened.contents.problem = std::strerror(errno);
      return opened;
    }
    text.append(chunk, static_cast<std::size_t>(got));
  }
  opened.contents.text = std::move(text);
  opened.contents.presence = Presence::present;
  return opened;
}

// The file a write to `path` must replace: the end of its chain of links,
// which may not exist yet. Nothing when the chain loops.
std::optional<std::string> link_target(std::string path) {
  for (int depth = 0; depth < file_utilities::kMaxLinkDepth; ++depth) {
    struct stat info{};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char target[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof target) return std::nullopt;
    std::string next(target, static_cast<std::size_t>(length));
    path = next.front() == '/' ? next : folder_of(path) + '/' + next;
  }
  return std::nullopt;
}

std::string temporary_prefix(const std::string& name) { return "." + name + ".new-"; }

// Temporary files are only made under the lock, so any found while holding
// it were left by a writer that was killed before its rename.
void remove_stale_temporaries(int folder, const std::string& name) {
  const int listing_fd = ::dup(folder);
  if (listing_fd < 0) return;
  DIR* listing = ::fdopendir(listing_fd);
  if (listing == nullptr) {
    ::close(listing_fd);
    return;
  }
  const std::string prefix = temporary_prefix(name);
  while (const dirent* entry = ::readdir(listing)) {
    if (std::string_view(entry->d_name).starts_with(prefix)) {
      ::unlinkat(folder, entry->d_name, 0);
    }
  }
  ::closedir(listing);
}

bool lock(int fd) {
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace

Contents read_whole(const std::string& path) { return read_with_status(path).contents; }

bool update(const std::string& path,
            const std::function<std::string(std::string_view)>& edit) {
  if (path.empty()) return false;
  const std::optional<std::string> target = link_target(path);
  if (!target) return false;
  const std::string name = name_of(*target);
  if (name.empty()) return false;

  // The lock sits on the folder: the file itself is replaced by each
  // rename, so a lock on it would not be seen by the next writer.
  Descriptor folder(::open(folder_of(*target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.valid() || !lock(folder.get())) return false;
  remove_stale_temporaries(folder.get(), name);

  const Opened old = read_with_status(*target);
  if (old.contents.presence == Presence::unusable) return false;
  const bool existed = old.contents.presence == Presence::present;
  // The rename would get past a read-only file; its owner meant it kept.
  if (existed && ::access(target->c_str(), W_OK) != 0) return false;
  const std::string text = edit(old.contents.text);
  if (existed && text == old.contents.text) return true;

  std::string temporary;
  Descriptor out;
  for (unsigned attempt = 0; !out.valid() && attempt < 100; ++attempt) {
    temporary = temporary_prefix(name) + std::to_string(::getpid()) + '-' +
                std::to_string(attempt);
    // A new file gets the usual 0666 less the umask; an existing one's
    // own bits are set on the temporary file before it is written.
    out = Descriptor(::openat(folder.get(), temporary.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                              existed ? 0600 : 0666));
    if (!out.valid() && errno != EEXIST) return false;
  }
  if (!out.valid()) return false;

  file_utilities::Replacement how{.folder = folder.get(), .temporary = temporary, .target = name,
                                  .durable = true};
  if (existed) {
    how.owner = {old.info.st_uid, old.info.st_gid};
    how.bits = old.info.st_mode & 07777;
  }
  return file_utilities::replace(how, std::move(out), text) == 0;
}

}  // namespace profile::storage
