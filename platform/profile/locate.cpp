// Where the configuration file is.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/profile/profile.h"
#include "platform/trust/trust.h"

namespace profile {
namespace {

constexpr std::string_view file_name = "I2C.INI";

bool is_file_name_in_any_case(std::string_view name) {
  if (name.size() != file_name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    if (upper != file_name[i]) return false;
  }
  return true;
}

}  // namespace

std::string file_path() {
  if (const char* configured = trust::environment("I2C_INI");
      configured != nullptr && *configured != '\0') {
    return configured;
  }
  struct stat info{};
  if (::lstat(std::string(file_name).c_str(), &info) == 0) return std::string(file_name);

  // The name is case-insensitive, as on the systems the file comes from. Of
  // several spellings the lowest in byte order wins, so every process picks
  // the same one.
  std::string chosen;
  if (DIR* folder = ::opendir(".")) {
    while (const dirent* entry = ::readdir(folder)) {
      const std::string_view name = entry->d_name;
      if (is_file_name_in_any_case(name) && (chosen.empty() || name < chosen)) {
        chosen = name;
      }
    }
    ::closedir(folder);
  }
  return chosen.empty() ? std::string(file_name) : chosen;
}

}  // namespace profile
