// The walk from / to the configuration file, one name at a time, as the
// kernel would take it but looking at every folder and link on the way.
// Each step opens the next name relative to the folder already checked,
// without following it, so what is checked is what is used.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <string>
#include <utility>

#include "platform/file_utilities.h"
#include "platform/trust/trust.h"
#include "platform/trust/trust_rules.h"

namespace trust {
namespace {

using file_utilities::Descriptor;

void push_names_front(std::deque<std::string>& names, const std::string& path) {
  std::deque<std::string> front;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) front.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  names.insert(names.begin(), front.begin(), front.end());
}

std::string joined(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

std::string folder_refusal(const struct stat& info, const std::string& shown) {
  if (!rules::trusted_owner(info.st_uid)) {
    return "the folder " + shown + " " + rules::foreign_owner(info.st_uid);
  }
  if (rules::writable_by_others(info.st_mode)) {
    return "the folder " + shown + " is writable by other users";
  }
  return {};
}

// Why `path` is not to be trusted, or empty. With `reached`, `path` names
// a folder, which is handed back opened for use with openat(2); it stays
// closed when a name on the way is missing or is no folder.
std::string walk(const std::string& path, Descriptor* reached = nullptr) {
  std::string absolute = path;
  if (path.front() != '/') {
    char here[PATH_MAX];
    if (::getcwd(here, sizeof here) == nullptr) {
      return std::string("the current folder cannot be told (") + std::strerror(errno) + ")";
    }
    absolute = joined(here, path);
  }
  std::deque<std::string> names;
  push_names_front(names, absolute);

  Descriptor folder(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct stat info{};
  if (!folder.valid() || ::fstat(folder.get(), &info) != 0) {
    return std::string("the folder / cannot be examined (") + std::strerror(errno) + ")";
  }
  if (std::string why = folder_refusal(info, "/"); !why.empty()) return why;
  std::string shown = "/";
  int links = 0;

  while (!names.empty()) {
    const std::string name = std::move(names.front());
    names.pop_front();
    if (name == ".") continue;
    const std::string next_shown =
        name == ".." ? file_utilities::folder_of(shown) : joined(shown, name);
    Descriptor next(::openat(folder.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    // A missing name leaves nothing to trust or distrust: reading gives
    // the defaults, and a write can only create the file in a folder that
    // has been checked.
    if (!next.valid() && (errno == ENOENT || errno == ENOTDIR)) return {};
    if (!next.valid() || ::fstat(next.get(), &info) != 0) {
      return next_shown + " cannot be examined (" + std::strerror(errno) + ")";
    }
    if (S_ISLNK(info.st_mode)) {
      if (!rules::trusted_owner(info.st_uid)) {
        return "the symbolic link " + next_shown + " " + rules::foreign_owner(info.st_uid);
      }
      char target[PATH_MAX];
      const ssize_t length = ::readlinkat(next.get(), "", target, sizeof target);
      if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) {
        return "the symbolic link " + next_shown + " cannot be read";
      }
      if (++links > file_utilities::kMaxLinkDepth) {
        return next_shown + ": too many levels of symbolic links";
      }
      const std::string text(target, static_cast<std::size_t>(length));
      push_names_front(names, text);
      if (text.front() == '/') {
        // The root folder was checked first of all.
        folder = Descriptor(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        shown = "/";
        if (!folder.valid()) return "the folder / cannot be examined";
      }
      continue;
    }
    if (S_ISDIR(info.st_mode)) {
      if (std::string why = folder_refusal(info, next_shown); !why.empty()) return why;
      folder = std::move(next);
      shown = next_shown;
      continue;
    }
    if (reached != nullptr) return {};
    // Anything but a regular file cannot be read as the configuration
    // file anyway, and the reader says so in its own words.
    if (!names.empty() || !S_ISREG(info.st_mode)) return {};
    if (std::string why = rules::file_refusal(info, next_shown); !why.empty()) return why;
    // Its lines quote the file's values; access(2) asks with the real ids.
    if (elevated() && ::access(next_shown.c_str(), R_OK) != 0) {
      return next_shown +
             " cannot be read by the user running this program, and a host with more rights"
             " than its user shows nothing of such a file";
    }
    return {};
  }
  if (reached != nullptr) *reached = std::move(folder);
  return {};
}

}  // namespace

namespace rules {

std::string open_folder(const std::string& path, Descriptor& folder) {
  return walk(path, &folder);
}

}  // namespace rules

std::string configuration_refusal(const std::string& path) {
  if (path.empty() || !privileged()) return {};
  return walk(path);
}

std::string opened_refusal(int fd) {
  if (!privileged()) return {};
  struct stat info{};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return {};
  return rules::file_refusal(info, "the file");
}

}  // namespace trust
