#include "tests/support/scratch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "tests/support/files.h"

namespace test_kit {

std::string scratch_base() {
  const char* base = std::getenv("TMPDIR");
  if (base != nullptr && *base != '\0') return base;
#ifdef TEST_KIT_SCRATCH_FOLDER
  // A test program started by hand, outside ctest: as root it would write
  // its configuration below /tmp, which the library refuses, and run
  // against the default bench instead of the one the test describes.
  struct stat folder{};
  if (::stat(TEST_KIT_SCRATCH_FOLDER, &folder) == 0 && S_ISDIR(folder.st_mode) &&
      ::access(TEST_KIT_SCRATCH_FOLDER, W_OK | X_OK) == 0) {
    return TEST_KIT_SCRATCH_FOLDER;
  }
#endif
  return "/tmp";
}

std::string make_scratch_directory(const std::string& name, const std::string& base) {
  std::string pattern = base + "/" + name + "XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a scratch folder from " + pattern);
  }
  return pattern;
}

void remove_tree(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ignored;
  if (path.empty() || fs::remove_all(path, ignored) != static_cast<std::uintmax_t>(-1)) return;
  // A folder without permissions stops the removal: open every folder to
  // its owner, then remove again.
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
  for (auto entry = fs::recursive_directory_iterator(path, ignored);
       entry != fs::recursive_directory_iterator(); entry.increment(ignored)) {
    if (entry->is_directory(ignored) && !entry->is_symlink(ignored)) {
      fs::permissions(entry->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::remove_all(path, ignored);
}

ScratchFolder::ScratchFolder(const std::string& name, mode_t mode)
    : path_(make_scratch_directory(name)) {
  if (mode != 0700 && ::chmod(path_.c_str(), mode) != 0) {
    remove_tree(path_);
    throw std::runtime_error("cannot open " + path_ + " to other users");
  }
}

ScratchFolder::~ScratchFolder() { remove_tree(path_); }

void ScratchFolder::write(const std::string& name, const std::string& text) const {
  write_file(file(name), text);
}

std::string ScratchFolder::read(const std::string& name) const { return read_file(file(name)); }

}  // namespace test_kit
