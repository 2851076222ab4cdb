// The card on a bus that moves its bytes without their edges against the
// same card on a bus that clocks every edge: random register traffic, the
// library's transactions among stray commands, must read back the same
// registers, give the slaves the same events and report the same
// violations.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "card_bench.h"
#include "sim/devices/eeprom_24c02.h"

namespace {

using namespace pcf8584_registers;
using card_test::CardBench;

struct Access {
  bool write;
  unsigned reg;
  std::uint8_t value;
};

// A card bench with a recording slave at 0x90 that refuses its fifth byte,
// and a 24C02 at 0xA0.
struct Rig {
  explicit Rig(bool every_edge) {
    bench.bus.clock_every_edge(every_edge);
    bench.add_slave(0x90).nack_at = 5;
    auto part = std::make_unique<sim::Eeprom24c02>(0xA0, "", nullptr);
    eeprom = part.get();
    bench.bus.attach(std::move(part));
  }
  // What the access shows: the value read, or nothing for a write.
  int apply(const Access& access) {
    bench.bus.tick();
    if (access.write) {
      bench.card.write(access.reg, access.value);
      return -1;
    }
    return bench.card.read(access.reg);
  }
  CardBench bench;
  sim::Eeprom24c02* eeprom = nullptr;
};

// Start, address, bytes out or in with the PIN waits and the read
// termination, as the adapter drives the card; between them commands and
// register accesses in any order.
std::vector<Access> random_card_traffic(unsigned seed, int rounds) {
  std::mt19937 rng(seed);
  const auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
  const auto below = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
  const auto byte = [&] { return static_cast<std::uint8_t>(rng()); };
  static constexpr std::uint8_t kCommands[] = {kIdle,  kEnableNoAck, kStart, kRepeatedStart,
                                               kStopThenStart, kStop,  kInterfaceOff};
  static constexpr std::uint8_t kAddresses[] = {0xA0, 0xA1, 0x90, 0x91, 0x50, 0x51};
  std::vector<Access> accesses;
  const auto s0 = [&](std::uint8_t value) { accesses.push_back({true, kS0, value}); };
  const auto s1 = [&](std::uint8_t value) { accesses.push_back({true, kS1, value}); };
  const auto read = [&](unsigned reg) { accesses.push_back({false, reg, 0}); };

  // The adapter's init.
  s1(kSelectOwnAddress);
  s0(0x55);
  s1(kSelectClock);
  s0(0x1C);
  s1(kIdle);
  for (int round = 0; round < rounds; ++round) {
    if (chance(75)) {
      const std::uint8_t address = kAddresses[below(std::size(kAddresses))];
      if (chance(50)) {
        s0(address);
        s1(kStart);
      } else {
        s1(chance(50) ? kRepeatedStart : kStopThenStart);
        s0(address);
      }
      read(kS1);
      const unsigned count = below(10);
      if (address & 1) {
        s1(kIdle);
        read(kS0);  // the dummy read that starts the first byte
        for (unsigned i = 0; i < count; ++i) {
          read(kS1);
          if (i + 1 == count && chance(85)) s1(kEnableNoAck);
          read(kS0);
        }
      } else {
        for (unsigned i = 0; i < count; ++i) {
          s0(byte());
          read(kS1);
        }
      }
      if (chance(70)) {
        s1(kStop);
        if (address & 1) read(kS0);
        read(kS1);
      }
    } else {
      switch (below(4)) {
        case 0: s1(chance(80) ? kCommands[below(std::size(kCommands))] : byte()); break;
        case 1: s0(byte()); break;
        default: read(below(3)); break;
      }
    }
  }
  return accesses;
}

TEST(Pcf8584Shortcut, RandomRegisterTrafficEndsAlikeWithAndWithoutTheEdges) {
  std::uint64_t shortcuts = 0;
  for (unsigned seed = 1; seed <= 30; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Rig shortcut(false);
    Rig edges(true);
    const std::vector<Access> accesses = random_card_traffic(seed, 200);
    for (std::size_t i = 0; i < accesses.size(); ++i) {
      const Access& access = accesses[i];
      const int a = shortcut.apply(access);
      const int b = edges.apply(access);
      ASSERT_EQ(a, b) << "access " << i << ": " << (access.write ? "write" : "read") << " of S"
                      << access.reg << " (" << static_cast<int>(access.value) << ")";
      ASSERT_EQ(shortcut.bench.events, edges.bench.events) << "after access " << i;
      ASSERT_EQ(shortcut.bench.bus.sda(), edges.bench.bus.sda()) << "after access " << i;
      ASSERT_EQ(shortcut.bench.bus.scl(), edges.bench.bus.scl()) << "after access " << i;
    }
    EXPECT_EQ(shortcut.bench.violations, edges.bench.violations);
    EXPECT_EQ(shortcut.eeprom->contents(), edges.eeprom->contents());
    EXPECT_EQ(edges.bench.bus.bytes_without_edges(), 0u);
    shortcuts += shortcut.bench.bus.bytes_without_edges();
  }
  EXPECT_GT(shortcuts, 30u * 200u);
}

}  // namespace
