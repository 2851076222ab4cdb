// What a privileged process may believe. A configuration file steers which
// ports a process drives and which files it writes; when the process has
// more rights than the user who started it, a file that another user could
// have placed or changed must not steer it. The rules are those of
// OpenSSH's strict modes and of sudo's checks of its own files.
#pragma once

#include <sys/types.h>

#include <string>

namespace trust {

// The effective user is root, the process runs set-user-ID or
// set-group-ID or with file capabilities (the kernel's secure mode), or it
// holds CAP_SYS_RAWIO (the right to drive I/O ports).
bool privileged();

// Privileged, but started by a user other than root: set-user-ID or
// set-group-ID, file or inherited capabilities. Such a host must not let
// the user who started it choose what it reads or writes with its raised
// rights, so it trusts only what root owns, ignores the environment's
// I2C_INI and TARNWICK_SEM_PREFIX, and does not open devices that a
// configuration file names. Root running a console of its own is
// privileged but not elevated: it trusts its own files as before.
bool elevated();

// getenv(name), but nothing for an elevated process, as glibc's
// secure_getenv does: the user who started it set its environment.
const char* environment(const char* name);

// Why a privileged process must not use `path` as its configuration file,
// in words that name the file or folder at fault; empty when it may, and
// always empty for an unprivileged process. Every folder from / on must
// belong to root or the real user and be writable by nobody else (a sticky
// bit does not help); a symbolic link on the way is followed only when it
// belongs to root or the real user; an existing file must be a regular
// file of root or the real user that nobody else can write. A file that is
// missing, or is not a regular file, is no matter of trust: reading it
// gives the defaults either way.
std::string configuration_refusal(const std::string& path);

// The same owner and mode rule for a configuration file already opened,
// so that a file swapped in after the check is not read either; empty when
// the process is unprivileged or the file passes.
std::string opened_refusal(int fd);

// Opens a file that the configuration file names (a trace, a waveform, an
// EEPROM image) with open(2)'s `flags` and `mode`. Any process refuses a
// FIFO, a socket or a block device without waiting on it, and an
// elevated one a character device too (/dev/null and /dev/tty are fine
// for anyone else). A privileged process walks every folder on the way as
// configuration_refusal does, does not follow a final symbolic link,
// refuses a file that exists and belongs to neither root nor the real user
// (root alone when elevated) or that has other names (hard links), and
// creates a new file with mode 0600. Any process refuses to write to a
// regular file whose mode bits deny it writing (root too, which the kernel
// would let through). O_TRUNC takes effect only after those checks. Gives the descriptor, or -1 with the reason in
// `error` (the system's words, or which rule refused the file).
int open_named_file(const std::string& path, int flags, mode_t mode,
                    std::string& error);

// The folder that holds `path`, opened with O_PATH for the *at calls, for a
// file that is replaced by renaming a new one over it: a privileged
// process walks to it as to its configuration file, so that no link or
// folder of another user leads it into one of root's folders. Gives the
// descriptor, or -1 with the reason in `error`. A caller that keeps the
// mode of the file it replaces takes it with fstatat(AT_SYMLINK_NOFOLLOW)
// from this folder, and only from a regular file: a link's target may be
// any file of root's.
int open_named_folder(const std::string& path, std::string& error);

}  // namespace trust
