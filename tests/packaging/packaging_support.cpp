#include "tests/packaging/packaging_support.h"

#include <cstdio>
#include <sstream>

namespace packaging_test {

std::vector<std::string> host_c_flags() { return split_words(HOST_C_FLAGS); }

bool tree_is_sanitized() { return std::string(HOST_C_FLAGS).find("-fsanitize") != std::string::npos; }

std::vector<std::string> split_words(const std::string& text) {
  std::istringstream stream(text);
  std::vector<std::string> words;
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

std::vector<std::uint8_t> eeprom_image() {
  std::vector<std::uint8_t> image(256);
  for (std::size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<std::uint8_t>((i * 167 + 13) ^ (i >> 3));
  }
  return image;
}

std::string dump_text(const std::vector<std::uint8_t>& memory) {
  std::string text;
  char cell[24];
  for (std::size_t line = 0; line < memory.size(); line += 16) {
    std::snprintf(cell, sizeof cell, "%02zx:", line);
    text += cell;
    for (std::size_t i = line; i < line + 16 && i < memory.size(); ++i) {
      std::snprintf(cell, sizeof cell, " %02x", memory[i]);
      text += cell;
    }
    text += "\n";
  }
  return text;
}

void prepare_eeprom_bench(const Scratch& scratch, const std::string& more_settings) {
  const auto image = eeprom_image();
  scratch.write("eeprom.bin", std::string(image.begin(), image.end()));
  scratch.write("I2C.INI", "[Simulation]\nEEPROM File = " + scratch.file("eeprom.bin") +
                               "\n" + more_settings);
}

}  // namespace packaging_test
