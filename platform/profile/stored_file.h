// Reading a configuration file, and replacing it safely while other
// processes read and write it too.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace profile::storage {

enum class Presence { present, missing, unusable };

struct Contents {
  Presence presence = Presence::missing;
  std::string text;
  std::string problem;  // why an unusable file could not be read
};

// The whole file. Only a regular file (or a link to one) that can be read
// is present; a directory, a device or a pipe is unusable, never waited on,
// and so is a file larger than 1 MiB. The text last read is kept and given
// again while the file keeps its inode, times and size, so that a host
// reading key after key reads the file once.
Contents read_whole(const std::string& path);

// Replaces the file's text with edit(old text), where a missing file reads
// as empty and is created. Writers of one folder take turns under a lock on
// the folder, which outlives the renames that replace the file; the new
// text goes to a temporary file beside it, which is renamed over the file,
// so readers and a writer killed half-way only ever leave old or new text.
// A symbolic link is followed and its target replaced, keeping the link,
// unless the kernel would not follow it for this user (another user's link
// in a sticky folder that everyone can write). The lock is given up when
// its holder has changed nothing for a second (10 s at most). The file keeps
// its permission bits, its owner and its group; a writer that cannot give
// the new file the old owner and group leaves the file alone. A file
// without the write bit of the class (owner, group, others) that applies
// to this user is read-only, for root too. False, with nothing changed,
// when the file cannot be read, is not writable, or the new text cannot be
// written; the lock, a refused link and an owner that could not be kept
// are told in one line on standard error.
bool update(const std::string& path,
            const std::function<std::string(std::string_view)>& edit);

}  // namespace profile::storage
