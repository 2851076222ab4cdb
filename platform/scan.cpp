// Number scanning in the manner of the C library's "%d" and "%x" conversions.
#include "platform/scan.h"

#include <algorithm>

namespace scan {
namespace {

// The C locale's white space: blank, tab, line feed, vertical tab, form
// feed and carriage return.
constexpr bool is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

constexpr int decimal_digit(char c) {
  return c >= '0' && c <= '9' ? c - '0' : -1;
}

constexpr int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

struct Cursor {
  std::string_view text;
  std::size_t at = 0;

  char peek(std::size_t ahead = 0) const {
    return at + ahead < text.size() ? text[at + ahead] : '\0';
  }
};

// Steps over leading white space and an optional sign; true for a minus.
bool skip_space_and_sign(Cursor& cursor) {
  while (cursor.at < cursor.text.size() && is_space(cursor.peek())) ++cursor.at;
  const char sign = cursor.peek();
  if (sign == '+' || sign == '-') ++cursor.at;
  return sign == '-';
}

// Reads digits up to the first other character. The sum wraps modulo 2^32,
// so the low bits always match the number as written, however long.
template <int (*Digit)(char)>
std::optional<std::int32_t> digits(Cursor& cursor, std::uint32_t base,
                                   bool negative) {
  if (Digit(cursor.peek()) < 0) return std::nullopt;
  std::uint32_t value = 0;
  for (int d; (d = Digit(cursor.peek())) >= 0; ++cursor.at) {
    value = value * base + static_cast<std::uint32_t>(d);
  }
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

}  // namespace

std::optional<std::uint32_t> whole_number(std::string_view text, const Whole& rules) {
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  if (rules.base == 16 && text.size() > 2 && text[0] == '0' &&
      (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > rules.max_digits) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    const int digit = rules.base == 16 ? hex_digit(c) : decimal_digit(c);
    if (digit < 0) return std::nullopt;
    value = value * static_cast<std::uint64_t>(rules.base) + static_cast<std::uint64_t>(digit);
    if (value > rules.max) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

std::optional<std::int32_t> decimal(std::string_view text) {
  Cursor cursor{text};
  const bool negative = skip_space_and_sign(cursor);
  return digits<decimal_digit>(cursor, 10, negative);
}

std::optional<std::int32_t> hexadecimal(std::string_view text) {
  Cursor cursor{text};
  const bool negative = skip_space_and_sign(cursor);
  // The prefix counts only when a hex digit follows it; otherwise the "0"
  // alone is the number and the scan stops at the "x", as in C.
  if (cursor.peek() == '0' && (cursor.peek(1) == 'x' || cursor.peek(1) == 'X') &&
      hex_digit(cursor.peek(2)) >= 0) {
    cursor.at += 2;
  }
  return digits<hex_digit>(cursor, 16, negative);
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
           return lower(x) == lower(y);
         });
}

}  // namespace scan
