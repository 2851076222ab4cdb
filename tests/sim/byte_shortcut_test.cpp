// The byte face moves a byte without its edges when nobody could see them.
// These tests run the same random traffic on two buses, one free to take
// that shortcut and one clocking every edge, and demand the same outcome:
// results, line levels, device events and contents, violation reports and,
// once recording starts, the same waveform file.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "sim/bus/i2c_bus.h"
#include "sim/bus/waveform.h"
#include "sim/devices/device_list.h"
#include "sim/devices/eeprom_24c02.h"
#include "tests/sim/faces.h"

namespace {

std::string hex(unsigned byte) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", byte & 0xFF);
  return text;
}

// Writes down every event with its byte; refuses the byte 0x5A, as a slave
// with its own reasons to NACK does; sends 0x00, 0x81, 0x02, 0x83, ...
class Logger final : public sim::Device {
 public:
  Logger(std::uint8_t address, std::string& log) : address_(address), log_(log) {}
  std::uint8_t address() const override { return address_; }
  void on_start() override { log_ += "S "; }
  void on_selected(bool read) override { log_ += read ? "r " : "w "; }
  bool on_write(std::uint8_t byte) override {
    log_ += "W" + hex(byte) + " ";
    return byte != 0x5A;
  }
  std::uint8_t on_read() override {
    log_ += "R ";
    const auto byte = static_cast<std::uint8_t>(next_ | ((next_ & 1) << 7));
    ++next_;
    return byte;
  }
  void on_stop() override { log_ += "P "; }

 private:
  std::uint8_t address_;
  std::string& log_;
  std::uint8_t next_ = 0;
};

enum class Kind { start, write, read, stop, drive, hold, record };

struct Op {
  Kind kind;
  std::uint8_t byte = 0;  // write: the byte
  bool first = false;     // read: ACK; drive: SDA level; hold: held
  bool second = false;    // drive: SCL level
};

// A bus with the bench's devices, a logging slave and a second master on
// the line face, which the traffic uses to get in the byte face's way.
struct Rig {
  Rig(bool every_edge, unsigned refused_byte, std::string waveform_path = "")
      : waveform_path(std::move(waveform_path)) {
    bus.clock_every_edge(every_edge);
    bus.refuse_data_byte(refused_byte);
    bus.on_violation([this](std::string_view line) { violations.emplace_back(line); });
    for (auto& device :
         sim::make_devices("24C02@A0 LM75@90 PCF8574@40", "", [](std::string_view) {})) {
      bus.attach(std::move(device));
    }
    bus.attach(std::make_unique<Logger>(0x20, log));
    line = bus.add_line_master();
  }

  // Applies one step and gives what an observer of the bus sees after it.
  std::string apply(const Op& op) {
    bus.tick();
    std::string seen;
    switch (op.kind) {
      case Kind::start: bus.start(); break;
      case Kind::stop: bus.stop(); break;
      case Kind::write: seen = bus.write(op.byte) ? "ack" : "nack"; break;
      case Kind::read: seen = hex(bus.read(op.first)); break;
      case Kind::drive: bus.drive(line, op.first, op.second); break;
      case Kind::hold: bus.hold_sda_low(op.first); break;
      case Kind::record: {
        std::string error;
        auto waveform = sim::Waveform::open(waveform_path, &error);
        if (!waveform) return "waveform: " + error;
        bus.record_waveform(std::move(waveform));
        break;
      }
    }
    return seen + " sda=" + std::to_string(bus.sda()) + " scl=" + std::to_string(bus.scl()) +
           " violations=" + std::to_string(bus.violations());
  }

  const sim::Eeprom24c02& eeprom() const {
    return *static_cast<const sim::Eeprom24c02*>(bus.device_at(0xA0));
  }

  sim::Bus bus;
  std::string log;
  std::vector<std::string> violations;
  int line = -1;
  std::string waveform_path;
};

std::string describe(const Op& op) {
  switch (op.kind) {
    case Kind::start: return "START";
    case Kind::stop: return "STOP";
    case Kind::write: return "write " + hex(op.byte);
    case Kind::read: return std::string("read, ") + (op.first ? "ACK" : "NACK");
    case Kind::drive:
      return "line master sda=" + std::to_string(op.first) + " scl=" + std::to_string(op.second);
    case Kind::hold: return op.first ? "SDA held low" : "SDA freed";
    case Kind::record: return "waveform starts";
  }
  return "?";
}

// Mostly whole transactions (the card's and the library's), some of them
// ended badly, with stray byte-face calls, another master pulling lines
// and a shorted SDA in between.
std::vector<Op> random_traffic(unsigned seed, int transactions) {
  std::mt19937 rng(seed);
  const auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
  const auto below = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
  static constexpr std::uint8_t kAddresses[] = {0xA0, 0xA1, 0x90, 0x91, 0x40, 0x41,
                                                0x20, 0x21, 0x22, 0x23};
  std::vector<Op> ops;
  for (int t = 0; t < transactions; ++t) {
    if (chance(70)) {
      ops.push_back({Kind::start});
      const std::uint8_t address =
          chance(90) ? kAddresses[below(std::size(kAddresses))] : static_cast<std::uint8_t>(rng());
      ops.push_back({Kind::write, address});
      const unsigned count = below(12);
      for (unsigned i = 0; i < count; ++i) {
        if (address & 1) {
          // The last byte read is NACKed, except now and then.
          ops.push_back({Kind::read, 0, i + 1 < count || chance(10)});
        } else {
          const auto byte = chance(10) ? std::uint8_t{0x5A} : static_cast<std::uint8_t>(rng());
          ops.push_back({Kind::write, byte});
        }
      }
      if (chance(75)) ops.push_back({Kind::stop});
    } else if (chance(60)) {
      switch (below(4)) {
        case 0: ops.push_back({Kind::start}); break;
        case 1: ops.push_back({Kind::write, static_cast<std::uint8_t>(rng())}); break;
        case 2: ops.push_back({Kind::read, 0, chance(50)}); break;
        default: ops.push_back({Kind::stop}); break;
      }
    } else if (chance(85)) {
      const unsigned steps = 1 + below(4);
      for (unsigned i = 0; i < steps; ++i) ops.push_back({Kind::drive, 0, chance(50), chance(50)});
      // Usually the other master lets go again; sometimes it keeps pulling
      // while the byte face goes on.
      if (chance(80)) ops.push_back({Kind::drive, 0, true, true});
    } else {
      ops.push_back({Kind::hold, 0, true});
      if (chance(50)) ops.push_back({Kind::write, static_cast<std::uint8_t>(rng())});
      ops.push_back({Kind::hold, 0, false});
    }
  }
  return ops;
}

// Runs `ops` on both rigs and gives the number of the first step where
// they part (or -1), with what each showed there.
int first_difference(Rig& shortcut, Rig& edges, const std::vector<Op>& ops, std::string& report) {
  for (std::size_t i = 0; i < ops.size(); ++i) {
    const std::string a = shortcut.apply(ops[i]);
    const std::string b = edges.apply(ops[i]);
    if (a != b || shortcut.log != edges.log) {
      report = "step " + std::to_string(i) + " (" + describe(ops[i]) + "): shortcut shows \"" + a +
               "\", edge by edge \"" + b + "\"\nshortcut log: " + shortcut.log +
               "\nedges log:    " + edges.log;
      return static_cast<int>(i);
    }
  }
  return -1;
}

void expect_same_end(const Rig& shortcut, const Rig& edges) {
  EXPECT_EQ(shortcut.violations, edges.violations);
  EXPECT_EQ(shortcut.eeprom().contents(), edges.eeprom().contents());
  EXPECT_EQ(shortcut.eeprom().pointer(), edges.eeprom().pointer());
  EXPECT_EQ(edges.bus.bytes_without_edges(), 0u);
}

TEST(ByteShortcut, RandomTrafficEndsAlikeWithAndWithoutTheEdges) {
  std::uint64_t shortcuts = 0;
  for (unsigned seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const unsigned refused_byte = seed % 4;  // 0: every slave takes every byte
    Rig shortcut(false, refused_byte);
    Rig edges(true, refused_byte);
    std::string report;
    ASSERT_EQ(first_difference(shortcut, edges, random_traffic(seed, 300), report), -1) << report;
    expect_same_end(shortcut, edges);
    shortcuts += shortcut.bus.bytes_without_edges();
  }
  // The comparison means something only if the shortcut was taken often.
  EXPECT_GT(shortcuts, 40u * 300u);
}

TEST(ByteShortcut, WaveformRecordedAfterShortcutBytesIsTheSameFile) {
  const std::string dir = ::testing::TempDir();
  const std::string shortcut_path = dir + "byte_shortcut_a.vcd";
  const std::string edges_path = dir + "byte_shortcut_b.vcd";
  std::vector<Op> ops = random_traffic(77, 200);
  ops.push_back({Kind::record});
  const std::vector<Op> after = random_traffic(78, 100);
  ops.insert(ops.end(), after.begin(), after.end());
  {
    Rig shortcut(false, 2, shortcut_path);
    Rig edges(true, 2, edges_path);
    std::string report;
    ASSERT_EQ(first_difference(shortcut, edges, ops, report), -1) << report;
    expect_same_end(shortcut, edges);
    EXPECT_GT(shortcut.bus.bytes_without_edges(), 100u);
  }
  const auto text = [](const std::string& path) {
    std::ifstream in(path);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
  };
  const std::string recorded = text(shortcut_path);
  EXPECT_GT(recorded.size(), 1000u);
  EXPECT_EQ(recorded, text(edges_path));
  std::filesystem::remove(shortcut_path);
  std::filesystem::remove(edges_path);
}

// Which bytes may go without their edges, and which must not.
TEST(ByteShortcut, TakenOnlyWhileNoWaveformOtherMasterOrFaultIsOnTheWires) {
  Rig rig(false, 0);
  tw_test::ByteFace face(rig.bus);

  face.read_from(0x90, 0, 2);  // address, pointer, read address, two bytes
  EXPECT_EQ(rig.bus.bytes_without_edges(), 5u);

  // Another master holding SCL low: the controller waits for the clock.
  rig.bus.drive(rig.line, true, false);
  face.start();
  face.write(0xA0);
  rig.bus.drive(rig.line, true, true);
  face.stop();
  EXPECT_EQ(rig.bus.bytes_without_edges(), 5u);

  // A shorted SDA: every bit reads low.
  rig.bus.hold_sda_low(true);
  face.start();
  face.write(0xA0);
  face.stop();
  rig.bus.hold_sda_low(false);
  EXPECT_EQ(rig.bus.bytes_without_edges(), 5u);

  // A waveform draws every edge.
  const std::string path = ::testing::TempDir() + "byte_shortcut_taken.vcd";
  std::string error;
  auto waveform = sim::Waveform::open(path, &error);
  ASSERT_NE(waveform, nullptr) << error;
  rig.bus.record_waveform(std::move(waveform));
  face.read_from(0x90, 0, 2);
  EXPECT_EQ(rig.bus.bytes_without_edges(), 5u);
  rig.bus.record_waveform(nullptr);
  std::filesystem::remove(path);

  face.read_from(0x90, 0, 2);
  EXPECT_EQ(rig.bus.bytes_without_edges(), 10u);
}

}  // namespace
