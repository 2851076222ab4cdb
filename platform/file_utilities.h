// Files written whole: a descriptor that closes itself, a write that goes
// on until every byte is out, the parts of a path, and a file replaced
// through a temporary file beside it, which the configuration file and the
// bench's EEPROM image both are.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace file_utilities {

// Symbolic links are followed at most this deep, as the kernel does.
inline constexpr int kMaxLinkDepth = 40;

// An open file descriptor, closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor();

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now, reporting whether the close (the last chance to see a
  // write error) succeeded.
  bool close();

 private:
  int fd_;
};

// Writes every byte, through short writes and interrupted calls. False,
// with errno set by the write that failed, on any other error.
bool write_all(int fd, std::string_view bytes);

// The folder that holds the last name of `path`: "." for a bare name, "/"
// for a name in the root folder.
std::string folder_of(const std::string& path);
// The last name of `path` (empty when it ends in a slash).
std::string name_of(const std::string& path);

// Whether the mode bits let this process write the file: the bits of the
// one class (owner, group, others) that applies, as the kernel picks it.
// Root passes access(W_OK) for every file, so the bits are looked at
// directly: a file whose owner took the write bit away is left as it is,
// by root too.
bool mode_allows_writing(const struct stat& info);

// A file replaced whole: its new bytes go to a temporary file beside it,
// which is then renamed over it, so that readers, and a writer killed
// half-way, only ever find the old bytes or the new. The caller makes the
// temporary file (its name and creation mode are the caller's own), and
// says what the new file takes over from the old one.
struct Replacement {
  int folder;             // the folder both names are in: its descriptor, or AT_FDCWD
  std::string temporary;  // the new file, made for this replacement alone
  std::string target;     // the file it replaces
  // Set on the new file before its bytes are written: the owner first (kept
  // only by a privileged writer, not a failure otherwise), then the
  // permission bits exactly as given, whatever the umask.
  std::optional<std::pair<uid_t, gid_t>> owner = std::nullopt;
  std::optional<mode_t> bits = std::nullopt;
  // Synced to the disk: the new file before the rename, the folder after it.
  bool durable = false;
};

// Writes `bytes` to the temporary file, open as `out`, and renames it over
// the target. 0 when the target holds the new bytes; otherwise the errno of
// the first step that failed, the temporary file removed and the target
// left as it was.
int replace(const Replacement& how, Descriptor out, std::string_view bytes);

}  // namespace file_utilities
