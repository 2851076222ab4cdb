#include "tests/hardening/hardening_support.h"

#include <cstdlib>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace hardening {

namespace {

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

std::optional<long> whole_number(const std::string& text) {
  if (text.empty() || text.size() > 12) return std::nullopt;
  long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

long setting(const char* name, long fallback, long min, long max) {
  const char* raw = std::getenv(name);
  if (raw == nullptr || *raw == '\0') return fallback;
  const auto value = whole_number(trimmed(raw));
  if (!value || *value < min || *value > max) {
    throw std::invalid_argument(std::string(name) + " = \"" + raw + "\" is not a number from " +
                                std::to_string(min) + " to " + std::to_string(max));
  }
  return *value;
}

std::vector<std::string> setting_list(const char* name, const std::string& fallback) {
  const char* raw = std::getenv(name);
  const std::string text = raw != nullptr && *raw != '\0' ? raw : fallback;
  std::vector<std::string> items;
  std::stringstream stream(text);
  for (std::string item; std::getline(stream, item, ',');) {
    item = trimmed(item);
    if (!item.empty()) items.push_back(item);
  }
  return items;
}

long kill_point(const char* name, const std::string& item, long whole) {
  const bool percent = !item.empty() && item.back() == '%';
  const auto number = whole_number(percent ? item.substr(0, item.size() - 1) : item);
  if (!number || (percent && *number > 100)) {
    throw std::invalid_argument(std::string(name) + ": \"" + item +
                                "\" is neither a count nor a percentage from 0% to 100%");
  }
  return percent ? whole * *number / 100 : *number;
}

}  // namespace hardening
