#include "tests/support/ini.h"

#include <fstream>

#include "tests/support/files.h"

namespace test_kit {

std::string ini_text(const Ini& sections) {
  std::string text;
  for (const auto& section : sections) {
    text += '[' + section.name + "]\n";
    for (const auto& [key, value] : section.keys) text += key + " = " + value + '\n';
    text += '\n';
  }
  return text;
}

void write_ini(const std::string& path, const Ini& sections) {
  write_file(path, ini_text(sections));
}

const Keys& custom_wired_like_philips() {
  static const Keys keys{
      {"SDA IN Port", "379"},  {"SDA IN Bit", "80"},  {"SDA IN Pol", "1"},
      {"SDA OUT Port", "378"}, {"SDA OUT Bit", "80"}, {"SDA OUT Pol", "1"},
      {"SCL OUT Port", "37A"}, {"SCL OUT Bit", "8"},  {"SCL OUT Pol", "0"}};
  return keys;
}

std::string custom_wired_like_philips_text(const std::string& line_end) {
  std::string text;
  for (const auto& [key, value] : custom_wired_like_philips()) {
    text += key + " = " + value + line_end;
  }
  return text;
}

const Keys& philips_clock_input() {
  static const Keys keys{{"SCL IN Port", "379"}, {"SCL IN Bit", "8"}, {"SCL IN Pol", "1"}};
  return keys;
}

Keys custom_wired_like_philips_reading_the_clock() {
  Keys keys = custom_wired_like_philips();
  keys.insert(keys.end(), philips_clock_input().begin(), philips_clock_input().end());
  return keys;
}

Ini sample_wiring(const std::string& file, const std::string& mark) {
  std::ifstream sample(file);
  Ini sections;
  for (std::string line; std::getline(sample, line);) {
    if (!line.starts_with(mark)) continue;
    line.erase(0, mark.size());
    if (line.starts_with("[")) {
      sections.push_back({line.substr(1, line.find(']') - 1), {}});
    } else if (const auto equals = line.find(" = "); equals != std::string::npos && !sections.empty()) {
      sections.back().keys.push_back({line.substr(0, equals), line.substr(equals + 3)});
    }
  }
  return sections;
}

Ini parallel_wiring(const std::string& nops) {
  Section custom{"I2C para Gen", {{"Nops", nops}}};
  const Keys& wiring = custom_wired_like_philips();
  custom.keys.insert(custom.keys.end(), wiring.begin(), wiring.end());
  return {{"I2C para", {{"Nops", nops}}}, custom};
}

std::string all_adapters_text(const std::string& nops) {
  Ini sections{{"I2C Card", {{"Nops", nops}}}};
  const Ini parallel = parallel_wiring(nops);
  sections.insert(sections.end(), parallel.begin(), parallel.end());
  return ini_text(sections);
}

}  // namespace test_kit
