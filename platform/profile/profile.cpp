// The private-profile calls: one key read or written per call, the file
// read afresh each time.
#include "platform/profile/profile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/profile/ini_text.h"
#include "platform/profile/stored_file.h"
#include "platform/trust/trust.h"

namespace profile {

std::size_t get(const std::string& path, const char* section, const char* key,
                const char* fallback, char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  std::optional<std::string> value;
  // A file that a privileged process must not trust gives every default.
  if (section != nullptr && key != nullptr && trust::configuration_refusal(path).empty()) {
    const storage::Contents file = storage::read_whole(path);
    if (file.presence == storage::Presence::present) {
      value = ini::lookup(file.text, section, key);
    }
  }
  const std::string_view text =
      value ? std::string_view(*value) : std::string_view(fallback ? fallback : "");
  const std::size_t length = std::min(text.size(), size - 1);
  // memmove: a caller may pass its own buffer as the fallback.
  std::memmove(buffer, text.data(), length);
  buffer[length] = '\0';
  return length;
}

std::size_t get(const char* section, const char* key, const char* fallback,
                char* buffer, std::size_t size) {
  return get(file_path(), section, key, fallback, buffer, size);
}

std::string unreadable_reason(const std::string& path) {
  const storage::Contents file = storage::read_whole(path);
  return file.presence == storage::Presence::unusable ? file.problem : std::string();
}

std::string refusal(const std::string& path) { return trust::configuration_refusal(path); }

bool put(const std::string& path, const char* section, const char* key,
         const char* value) {
  if (section == nullptr || key == nullptr || value == nullptr) return false;
  if (!ini::storable(section, key, value)) return false;
  if (!trust::configuration_refusal(path).empty()) return false;
  // The folder is the choice of the user who started an elevated process:
  // such a process writes only a file that root placed there.
  struct stat info{};
  if (trust::elevated() && ::lstat(path.c_str(), &info) != 0) return false;
  return storage::update(path, [&](std::string_view old) {
    return ini::with_value(old, section, key, value);
  });
}

bool put(const char* section, const char* key, const char* value) {
  return put(file_path(), section, key, value);
}

}  // namespace profile
