// The owner and mode rules shared by the path walk and the named files.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "platform/file_utilities.h"

namespace trust::rules {

// Root, or the user who started the process (not the one it runs as);
// only root for an elevated process, whose user must not choose its files.
bool trusted_owner(uid_t owner);

// Group or others may write: with sudo and OpenSSH, a group of one is no
// exception, and for a folder the sticky bit is none either.
inline bool writable_by_others(mode_t mode) { return (mode & (S_IWGRP | S_IWOTH)) != 0; }

// "belongs to user 1000, neither root nor the user running this program"
std::string foreign_owner(uid_t owner);

// Why a regular file `shown` with status `info` is no configuration file
// to trust; empty when it is.
std::string file_refusal(const struct stat& info, const std::string& shown);

// The walk that the configuration file gets, over the folder `path`: why
// one of its folders or links is not to be trusted, or empty with the
// folder opened in `folder` (left closed when a name on the way is missing
// or no folder), so that a file opened relative to it is the one checked.
std::string open_folder(const std::string& path, file_utilities::Descriptor& folder);

}  // namespace trust::rules
