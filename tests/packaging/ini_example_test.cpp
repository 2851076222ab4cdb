// I2C.INI.example: every section and key that the library, the port layer
// and the bench read, each at its default under one comment line, so that
// the file as shipped sets exactly what no file at all sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/portio/backends/backend.h"
#include "platform/portio/port_settings.h"
#include "sim/bench/bench.h"
#include "tests/support/tarnwick_harness.h"

namespace {

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

struct Entry {
  std::string section;
  std::string key;
  std::string value;
  std::size_t line;
};

// The sample file as lines, with its key lines located, so that single
// values can be changed and the rest kept byte for byte.
class SampleFile {
 public:
  static SampleFile read(const std::string& path) {
    SampleFile file;
    std::ifstream stream(path);
    std::string section;
    for (std::string line; std::getline(stream, line);) {
      const std::string text = trimmed(line);
      if (!text.empty() && text[0] == '[') {
        section = trimmed(text.substr(1, text.find(']') - 1));
      } else if (!text.empty() && text[0] != ';' && text.find('=') != std::string::npos) {
        const auto equals = text.find('=');
        file.entries_.push_back({section, trimmed(text.substr(0, equals)),
                                 trimmed(text.substr(equals + 1)), file.lines_.size()});
      }
      file.lines_.push_back(line);
    }
    return file;
  }

  const std::vector<Entry>& entries() const { return entries_; }
  const std::vector<std::string>& lines() const { return lines_; }

  SampleFile with(const std::string& section, const std::string& key,
                  const std::string& value) const {
    SampleFile changed = *this;
    for (Entry& entry : changed.entries_) {
      if (lower(entry.section) == lower(section) && lower(entry.key) == lower(key)) {
        entry.value = value;
        changed.lines_[entry.line] = entry.key + " = " + value;
        return changed;
      }
    }
    ADD_FAILURE() << "no key [" << section << "] " << key << " in the sample file";
    return changed;
  }

  std::string text() const {
    std::string text;
    for (const std::string& line : lines_) text += line + "\n";
    return text;
  }

 private:
  std::vector<std::string> lines_;
  std::vector<Entry> entries_;
};

const std::string sample_path = SOURCE_DIR "/I2C.INI.example";

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// What the port layer and the bench make of the configuration file now.
// Whether "Backend" was written out or defaulted only words the notice at a
// terminal, so it is left out.
std::string port_layer_and_bench_settings() {
  std::string warnings;
  const auto warn = [&](std::string_view line) {
    warnings += line;
    warnings += '\n';
  };
  const portio::PortSettings port = portio::PortSettings::load(warn);
  const sim::BenchConfig bench = sim::BenchConfig::load(warn);
  std::ostringstream seen;
  seen << "backend " << portio::kBackends[port.backend].name << "\ntrace '" << port.trace_path
       << "'\nparport " << port.parport_device << " at " << port.parport_base << "\nftdi "
       << port.ftdi_device << " interface " << port.ftdi_interface << " pins at "
       << port.ftdi_pin_port << ", directions at " << port.ftdi_direction_port << ", outputs "
       << static_cast<int>(port.ftdi_outputs) << "\ngpio "
       << port.gpio_chip << " lines";
  for (const int line : port.gpio_lines) seen << ' ' << line;
  seen << " at " << port.gpio_latch_port << ", sampled at " << port.gpio_pin_port
       << "\ndevices '" << bench.devices << "'\nlarge eeproms '" << bench.large_eeproms
       << "'\neeprom file '" << bench.eeprom_file
       << "'\nwaveform '" << bench.waveform << "'\ncard at " << bench.card_base
       << ", parallel port at " << bench.parport_base << "\nbusy " << bench.bus_busy
       << ", error " << bench.bus_error << ", PIN polls " << bench.pin_polls
       << ", adapter status " << int{bench.adapter_status} << ", SDA stuck "
       << bench.sda_stuck << ", NACK byte " << bench.nack_byte << "\naccess time "
       << bench.access_time_us << " us, wall clock " << bench.wall_clock
       << ", EEPROM write time " << bench.eeprom_write_us << " us\n"
       << warnings;
  return seen.str();
}

// What a host sees of the library with the configuration file now: the
// adapter chosen at load and, when `interface` is not 0, a short EEPROM
// transaction through that adapter with its results and every port access.
std::string library_session(const harness::Environment& env, int interface) {
  env.clear_trace();
  std::ostringstream seen;
  seen << test_kit::capture_stderr([&] {
    harness::Library lib;
    lib->I2C_Info();
    if (interface != 0) {
      lib->I2C_SelectInterface(static_cast<std::int16_t>(interface));
      std::uint8_t bytes[2] = {0, 0};
      seen << "init " << lib->I2C_Init() << " start " << lib->I2C_Start() << " address "
           << lib->I2C_Address(0xA0) << " send " << lib->I2C_SendByte(0) << " read "
           << lib->I2C_Read(2, bytes) << " bytes " << int{bytes[0]} << ' ' << int{bytes[1]}
           << " stop " << lib->I2C_Stop() << '\n';
    }
    lib.unload();
  });
  for (const std::string& line : env.trace()) seen << line << '\n';
  return seen.str();
}

// The first line where two long texts part, or "" when they are equal.
std::string first_difference(const std::string& expected, const std::string& actual) {
  if (expected == actual) return "";
  std::istringstream a(expected), b(actual);
  std::string left, right;
  for (int line = 1;; ++line) {
    const bool more_left = static_cast<bool>(std::getline(a, left));
    const bool more_right = static_cast<bool>(std::getline(b, right));
    if (!more_left && !more_right) return "texts differ in their line ends";
    if (left != right || more_left != more_right) {
      return "line " + std::to_string(line) + ": expected '" + (more_left ? left : "<end>") +
             "', actual '" + (more_right ? right : "<end>") + "'";
    }
  }
}

// Library sections, and the interface whose session reads them.
int interface_reading(const std::string& section) {
  if (section == "I2C Device") return 0;
  if (section == "I2C Card") return 1;
  if (section == "I2C para") return 2;
  if (section == "I2C para Gen") return 3;
  return -1;
}

class SampleConfiguration : public ::testing::Test {
 protected:
  // Everything the system makes of `file`: the port layer's and the bench's
  // settings and, for a library section, a library session; the session's
  // ports are traced through the sample's own "Trace" key.
  std::string observed(const SampleFile& file, const std::string& section) const {
    write_text(env.ini_path(), file.text());
    std::string seen = port_layer_and_bench_settings();
    const int interface = interface_reading(section);
    if (interface >= 0) {
      write_text(env.ini_path(), file.with("Port IO", "Trace", env.trace_path()).text());
      seen += library_session(env, interface);
    }
    return seen;
  }

  harness::Environment env;
  SampleFile sample = SampleFile::read(sample_path);
};

TEST_F(SampleConfiguration, ListsEveryKeyTheSystemReadsEachUnderOneComment) {
  // The keys the library, the port layer and the bench look up. A key added
  // to the code belongs here and in the sample file.
  const std::vector<std::pair<std::string, std::vector<std::string>>> read_by_the_system{
      {"I2C Device", {"Default"}},
      {"I2C Card", {"Base", "Nops", "Bus Speed", "Stretch Timeout"}},
      {"I2C para", {"Base", "Nops", "Bus Speed", "Stretch Timeout"}},
      {"I2C para Gen",
       {"Base", "Nops", "SDA IN Port", "SDA IN Bit", "SDA IN Pol", "SDA OUT Port", "SDA OUT Bit",
        "SDA OUT Pol", "SCL IN Port", "SCL IN Bit", "SCL IN Pol", "SCL OUT Port", "SCL OUT Bit",
        "SCL OUT Pol", "Bus Speed", "Stretch Timeout"}},
      {"Port IO",
       {"Backend", "Trace", "Parport", "Parport Base", "FTDI Device", "FTDI Interface",
        "FTDI Pin Port", "FTDI Direction Port", "FTDI Outputs", "GPIO Chip", "GPIO Lines",
        "GPIO Latch Port", "GPIO Pin Port"}},
      {"Simulation",
       {"Devices", "Large EEPROMs", "EEPROM File", "Waveform", "Card Base", "Parport Base", "Bus Busy",
        "Bus Error", "PIN Polls", "Adapter Status", "SDA Stuck", "NACK Byte", "Access Time",
        "Wall Clock", "EEPROM Write Time", "Stretch Time",
        "Stranded Slave", "Timing Check", "Timing Strict"}},
  };
  std::vector<std::string> expected;
  for (const auto& [section, keys] : read_by_the_system) {
    for (const std::string& key : keys) expected.push_back("[" + section + "] " + key);
  }
  std::vector<std::string> listed;
  for (const Entry& entry : sample.entries()) {
    listed.push_back("[" + entry.section + "] " + entry.key);
    const std::string above = entry.line > 0 ? trimmed(sample.lines()[entry.line - 1]) : "";
    EXPECT_TRUE(!above.empty() && above[0] == ';')
        << listed.back() << " has no comment line above it";
  }
  EXPECT_EQ(listed, expected);

  // The record the parallel adapters write is shown, commented out.
  const std::string text = sample.text();
  for (const char* record : {"; [Debug]", "; Bastion = ", "; Barbican = "}) {
    EXPECT_NE(text.find(record), std::string::npos) << record;
  }
}

TEST_F(SampleConfiguration, SetsExactlyWhatNoFileAtAllSets) {
  std::filesystem::remove(env.ini_path());
  const std::string without_file = port_layer_and_bench_settings();
  write_text(env.ini_path(), sample.text());
  EXPECT_EQ(first_difference(without_file, port_layer_and_bench_settings()), "");

  // The library sections against a file that holds nothing but the trace.
  const SampleFile traced = sample.with("Port IO", "Trace", env.trace_path());
  for (const int interface : {0, 1, 2, 3}) {
    write_text(env.ini_path(), "[Port IO]\nTrace = " + env.trace_path() + "\n");
    const std::string with_defaults = library_session(env, interface);
    write_text(env.ini_path(), traced.text());
    EXPECT_EQ(first_difference(with_defaults, library_session(env, interface)), "")
        << "interface " << interface;
  }
}

TEST_F(SampleConfiguration, EveryKeyItListsChangesWhatTheSystemDoes) {
  // With the Custom adapter's lines wired as the Philips adapter's, the
  // masks and polarities of its lines show on the bus.
  const SampleFile wired = sample.with("I2C para Gen", "SDA OUT Port", "378")
                               .with("I2C para Gen", "SDA OUT Bit", "80")
                               .with("I2C para Gen", "SDA OUT Pol", "1")
                               .with("I2C para Gen", "SCL OUT Port", "37A")
                               .with("I2C para Gen", "SCL OUT Bit", "8")
                               .with("I2C para Gen", "SDA IN Port", "379")
                               .with("I2C para Gen", "SDA IN Bit", "80")
                               .with("I2C para Gen", "SDA IN Pol", "1");
  // A card that is not at its base is waited for through every poll of
  // every step; without port delays that wait stays short.
  const SampleFile quick_card = sample.with("I2C Card", "Nops", "0");
  // The clock input is looked up but never read back by the ten functions:
  // their master does not wait for a slave that holds the clock low.
  const std::set<std::string> looked_up_only{"SCL IN Port", "SCL IN Bit", "SCL IN Pol"};
  // Keys of the transfer interface alone, which the session here does not
  // use; the transfer suite shows what they change.
  const std::set<std::string> transfer_only{"Bus Speed", "Stretch Timeout"};

  for (const Entry& entry : sample.entries()) {
    if (entry.section == "I2C para Gen" && looked_up_only.count(entry.key)) continue;
    if (transfer_only.count(entry.key)) continue;
    const SampleFile& base = entry.section == "I2C para Gen" ? wired
                             : entry.section == "I2C Card"   ? quick_card
                                                             : sample;
    std::string value_now;
    for (const Entry& e : base.entries()) {
      if (e.section == entry.section && e.key == entry.key) value_now = lower(e.value);
    }
    const std::string before = observed(base, entry.section);
    bool changed = false;
    for (const char* other : {"1", "2", "0", "direct", "24C02@A2"}) {
      if (value_now == other) continue;
      if (observed(base.with(entry.section, entry.key, other), entry.section) != before) {
        changed = true;
        break;
      }
    }
    EXPECT_TRUE(changed) << "[" << entry.section << "] " << entry.key
                         << ": no value changes anything, so the key is misspelt or unread";
  }
}

TEST_F(SampleConfiguration, ItsCommentedPhilipsWiringMakesTheCustomAdapterReachTheBench) {
  // The commented section, with "; " taken off its lines as the comment
  // above it says, and nothing else changed.
  std::string text;
  bool in_block = false, found = false;
  for (const std::string& line : sample.lines()) {
    if (line == "; [I2C para Gen]") in_block = found = true;
    if (in_block && line.rfind("; ", 0) != 0) in_block = false;
    text += (in_block ? line.substr(2) : line) + "\n";
  }
  ASSERT_TRUE(found) << "no commented [I2C para Gen] section in the sample file";
  const auto first_line = [](const std::string& session) {
    return session.substr(0, session.find('\n'));
  };
  write_text(env.ini_path(), "[Port IO]\nTrace = " + env.trace_path() + "\n");
  const std::string philips = first_line(library_session(env, 2));
  const std::string unwired = first_line(library_session(env, 3));
  write_text(env.ini_path(), text);
  // The erased EEPROM answers and reads FF through the wired adapter, as
  // through the Philips adapter; unwired, every bit reads 0.
  EXPECT_EQ(first_line(library_session(env, 3)), philips);
  EXPECT_NE(philips, unwired);
  EXPECT_NE(philips.find("bytes 255 255"), std::string::npos) << philips;
}

}  // namespace
