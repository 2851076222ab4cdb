// The EEPROM tool's page writes and acknowledge polling against a scripted
// part (one word address byte or two) that stays busy after each write cycle for as many polls as a test
// wants, and that can refuse a byte, with either adapter's way of counting.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "utilities/eeprom_transfer.h"

namespace {

using eeprom_transfer::Bytes;

// One scripted 24Cxx behind the ten functions, counting as the parallel
// adapters or as the card does.
struct ScriptedPart {
  Bytes memory;
  unsigned page = 8;
  unsigned word_bytes = 1;
  bool card = false;
  unsigned busy_polls_after_write = 0;  // NACKs to the address after a write
  int refuse_at = -1;                   // byte address that is refused
  bool open = false;
  unsigned busy = 0;
  unsigned pointer = 0;
  unsigned block = 0;
  unsigned word_got = 0;  // word address bytes received so far
  std::vector<unsigned> page_writes;  // first byte address of each
  unsigned polls = 0;
  unsigned largest_write = 0;
};

ScriptedPart part;

std::int16_t init() { return 0; }
std::int16_t start() {
  part.open = true;
  return 0;
}
std::int16_t stop() {
  part.open = false;
  return 0;
}
std::int16_t address(std::int16_t byte) {
  if (!part.open) return part.card ? -1 : 2;
  if (part.busy > 0) {
    --part.busy;
    ++part.polls;
    return 3;
  }
  ++part.polls;
  part.block = (static_cast<unsigned>(byte) >> 1) & 7;
  part.word_got = 0;
  return 0;
}
std::int16_t send(std::int16_t count, const std::uint8_t* data) {
  std::int16_t sent = 0;
  for (; sent < count; ++sent) {
    if (part.word_got < part.word_bytes) {
      // One byte after the block bits, or two (high first) and no blocks.
      part.pointer = part.word_got == 0 ? (part.word_bytes == 1 ? part.block * 256u : 0u)
                                        : part.pointer << 8;
      part.pointer = (part.pointer | data[sent]) % part.memory.size();
      if (++part.word_got == part.word_bytes && count > sent + 1) {
        part.page_writes.push_back(part.pointer);
      }
      continue;
    }
    if (static_cast<int>(part.pointer) == part.refuse_at) {
      return static_cast<std::int16_t>(part.card ? sent + 1 : sent);
    }
    EXPECT_EQ(part.pointer / part.page, part.page_writes.back() / part.page)
        << "a page write crossed a page boundary";
    part.memory[part.pointer++] = data[sent];
  }
  const auto data_bytes = static_cast<unsigned>(count) - std::min<unsigned>(
                                                           static_cast<unsigned>(count), part.word_bytes);
  part.largest_write = std::max(part.largest_write, data_bytes);
  if (data_bytes > 0) part.busy = part.busy_polls_after_write;
  return sent;
}
std::int16_t read(std::int16_t count, std::uint8_t* buffer) {
  for (std::int16_t i = 0; i < count; ++i) buffer[i] = part.memory[part.pointer++ % part.memory.size()];
  return count;
}
std::int16_t send_byte(std::uint8_t byte) { return send(1, &byte); }
std::int16_t get_byte() { return -1; }
std::int16_t info() { return 0; }
std::int16_t select(std::int16_t) { return 0; }

const bus_access::Exports kScripted{&init, &start, &stop, &address, &send,
                                    &read, &send_byte, &get_byte, &info, &select};

eeprom_transfer::Target target_for(const eeprom_parts::Part& chip, bool card) {
  part = ScriptedPart{};
  part.memory.assign(chip.size, 0xFF);
  part.page = chip.page;
  part.word_bytes = chip.word_bytes;
  part.card = card;
  return {&kScripted, chip, 0xA0, bus_access::send_count(kScripted)};
}

Bytes pattern(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  return bytes;
}

class EveryPart : public ::testing::TestWithParam<std::tuple<eeprom_parts::Part, bool>> {};

TEST_P(EveryPart, WritesInWholePagesPollsEachWriteCycleAndReadsBack) {
  const auto [chip, card] = GetParam();
  auto target = target_for(chip, card);
  part.busy_polls_after_write = 3;
  // From byte 0, leaving out the last 5: the final page is a short one.
  const Bytes data = pattern(chip.size - 5);
  ASSERT_EQ(eeprom_transfer::write_all(target, data), "");
  const unsigned pages = (chip.size + chip.page - 1) / chip.page;
  EXPECT_EQ(part.page_writes.size(), pages);
  EXPECT_EQ(part.largest_write, chip.page);
  // Each write: its own address, three busy polls, the acknowledging one.
  EXPECT_EQ(part.polls, pages * 5);
  Bytes back;
  ASSERT_EQ(eeprom_transfer::read_all(target, back), "");
  EXPECT_EQ(eeprom_transfer::compare(chip, back, data, "f"), "");
}

TEST_P(EveryPart, NamesTheByteAddressOfARefusedByteWhicheverWayTheAdapterCounts) {
  const auto [chip, card] = GetParam();
  auto target = target_for(chip, card);
  part.refuse_at = static_cast<int>(chip.size) - 3;
  const std::string failure = eeprom_transfer::write_all(target, pattern(chip.size));
  EXPECT_EQ(failure, "the EEPROM refused the byte at byte address " +
                         eeprom_transfer::byte_address(chip, chip.size - 3) + " (no acknowledge)");
}

INSTANTIATE_TEST_SUITE_P(PartsAndCounting, EveryPart,
                         ::testing::Combine(::testing::ValuesIn(eeprom_parts::kParts),
                                            ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_card" : "_parallel");
                         });

TEST(WriteCyclePolling, APartThatNeverAcknowledgesTimesOutWithinTheLimit) {
  auto target = target_for(eeprom_parts::kParts[1], false);
  target.write_cycle_limit = std::chrono::milliseconds(30);
  part.busy = 1u << 30;
  const auto began = std::chrono::steady_clock::now();
  const std::string failure = eeprom_transfer::wait_for_write_cycle(target, 0x48);
  const auto took = std::chrono::steady_clock::now() - began;
  EXPECT_GE(took, std::chrono::milliseconds(30));
  EXPECT_LT(took, std::chrono::milliseconds(1000));
  EXPECT_GT(part.polls, 1u) << "it must poll, not wait once";
  EXPECT_EQ(failure.rfind("time-out: the write cycle of the page at byte address 0x48 did not "
                          "end within 30 ms (",
                          0),
            0u)
      << failure;
}

// A range from an offset: the first page write stops at its page's end,
// the last is short, and the reads give the range alone.
TEST(Ranges, WritesAndReadsFromAnOffsetInPagesOfThePart) {
  for (const auto& chip : {eeprom_parts::kParts[4], eeprom_parts::kParts[9]}) {
    SCOPED_TRACE(std::string(chip.name));
    auto target = target_for(chip, false);
    const unsigned from = chip.size - 3 * chip.page + 5;
    const Bytes data = pattern(2 * chip.page);
    ASSERT_EQ(eeprom_transfer::write(target, from, data), "");
    const std::vector<unsigned> pages{from, from - 5 + chip.page, from - 5 + 2 * chip.page};
    EXPECT_EQ(part.page_writes, pages);
    EXPECT_EQ(Bytes(part.memory.begin() + from, part.memory.begin() + from + data.size()), data);
    EXPECT_EQ(part.memory[from - 1], 0xFF);
    EXPECT_EQ(part.memory[from + data.size()], 0xFF);
    Bytes back;
    ASSERT_EQ(eeprom_transfer::read(target, from - 1, static_cast<unsigned>(data.size()) + 2, back),
              "");
    Bytes expected{0xFF};
    expected.insert(expected.end(), data.begin(), data.end());
    expected.push_back(0xFF);
    EXPECT_EQ(back, expected);
    EXPECT_EQ(eeprom_transfer::write(target, from, pattern(3 * chip.page)),
              "the data holds " + std::to_string(3 * chip.page) + " bytes from byte address " +
                  eeprom_transfer::byte_address(chip, from) + ", a " + std::string(chip.name) +
                  " " + std::to_string(chip.size));
  }
}

TEST(Comparing, NamesTheFirstDifferenceAndCountsThem) {
  const auto& chip = eeprom_parts::kParts[4];
  Bytes memory(chip.size, 0xFF);
  Bytes expected = memory;
  expected[0x1A3] = 0x12;
  expected[0x7FF] = 0x00;
  EXPECT_EQ(eeprom_transfer::compare(chip, memory, expected, "x.bin"),
            "mismatch at byte address 0x1a3 reads 0xFF, x.bin has 0x12 (2 of 2048 bytes differ)");
  EXPECT_EQ(eeprom_transfer::compare(chip, memory, Bytes(16, 0xFF), "x.bin"), "");
}

}  // namespace
