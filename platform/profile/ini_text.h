// The text of a configuration file as lines, sections and keys. Reading and
// writing both go through this one parser, so they always agree on which
// line holds a key.
//
//   - A line ends at LF; a CR before the LF belongs to the line end.
//   - Blanks (space, tab, CR, VT, FF) around names and values are ignored.
//   - A line whose first non-blank is ';' is a comment.
//   - A line whose first non-blank is '[' and that holds a ']' starts a
//     section; its name is the text between the '[' and the first ']'.
//   - Any other line with an '=' is an entry: the key before the first '=',
//     the value after it. Entries before the first section, entries with an
//     empty key and lines without '=' belong to nothing and are kept as
//     they are.
//   - Names match case-insensitively (ASCII letters); the first matching
//     section is the section, and the first matching key in it is the key.
//     A later section of the same name is never looked into.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace profile::ini {

enum class LineKind { blank, comment, section, entry, other };

struct Line {
  std::size_t start = 0;        // first byte of the line
  std::size_t content_end = 0;  // end of the text before the line end
  std::size_t next = 0;         // first byte of the following line
  LineKind kind = LineKind::other;
  std::string_view name;        // section name or key, trimmed
  std::size_t value_begin = 0;  // entry value as written, trimmed
  std::size_t value_end = 0;
};

std::vector<Line> split_lines(std::string_view text);

// The value of `key` in `section`: trimmed, one pair of matching quotes
// removed, and ended at a NUL byte should the file hold one.
std::optional<std::string> lookup(std::string_view text, std::string_view section,
                                  std::string_view key);

// Whether `section`, `key` and `value` can be stored so that they read back
// as given: no line breaks, no ']' in a section name, no '=' in a key, a
// key that is not empty and does not look like a comment or a section.
bool storable(std::string_view section, std::string_view key,
              std::string_view value);

// `text` with `key` in `section` set to `value`; every byte outside the
// changed value or the added lines stays as it was. New lines use the line
// end of the text's first line (LF when it has none). Expects storable().
std::string with_value(std::string_view text, std::string_view section,
                       std::string_view key, std::string_view value);

}  // namespace profile::ini
