#include "sim/devices/eeprom_image.h"

#include <cctype>

#include "platform/format.h"

namespace sim::eeprom_image {

namespace {

constexpr unsigned kRow = 16;
constexpr std::size_t kCell = 3;  // "hh "

int digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// The label of a row ("1f0:" after optional blanks), and where its cells
// begin; nothing for a line that is no row.
std::optional<unsigned> row_label(std::string_view line, std::size_t& cells) {
  std::size_t at = 0;
  while (at < line.size() && line[at] == ' ') ++at;
  const std::size_t first = at;
  unsigned long label = 0;
  while (at < line.size() && digit(line[at]) >= 0 && at - first < 8) {
    label = label * 16 + static_cast<unsigned>(digit(line[at]));
    ++at;
  }
  if (at == first || at + 1 >= line.size() || line[at] != ':' || line[at + 1] != ' ') {
    return std::nullopt;
  }
  cells = at + 2;
  return static_cast<unsigned>(label);
}

std::string byte_name(unsigned address) { return format::hexadecimal(address, 2); }

}  // namespace

std::optional<std::vector<std::uint8_t>> parse(std::string_view file, unsigned size,
                                               std::string& error) {
  if (file.size() == size) return std::vector<std::uint8_t>(file.begin(), file.end());
  std::vector<std::uint8_t> image(size, 0xFF);
  std::vector<bool> given(size, false);
  unsigned count = 0;
  unsigned number = 0;
  for (std::size_t start = 0; start < file.size();) {
    std::size_t end = file.find('\n', start);
    if (end == std::string_view::npos) end = file.size();
    std::string_view line = file.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::size_t cells = 0;
    const auto label = row_label(line, cells);
    if (!label) continue;
    const std::string where = "line " + std::to_string(number) + ": ";
    if (*label % kRow != 0 || *label >= size) {
      error = where + "row " + format::hexadecimal(*label) + " is not a row of the " +
              std::to_string(size) + " bytes of the part";
      return std::nullopt;
    }
    for (unsigned cell = 0; cell < kRow; ++cell) {
      const std::size_t at = cells + cell * kCell;
      if (at + 2 > line.size()) break;  // a short line: the rest not given
      const std::string_view text = line.substr(at, 2);
      const unsigned address = *label + cell;
      if (text == "  ") continue;
      if (text == "XX") {
        error = where + "byte " + byte_name(address) + " was not read (XX)";
        return std::nullopt;
      }
      const int high = digit(text[0]);
      const int low = digit(text[1]);
      if (high < 0 || low < 0 || (at + 2 < line.size() && line[at + 2] != ' ')) {
        error = where + "byte " + byte_name(address) + " is not two hex digits";
        return std::nullopt;
      }
      if (given[address]) {
        error = where + "byte " + byte_name(address) + " is given twice";
        return std::nullopt;
      }
      image[address] = static_cast<std::uint8_t>(high * 16 + low);
      given[address] = true;
      ++count;
    }
  }
  if (count == size) return image;
  unsigned missing = 0;
  while (missing < size && given[missing]) ++missing;
  error = "neither a binary image of " + std::to_string(size) +
          " bytes nor i2cdump's text of all of them (" +
          (count == 0 ? std::string("no rows found")
                      : "byte " + byte_name(missing) + " is missing") +
          ")";
  return std::nullopt;
}

}  // namespace sim::eeprom_image
