// The hardening tests' settings: counts, time limits and kill points, taken
// from the environment so that a long run can be asked for without a
// rebuild. Everything else they use is the shared kit in tests/support.
#pragma once

#include <string>
#include <vector>

namespace hardening {

// The whole number in environment variable `name`, or `fallback` when it is
// unset or empty. Throws std::invalid_argument, naming the variable, for
// anything but a number from `min` to `max`.
long setting(const char* name, long fallback, long min, long max);

// A comma-separated list in environment variable `name` (or `fallback`),
// blanks around the items dropped.
std::vector<std::string> setting_list(const char* name, const std::string& fallback);

// A kill point: "N" is N itself, "P%" is P percent of `whole`. Throws
// std::invalid_argument, naming the variable, for any other text.
long kill_point(const char* name, const std::string& item, long whole = 0);

}  // namespace hardening
