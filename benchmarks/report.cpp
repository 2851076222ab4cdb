#include "benchmarks/report.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <stdexcept>

namespace bench {

struct Json::Members {
  std::vector<std::pair<std::string, Json>> items;
};
struct Json::Elements {
  std::vector<Json> items;
};

namespace {

bool looks_numeric(const std::string& cell) {
  if (cell.empty()) return false;
  for (const char c : cell) {
    if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == ' ' || c == '-' ||
          c == '+' || c == '%' || c == 'x')) {
      return false;
    }
  }
  return std::isdigit(static_cast<unsigned char>(cell.front())) || cell.front() == '-' ||
         cell.front() == '+';
}

// A column of numbers is right-aligned; one with any text in it is not.
std::vector<bool> numeric_columns(const Table& table) {
  std::vector<bool> numeric(table.header.size(), !table.rows.empty());
  for (const auto& row : table.rows) {
    for (std::size_t i = 0; i < numeric.size(); ++i) {
      if (i < row.size() && !row[i].empty() && !looks_numeric(row[i])) numeric[i] = false;
    }
  }
  return numeric;
}

// Display width: every UTF-8 lead byte is one column.
std::size_t width(const std::string& text) {
  std::size_t columns = 0;
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++columns;
  }
  return columns;
}

void escape_into(std::string& out, const std::string& text) {
  out += '"';
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char code[8];
          std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned char>(c));
          out += code;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

void newline(std::string& out, int indent, int depth) {
  if (indent <= 0) return;
  out += '\n';
  out.append(static_cast<std::size_t>(indent * depth), ' ');
}

}  // namespace

void print_text(std::FILE* out, const Table& table) {
  std::vector<std::size_t> widths(table.header.size(), 0);
  for (std::size_t i = 0; i < table.header.size(); ++i) widths[i] = width(table.header[i]);
  for (const auto& row : table.rows) {
    for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
      widths[i] = std::max(widths[i], width(row[i]));
    }
  }
  const std::vector<bool> numeric = numeric_columns(table);
  std::fprintf(out, "%s\n", table.title.c_str());
  auto line = [&](const std::vector<std::string>& cells) {
    std::string text = " ";
    for (std::size_t i = 0; i < widths.size(); ++i) {
      const std::string cell = i < cells.size() ? cells[i] : "";
      const std::string pad(widths[i] - width(cell), ' ');
      text += ' ';
      text += numeric[i] ? pad + cell : cell + pad;
      text += ' ';
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    std::fprintf(out, "%s\n", text.c_str());
  };
  line(table.header);
  std::string rule = " ";
  for (const std::size_t w : widths) rule += " " + std::string(w, '-') + " ";
  while (!rule.empty() && rule.back() == ' ') rule.pop_back();
  std::fprintf(out, "%s\n", rule.c_str());
  for (const auto& row : table.rows) line(row);
  for (const auto& note : table.notes) std::fprintf(out, "  %s\n", note.c_str());
  std::fprintf(out, "\n");
}

void print_markdown(std::FILE* out, const Table& table) {
  std::fprintf(out, "## %s\n\n", table.title.c_str());
  auto line = [&](const std::vector<std::string>& cells) {
    std::string text = "|";
    for (std::size_t i = 0; i < table.header.size(); ++i) {
      text += ' ';
      text += i < cells.size() ? cells[i] : "";
      text += " |";
    }
    std::fprintf(out, "%s\n", text.c_str());
  };
  line(table.header);
  const std::vector<bool> numeric = numeric_columns(table);
  std::string rule = "|";
  for (std::size_t i = 0; i < table.header.size(); ++i) rule += numeric[i] ? "---:|" : "---|";
  std::fprintf(out, "%s\n", rule.c_str());
  for (const auto& row : table.rows) line(row);
  if (!table.notes.empty()) std::fprintf(out, "\n");
  for (const auto& note : table.notes) std::fprintf(out, "%s\n", note.c_str());
  std::fprintf(out, "\n");
}

Json Json::object() {
  Json json;
  json.value_ = std::make_shared<Members>();
  return json;
}

Json Json::array() {
  Json json;
  json.value_ = std::make_shared<Elements>();
  return json;
}

Json& Json::set(const std::string& key, Json value) {
  auto* members = std::get_if<std::shared_ptr<Members>>(&value_);
  if (members == nullptr) throw std::logic_error("Json::set on a value that is no object");
  for (auto& item : (*members)->items) {
    if (item.first == key) {
      item.second = std::move(value);
      return *this;
    }
  }
  (*members)->items.emplace_back(key, std::move(value));
  return *this;
}

Json& Json::merge(const Json& other) {
  const auto* members = std::get_if<std::shared_ptr<Members>>(&other.value_);
  if (members == nullptr) throw std::logic_error("Json::merge of a value that is no object");
  for (const auto& [key, value] : (*members)->items) set(key, value);
  return *this;
}

Json& Json::push(Json value) {
  auto* elements = std::get_if<std::shared_ptr<Elements>>(&value_);
  if (elements == nullptr) throw std::logic_error("Json::push on a value that is no array");
  (*elements)->items.push_back(std::move(value));
  return *this;
}

std::string Json::dump(int indent) const {
  std::string out;
  dump_to(out, indent, 0);
  return out;
}

void Json::dump_to(std::string& out, int indent, int depth) const {
  if (std::holds_alternative<std::nullptr_t>(value_)) {
    out += "null";
  } else if (const auto* number = std::get_if<double>(&value_)) {
    // JSON has no NaN or infinity; a figure that could not be made is null.
    if (!std::isfinite(*number)) {
      out += "null";
    } else {
      char text[64];
      // Large figures (accesses per second) keep every digit.
      std::snprintf(text, sizeof text, std::fabs(*number) >= 1e5 ? "%.0f" : "%.6g", *number);
      out += text;
    }
  } else if (const auto* integer = std::get_if<std::int64_t>(&value_)) {
    out += std::to_string(*integer);
  } else if (const auto* flag = std::get_if<bool>(&value_)) {
    out += *flag ? "true" : "false";
  } else if (const auto* text = std::get_if<std::string>(&value_)) {
    escape_into(out, *text);
  } else if (const auto* members = std::get_if<std::shared_ptr<Members>>(&value_)) {
    out += '{';
    bool first = true;
    for (const auto& [key, value] : (*members)->items) {
      if (!first) out += ',';
      first = false;
      newline(out, indent, depth + 1);
      escape_into(out, key);
      out += indent > 0 ? ": " : ":";
      value.dump_to(out, indent, depth + 1);
    }
    if (!(*members)->items.empty()) newline(out, indent, depth);
    out += '}';
  } else if (const auto* elements = std::get_if<std::shared_ptr<Elements>>(&value_)) {
    out += '[';
    bool first = true;
    for (const auto& value : (*elements)->items) {
      if (!first) out += ',';
      first = false;
      newline(out, indent, depth + 1);
      value.dump_to(out, indent, depth + 1);
    }
    if (!(*elements)->items.empty()) newline(out, indent, depth);
    out += ']';
  }
}

std::string fixed(double value, int decimals) {
  if (!std::isfinite(value)) return "n/a";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string grouped(double value) {
  if (!std::isfinite(value)) return "n/a";
  const bool negative = value < 0;
  std::string digits = std::to_string(static_cast<std::uint64_t>(std::llround(std::fabs(value))));
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ' ';
    out += digits[i];
  }
  return negative ? "-" + out : out;
}

}  // namespace bench
