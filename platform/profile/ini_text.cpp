// Parsing and editing the text of a configuration file.
#include "platform/profile/ini_text.h"

#include <algorithm>

#include "platform/scan.h"

namespace profile::ini {
namespace {

constexpr bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

// Narrows [begin, end) of `text` to its non-blank middle.
void trim_span(std::string_view text, std::size_t& begin, std::size_t& end) {
  while (begin < end && is_blank(text[begin])) ++begin;
  while (end > begin && is_blank(text[end - 1])) --end;
}

bool quoted(std::string_view value) {
  return value.size() >= 2 && value.front() == value.back() &&
         (value.front() == '"' || value.front() == '\'');
}

void classify(std::string_view text, Line& line) {
  std::size_t begin = line.start;
  std::size_t end = line.content_end;
  trim_span(text, begin, end);
  const std::string_view body = text.substr(begin, end - begin);
  if (body.empty()) {
    line.kind = LineKind::blank;
  } else if (body.front() == ';') {
    line.kind = LineKind::comment;
  } else if (const auto close = body.find(']');
             body.front() == '[' && close != std::string_view::npos) {
    line.kind = LineKind::section;
    line.name = trimmed(body.substr(1, close - 1));
  } else if (const auto equals = body.find('='); equals != std::string_view::npos) {
    line.name = trimmed(body.substr(0, equals));
    if (line.name.empty()) return;  // stays LineKind::other
    line.kind = LineKind::entry;
    line.value_begin = begin + equals + 1;
    line.value_end = line.content_end;
    trim_span(text, line.value_begin, line.value_end);
  }
}

// Where a key is, or where it would go.
struct Place {
  bool section_found = false;
  std::size_t section_tail = 0;  // last non-blank line of the section
  std::optional<std::size_t> key_line;
};

Place find(const std::vector<Line>& lines, std::string_view section,
           std::string_view key) {
  Place place;
  section = trimmed(section);
  key = trimmed(key);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    if (line.kind == LineKind::section) {
      if (place.section_found) break;
      if (scan::equal_ignoring_case(line.name, section)) {
        place.section_found = true;
        place.section_tail = i;
      }
      continue;
    }
    if (!place.section_found) continue;
    if (line.kind != LineKind::blank) place.section_tail = i;
    if (line.kind == LineKind::entry && scan::equal_ignoring_case(line.name, key)) {
      place.key_line = i;
      break;
    }
  }
  return place;
}

std::string_view line_end_of(std::string_view text) {
  const auto lf = text.find('\n');
  return lf != std::string_view::npos && lf > 0 && text[lf - 1] == '\r' ? "\r\n"
                                                                         : "\n";
}

// A value that would lose blanks or quotes when read back is written in
// quotes, which reading removes again.
std::string encoded(std::string_view value) {
  const bool needs_quotes =
      !value.empty() &&
      (is_blank(value.front()) || is_blank(value.back()) || quoted(value));
  std::string text;
  if (needs_quotes) text += '"';
  text += value;
  if (needs_quotes) text += '"';
  return text;
}

// What ends a last line that has no line feed: the file's line end, or a
// lone line feed after a carriage return that is already there (a CR LF
// cut short), so that the line keeps its text and gains no CR.
std::string_view completion_of_last_line(std::string_view text, std::string_view line_end) {
  return !text.empty() && text.back() == '\r' ? "\n" : line_end;
}

bool has_line_break(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

std::vector<Line> split_lines(std::string_view text) {
  std::vector<Line> lines;
  for (std::size_t start = 0; start < text.size();) {
    Line line;
    line.start = start;
    const auto lf = text.find('\n', start);
    const std::size_t end = lf == std::string_view::npos ? text.size() : lf;
    line.next = lf == std::string_view::npos ? text.size() : lf + 1;
    line.content_end = end > start && text[end - 1] == '\r' ? end - 1 : end;
    classify(text, line);
    lines.push_back(line);
    start = line.next;
  }
  return lines;
}

std::optional<std::string> lookup(std::string_view text, std::string_view section,
                                  std::string_view key) {
  const auto lines = split_lines(text);
  const Place place = find(lines, section, key);
  if (!place.key_line) return std::nullopt;
  const Line& line = lines[*place.key_line];
  std::string_view value =
      text.substr(line.value_begin, line.value_end - line.value_begin);
  if (quoted(value)) value = value.substr(1, value.size() - 2);
  return std::string(value.substr(0, value.find('\0')));
}

bool storable(std::string_view section, std::string_view key,
              std::string_view value) {
  key = trimmed(key);
  return !has_line_break(section) && !has_line_break(key) &&
         !has_line_break(value) && section.find(']') == std::string_view::npos &&
         !key.empty() && key.find('=') == std::string_view::npos &&
         key.front() != ';' && key.front() != '[';
}

std::string with_value(std::string_view text, std::string_view section,
                       std::string_view key, std::string_view value) {
  const auto lines = split_lines(text);
  const Place place = find(lines, section, key);
  const std::string_view line_end = line_end_of(text);
  const std::string entry = std::string(trimmed(key)) + '=' + encoded(value);
  std::string result;
  result.reserve(text.size() + entry.size() + section.size() + 8);

  if (place.key_line) {
    const Line& line = lines[*place.key_line];
    result.append(text.substr(0, line.value_begin));
    result.append(encoded(value));
    result.append(text.substr(line.value_end));
    return result;
  }
  if (place.section_found) {
    const Line& tail = lines[place.section_tail];
    result.append(text.substr(0, tail.next));
    if (text[tail.next - 1] != '\n') {  // unterminated last line
      result.append(completion_of_last_line(text, line_end));
    }
    result.append(entry).append(line_end);
    result.append(text.substr(tail.next));
    return result;
  }
  result.append(text);
  if (!text.empty() && text.back() != '\n') result.append(completion_of_last_line(text, line_end));
  if (!lines.empty() && lines.back().kind != LineKind::blank) result.append(line_end);
  result.append("[").append(trimmed(section)).append("]").append(line_end);
  result.append(entry).append(line_end);
  return result;
}

}  // namespace profile::ini
