// Reading the configuration file whole, and replacing it atomically under a
// lock that all writing processes share.
#include "platform/profile/stored_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <time.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/file_utilities.h"
#include "platform/stderr_line.h"
#include "platform/trust/trust.h"

namespace profile::storage {
namespace {

using file_utilities::Descriptor;
using file_utilities::folder_of;
using file_utilities::name_of;

constexpr off_t kLargestFile = off_t{1} << 20;

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
  // A configuration file is a few kilobytes; one far larger is a mistake
  // or an attack, and reading it whole would cost every host its memory.
  if (opened.info.st_size > kLargestFile) {
    opened.contents.problem = "larger than 1 MiB";
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

// Whether the kernel's rule for links in sticky folders (protected_symlinks)
// forbids this user to follow `link`: in a sticky folder that every user
// can write, a link is followed only by its own owner or when the folder's
// owner made it. Applied whatever the sysctl says, since the link was
// planted where anyone may plant one.
bool forbidden_link(const std::string& link, const struct stat& info) {
  struct stat folder{};
  if (::stat(folder_of(link).c_str(), &folder) != 0) return true;
  const bool open_sticky = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
  return open_sticky && info.st_uid != folder.st_uid && info.st_uid != ::geteuid();
}

// The file a write to `path` must replace: the end of its chain of links,
// which may not exist yet. Nothing when the chain loops, or passes a link
// that the kernel would not follow for this user.
std::optional<std::string> link_target(std::string path) {
  for (int depth = 0; depth < file_utilities::kMaxLinkDepth; ++depth) {
    struct stat info{};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    if (forbidden_link(path, info)) {
      portio::stderr_line("not writing the debug record through " + path +
                          ": a link in a sticky folder that another user owns");
      return std::nullopt;
    }
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

// Any user who can open the folder can lock it, so the wait is short: a
// debug record is not worth a host stalled on the bus for ever. Writers
// that take turns replace the file each time, so while the file keeps
// changing the lock is changing hands and the wait goes on; a holder that
// changes nothing for a second is taken for stuck (a shorter wait gave up on
// honest writers that a loaded machine had merely not scheduled: ten writers
// on two busy cores lost keys at 200 ms). However busy the folder,
// no wait outlasts 10 s. Polling, not a blocking flock: a library must not
// take a signal of the host's to break a wait.
constexpr long long kStuckNs = 1'000'000'000;
constexpr long long kLongestNs = 10'000'000'000;
constexpr long kLockPauseNs = 1'000'000;

long long monotonic_ns() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// What a finished writer leaves different: a new inode, or new times.
struct Mark {
  ino_t inode = 0;
  long long changed = 0;
  bool operator==(const Mark&) const = default;
};

Mark mark_of(int folder, const std::string& name) {
  struct stat info{};
  if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return {};
  return {info.st_ino, static_cast<long long>(info.st_ctim.tv_sec) * 1'000'000'000 +
                           info.st_ctim.tv_nsec};
}

bool lock(int fd, const std::string& folder, const std::string& name) {
  const long long began = monotonic_ns();
  long long progress = began;
  Mark seen = mark_of(fd, name);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    const long long now = monotonic_ns();
    if (const Mark mark = mark_of(fd, name); !(mark == seen)) {
      seen = mark;
      progress = now;
    }
    if (now - progress > kStuckNs || now - began > kLongestNs) break;
    const timespec pause{0, kLockPauseNs};
    ::nanosleep(&pause, nullptr);
  }
  portio::stderr_line("not writing the debug record: " + folder +
                      " stays locked by another process");
  return false;
}

// The text last read of each file, so that a host reading key after key
// reads the file once, yet sees at once a file changed in between.
struct Remembered {
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
  timespec changed{};
  timespec status_changed{};  // a chmod or chown since shows here
  off_t size = 0;
  Contents contents;
};

bool same_file(const Remembered& seen, const std::string& path, const struct stat& now) {
  return seen.path == path && seen.device == now.st_dev && seen.inode == now.st_ino &&
         seen.changed.tv_sec == now.st_mtim.tv_sec &&
         seen.changed.tv_nsec == now.st_mtim.tv_nsec &&
         seen.status_changed.tv_sec == now.st_ctim.tv_sec &&
         seen.status_changed.tv_nsec == now.st_ctim.tv_nsec && seen.size == now.st_size;
}

// File times advance in clock ticks, so a file rewritten within the tick in
// which it was read could keep its times and size. Text read so soon after
// the file last changed is not remembered (as git treats a racy index).
bool settled(const struct stat& info) {
  constexpr long long kTickNs = 50'000'000;
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const auto ns = [](const timespec& t) {
    return static_cast<long long>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
  };
  return ns(now) - ns(info.st_mtim) > kTickNs && ns(now) - ns(info.st_ctim) > kTickNs;
}

}  // namespace

Contents read_whole(const std::string& path) {
  static std::mutex guard;
  static std::optional<Remembered> last;
  struct stat now{};
  const bool found = ::stat(path.c_str(), &now) == 0 && S_ISREG(now.st_mode);
  {
    const std::lock_guard<std::mutex> hold(guard);
    if (found && last && same_file(*last, path, now)) return last->contents;
  }
  Opened opened = read_with_status(path);
  if (opened.contents.presence == Presence::present && settled(opened.info)) {
    const std::lock_guard<std::mutex> hold(guard);
    last = Remembered{path,
                      opened.info.st_dev,
                      opened.info.st_ino,
                      opened.info.st_mtim,
                      opened.info.st_ctim,
                      opened.info.st_size,
                      opened.contents};
  }
  return std::move(opened.contents);
}

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
  if (!folder.valid() || !lock(folder.get(), folder_of(*target), name)) return false;
  remove_stale_temporaries(folder.get(), name);

  const Opened old = read_with_status(*target);
  if (old.contents.presence == Presence::unusable) return false;
  const bool existed = old.contents.presence == Presence::present;
  // The rename would get past a read-only file; its owner meant it kept.
  if (existed && (!file_utilities::mode_allows_writing(old.info) ||
                  (::geteuid() != 0 && ::access(target->c_str(), W_OK) != 0))) {
    return false;
  }
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

  // The new file must keep the old one's owner, and its group where the
  // group shares the file: a writer that may not give them (an ordinary
  // user rewriting another's group-writable file) would take the file from
  // its owner or its group, so the record is skipped. A user's own file
  // whose group only reads it (made through sudo, say, group root) may take
  // the user's group, as it always did. Writing in place instead would lose
  // the all-old-or-all-new guarantee.
  if (existed) {
    struct stat made{};
    const bool same_owner = ::fstat(out.get(), &made) == 0 && made.st_uid == old.info.st_uid;
    const bool group_shares = (old.info.st_mode & S_IWGRP) != 0;
    const bool kept =
        (same_owner && (made.st_gid == old.info.st_gid || !group_shares)) ||
        ::fchown(out.get(), old.info.st_uid, old.info.st_gid) == 0;
    if (same_owner && !group_shares && made.st_gid != old.info.st_gid) {
      // Give the old group back where the writer may; otherwise its own.
      static_cast<void>(::fchown(out.get(), old.info.st_uid, old.info.st_gid));
    }
    if (!kept) {
      out.close();
      ::unlinkat(folder.get(), temporary.c_str(), 0);
      portio::stderr_line("not writing the debug record to " + *target +
                          ": it would no longer belong to its owner");
      return false;
    }
  }

  file_utilities::Replacement how{.folder = folder.get(), .temporary = temporary, .target = name,
                                  .durable = true};
  if (existed) {
    how.owner = {old.info.st_uid, old.info.st_gid};
    // No set-user-ID, set-group-ID or sticky bit on a file that a
    // privileged process makes.
    how.bits = old.info.st_mode & (trust::privileged() ? 0777 : 07777);
  }
  return file_utilities::replace(how, std::move(out), text) == 0;
}

}  // namespace profile::storage
