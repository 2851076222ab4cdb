// The configuration file's reader and writer on random files and random
// puts. Each put that is accepted must read back as the value put, leave
// every other key reading as before and keep every other line of the file;
// a put that is refused must leave the file as it was.
//
// Input: fields separated by the byte 01. The first field is the file; the
// fields after it come in threes, section, key and value, one put each
// (at most eight). A field that starts with the byte 02 followed by a
// number n names the n-th section or key name of the file instead, so that
// puts meet existing names often.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile/ini_text.h"
#include "platform/profile/profile.h"
#include "tests/fuzz/fuzz_environment.h"
#include "tests/support/files.h"

namespace {

using fuzz_environment::fail;

constexpr char kSeparator = '\x01';
constexpr char kExistingName = '\x02';
constexpr std::size_t kMostPuts = 8;

std::string file_path;

std::vector<std::string> fields_of(std::string_view input) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = input.find(kSeparator, start);
    fields.emplace_back(input.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return fields;
    start = end + 1;
  }
}

using test_kit::read_file;
using test_kit::write_file;

struct Entry {
  std::string section;
  std::string key;
};

// Every entry of the file with the section it sits in, as the parser sees
// them; entries before the first section belong to none and are left out.
std::vector<Entry> entries_of(const std::string& text) {
  std::vector<Entry> entries;
  std::string section;
  bool in_section = false;
  for (const auto& line : profile::ini::split_lines(text)) {
    if (line.kind == profile::ini::LineKind::section) {
      section = std::string(line.name);
      in_section = true;
    } else if (line.kind == profile::ini::LineKind::entry && in_section) {
      entries.push_back({section, std::string(line.name)});
    }
  }
  return entries;
}

// A field as a name: its own text up to any NUL, or the name it points at.
std::string name_from(const std::string& field, const std::vector<Entry>& entries, bool section) {
  if (!field.empty() && field[0] == kExistingName && !entries.empty()) {
    std::size_t index = 0;
    for (std::size_t i = 1; i < field.size() && i < 4; ++i) {
      index = index * 256 + static_cast<unsigned char>(field[i]);
    }
    const Entry& entry = entries[index % entries.size()];
    const std::string& name = section ? entry.section : entry.key;
    return name.substr(0, name.find('\0'));
  }
  return field.substr(0, field.find('\0'));
}

// A name or value for a message, its control bytes written as \xNN.
std::string shown(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F || c == '"') {
      static constexpr char kDigits[] = "0123456789ABCDEF";
      out += "\\x";
      out += kDigits[byte >> 4];
      out += kDigits[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string folded(std::string_view name) {
  while (!name.empty() && is_blank(name.front())) name.remove_prefix(1);
  while (!name.empty() && is_blank(name.back())) name.remove_suffix(1);
  std::string text(name);
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// What the interface promises to store: no line break anywhere, no ']' in
// the section, a key that is not empty and neither holds '=' nor starts
// with ';' or '['. The key is taken without the blanks around it, a CR
// among them, as it is written and read.
bool storable(const std::string& section, const std::string& key, const std::string& value) {
  const auto breaks = [](std::string_view s) { return s.find_first_of("\r\n") != std::string::npos; };
  const std::string name = folded(key);
  return !breaks(section) && !breaks(name) && !breaks(value) &&
         section.find(']') == std::string::npos && !name.empty() &&
         name.find('=') == std::string::npos && name[0] != ';' && name[0] != '[';
}

std::string read_back(const std::string& section, const std::string& key, std::size_t room) {
  std::string buffer(room + 1, '\0');
  const std::size_t length =
      profile::get(file_path, section.c_str(), key.c_str(), "\x03missing", buffer.data(), buffer.size());
  buffer.resize(length);
  return buffer;
}

void check_put(const std::string& section, const std::string& key, const std::string& value) {
  const std::string put = "put of section " + shown(section) + ", key " + shown(key) +
                          ", value " + shown(value);
  const std::string before = read_file(file_path);
  const bool stored = profile::put(file_path, section.c_str(), key.c_str(), value.c_str());
  const std::string after = read_file(file_path);

  if (!stored) {
    if (after != before) fail("the refused " + put + " changed the file");
    if (storable(section, key, value)) fail("the " + put + " was refused");
    return;
  }
  if (!storable(section, key, value)) fail("the " + put + " was accepted, but cannot be stored");

  const std::string got = read_back(section, key, value.size() + 8);
  if (got != value) fail("after the " + put + " the key reads " + shown(got));

  // Every other line is kept: the lines before and after the change are
  // the old ones; at most one old line (the key's) gave way, to at most
  // three new ones (a blank line, the section and the key).
  // Lines without their line ends (LF, and a CR before it).
  const auto old_lines = test_kit::lines_of(before, true);
  const auto new_lines = test_kit::lines_of(after, true);
  std::size_t head = 0;
  while (head < old_lines.size() && head < new_lines.size() && old_lines[head] == new_lines[head]) ++head;
  std::size_t tail = 0;
  while (tail < old_lines.size() - head && tail < new_lines.size() - head &&
         old_lines[old_lines.size() - 1 - tail] == new_lines[new_lines.size() - 1 - tail]) {
    ++tail;
  }
  const std::size_t old_changed = old_lines.size() - head - tail;
  const std::size_t new_changed = new_lines.size() - head - tail;
  if (old_changed > 1 || new_changed > 3) {
    fail("the " + put + " changed " + std::to_string(old_changed) + " old lines into " +
         std::to_string(new_changed) + " new ones");
  }

  // Every other key reads as before.
  const std::string put_section = folded(section);
  const std::string put_key = folded(key);
  std::size_t checked = 0;
  for (const Entry& entry : entries_of(before)) {
    if (folded(entry.section) == put_section && folded(entry.key) == put_key) continue;
    if (++checked > 64) break;
    const auto old_value = profile::ini::lookup(before, entry.section, entry.key);
    const auto new_value = profile::ini::lookup(after, entry.section, entry.key);
    if (old_value != new_value) {
      fail("the " + put + " changed the value of section " + shown(entry.section) + ", key " +
           shown(entry.key));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char*** argv) {
  fuzz_environment::set_up(*argv, "");
  file_path = fuzz_environment::scratch_path("fuzzed.ini");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto fields = fields_of(std::string_view(reinterpret_cast<const char*>(data), size));
  write_file(file_path, fields[0]);
  const auto entries = entries_of(fields[0]);

  // Reading the random file itself: every key it holds, and names it lacks.
  char value[80];
  for (std::size_t i = 0; i < entries.size() && i < 16; ++i) {
    profile::get(file_path, entries[i].section.c_str(), entries[i].key.c_str(), "", value, sizeof value);
  }

  for (std::size_t put = 0; put < kMostPuts && 1 + put * 3 < fields.size(); ++put) {
    const std::size_t first = 1 + put * 3;
    const auto field = [&](std::size_t i) { return i < fields.size() ? fields[i] : std::string(); };
    const auto now = entries_of(read_file(file_path));
    check_put(name_from(field(first), now, true), name_from(field(first + 1), now, false),
              field(first + 2).substr(0, field(first + 2).find('\0')));
  }
  return 0;
}
