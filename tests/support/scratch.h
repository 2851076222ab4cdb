// Scratch folders: one per test or per run, below TMPDIR, removed with all
// they hold. The test presets point TMPDIR at build/<preset>/scratch, which
// only its owner can write: run as root, the library trusts no
// configuration file below a folder that others can write, such as /tmp.
#pragma once

#include <sys/types.h>

#include <string>

namespace test_kit {

// TMPDIR when it is set, else the build's scratch folder when it exists and
// this user may write it (a test program run by hand), else /tmp.
std::string scratch_base();

// A fresh folder "<base>/<name>XXXXXX" (mkdtemp: owner only); throws
// std::runtime_error when it cannot be made.
std::string make_scratch_directory(const std::string& name,
                                   const std::string& base = scratch_base());

// Removes `path` and all below it, even folders a test left without
// permissions.
void remove_tree(const std::string& path);

class ScratchFolder {
 public:
  // `mode` other than 0700 opens the folder to other users (a program run
  // as another user must reach it).
  explicit ScratchFolder(const std::string& name = "tarnwick-test-", mode_t mode = 0700);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  // A path in the folder.
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& text) const;
  std::string read(const std::string& name) const;

 private:
  std::string path_;
};

}  // namespace test_kit
