// Configuration files (I2C.INI) as the tests write them, and the wiring
// that most of them give the Custom adapter.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace test_kit {

using Keys = std::vector<std::pair<std::string, std::string>>;  // key, value
struct Section {
  std::string name;
  Keys keys;
};
using Ini = std::vector<Section>;

// "[name]", then "key = value" a line, a blank line after each section.
std::string ini_text(const Ini& sections);
// Writes ini_text(sections) at `path`, replacing the file.
void write_ini(const std::string& path, const Ini& sections);

// The Custom adapter wired as the Philips adapter is, so that it drives the
// bench's parallel port bus: data in bit 7 of 0x379 (set reads high), data
// out bit 7 of 0x378 (set drives SDA low), clock out bit 3 of 0x37A (set
// releases SCL).
const Keys& custom_wired_like_philips();
// Those keys as lines of a section "[I2C para Gen]", each ended by
// `line_end` (a file kept on Windows has "\r\n").
std::string custom_wired_like_philips_text(const std::string& line_end = "\n");
// The clock read back where the Philips adapter has it, status bit 3 of
// 0x379 (set reads high): for the ways that wait for a stretched clock.
const Keys& philips_clock_input();
// custom_wired_like_philips() and philips_clock_input() in one.
Keys custom_wired_like_philips_reading_the_clock();

// The sections of one sample wiring in `file` (I2C.INI.example): its lines
// that begin with `mark` (";ftdi> "), without it.
Ini sample_wiring(const std::string& file, const std::string& mark);

// "Nops" of both parallel sections, and the Custom adapter wired as above.
Ini parallel_wiring(const std::string& nops);
// The same with the card's "Nops" too, as text: every adapter with that
// port delay, for programs run on the bench.
std::string all_adapters_text(const std::string& nops);

}  // namespace test_kit
