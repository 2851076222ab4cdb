// The configuration file: a small private-profile store with the semantics
// hosts know from INI files.
//
//   [Section]
//   ; comment
//   Key = value
//
// Section and key names match case-insensitively; blanks around names and
// values are trimmed; a value wrapped in one pair of matching quotes loses
// them; the first matching section and key win. Every call reads the file
// afresh, so a change made by another process is seen at the next call.
#pragma once

#include <cstddef>
#include <string>

namespace profile {

// Where the configuration file is: the path in the environment variable
// I2C_INI when it is set and not empty (and the process is not elevated:
// see trust::environment), otherwise the file of the current
// directory whose name is "I2C.INI" in any letter case ("I2C.INI" itself
// first, else the lowest name in byte order; "I2C.INI" when none exists).
std::string file_path();

// Copies the value of `key` in `section` into `buffer` (capacity `size`,
// at least 1), or `fallback` when the file, the section or the key is
// missing. The text is cut to size - 1 characters and always terminated.
// A key that is present with an empty value gives the empty string.
// Returns the number of characters copied.
std::size_t get(const char* section, const char* key, const char* fallback,
                char* buffer, std::size_t size);
std::size_t get(const std::string& path, const char* section, const char* key,
                const char* fallback, char* buffer, std::size_t size);

// Why the configuration file at `path` exists but cannot be read (the
// system's reason, such as "Permission denied" or "Is a directory"); empty
// when it can be read or does not exist. Either way get() then gives the
// fallbacks, but only a missing file is what a person expects.
std::string unreadable_reason(const std::string& path);

// Why this process, being privileged, does not use the file at `path` at
// all (see platform/trust): the file or folder at fault and what is wrong
// with it. Empty when it uses the file, always so for an unprivileged
// process. A refused file gives only fallbacks and is never written.
std::string refusal(const std::string& path);

// Sets `key` in `section` to `value`: replaces the value of the first
// matching key, or adds the key at the end of its section, or adds the
// section at the end of the file, creating the file when it is missing.
// Every other byte of the file is kept. The file is replaced atomically and
// writers in different processes are serialised, so the file is never torn
// and no writer loses another's key. A symbolic link is written through.
// New lines take the file's line end (CRLF or LF). A value that would lose
// blanks or quotes on reading is written inside double quotes.
// Returns false (file unchanged) when the file cannot be written, or when
// the names or value cannot be stored as given: a line break anywhere, a
// ']' in the section, an empty key, a key holding '=' or starting with
// ';' or '['.
bool put(const char* section, const char* key, const char* value);
bool put(const std::string& path, const char* section, const char* key,
         const char* value);

}  // namespace profile
