#include "tests/support/files.h"

#include <dirent.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace test_kit {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> lines_of(const std::string& text, bool drop_carriage_returns) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (drop_carriage_returns && !line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> read_lines(const std::string& path) {
  return lines_of(read_file(path), true);
}

std::vector<std::string> names_starting_with(const std::string& directory,
                                             const std::string& prefix) {
  std::vector<std::string> names;
  if (DIR* folder = ::opendir(directory.c_str())) {
    while (const dirent* entry = ::readdir(folder)) {
      const std::string name = entry->d_name;
      if (name.rfind(prefix, 0) == 0) names.push_back(name);
    }
    ::closedir(folder);
  }
  return names;
}

}  // namespace test_kit
