// The ten exports of libtarnwick.so called in random order with random
// arguments on the bench: nothing crashes, no buffer is read or written
// beyond its count (the sanitizers watch), and every result is one of the
// codes that the selected adapter may give.
//
// Input: the first byte chooses one of the bench set-ups below; then one
// call per opcode byte, its arguments in the bytes after it:
//
//   opcode % 10  call                 arguments
//   0            I2C_Init
//   1            I2C_Start
//   2            I2C_Stop
//   3            I2C_Address          2 bytes, little-endian
//   4            I2C_Send             count byte, then up to count data bytes
//   5            I2C_Read             count byte
//   6            I2C_SendByte         1 byte
//   7            I2C_GetByte
//   8            I2C_Info
//   9            I2C_SelectInterface  2 bytes, little-endian
//
// A count byte below F8 is a count from -8 to 39 (byte % 48 - 8); F8 to FF
// are -32768, -1, 0, 1, 255, 256, 4095 and 32767. An opcode with bit 7 set
// passes a null pointer to Send or Read.
//
// The bus semaphores wait 100 ms for a slot this process holds itself (a
// second card start, an init during a transaction). Those waits would only
// slow the fuzzer down, so before a card start and before any init the
// adapter holding the slot is stopped first; no call then ever waits. A
// parallel start never waits (on an open bus it restarts), so one that
// reports its slot as not obtained is a fault.
//
// The base port and Nops in force are those of the adapter initialised
// last. After a parallel adapter's init the card drives the parallel port,
// where its PIN bit never clears: each of its waits for a byte then polls
// 99999 times, with Nops reads after each poll, as designed. So that the
// designed worst case of an input stays well inside libFuzzer's time-out,
// an input may spend at most kLostWaits such waits; a card call that could
// spend more is cut to what is left (a shorter count) or not made.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "sim/bench/sim_bench.h"
#include "tarnwick.h"
#include "tests/fuzz/fuzz_environment.h"

namespace {

using fuzz_environment::fail;

constexpr const char* kCommon =
    "[I2C Device]\nDefault = 1\n[I2C Card]\nNops = 1\n[I2C para]\nNops = 1\n";

// The bench as a person might find it: normal, a bus held by another
// master, a bus error, a data line stuck low, a slow card, the Philips
// adapter unplugged, the Philips adapter at a port where nothing is, no
// devices on the bus.
const std::array<std::string, 8> kBenches = {
    "",
    "[Simulation]\nBus Busy = 1\n",
    "[Simulation]\nBus Error = 1\n",
    "[Simulation]\nSDA Stuck = 1\n",
    "[Simulation]\nPIN Polls = 3\n",
    "[Simulation]\nAdapter Status = 50\n",
    "[I2C para]\nBase = 278\n",
    "[Simulation]\nDevices =\n",
};

std::array<std::string, kBenches.size()> bench_files;

// The adapter each interface number reaches: 2 the Philips adapter, 3 the
// Custom adapter, every other number the card.
enum class Adapter { card, philips, custom };

Adapter adapter_for(std::int16_t interface) {
  return interface == 2 ? Adapter::philips : interface == 3 ? Adapter::custom : Adapter::card;
}

std::int16_t interface_of(Adapter adapter) {
  return adapter == Adapter::card ? 1 : adapter == Adapter::philips ? 2 : 3;
}

int slot_of(Adapter adapter) { return adapter == Adapter::card ? 0 : 1; }

Adapter selected = Adapter::card;

// The adapter whose init set the base port and Nops now in force.
Adapter settings_of = Adapter::card;

// PIN waits that may run out (99999 polls, about 200 000 port reads each
// with Nops 1) allowed per input, and those the input has spent.
constexpr long kLostWaits = 48;
long lost_waits = 0;

// A card that polls a port where no card is.
bool card_lost() { return selected == Adapter::card && settings_of != Adapter::card; }

// Whether a card call that waits for PIN up to `waits` times may be made.
bool afford(long waits) {
  if (!card_lost()) return true;
  if (lost_waits + waits > kLostWaits) return false;
  lost_waits += waits;
  return true;
}

// A send or read count that keeps its call within the waits left: one per
// byte, and up to three more for the wait before it and a change of
// direction (the end of a read, the address).
std::int16_t affordable_count(std::int16_t count) {
  if (!card_lost() || count <= 0) return count;
  const long left = kLostWaits - lost_waits - 3;
  return static_cast<std::int16_t>(std::max(1L, std::min<long>(count, left)));
}

void select(Adapter adapter) {
  I2C_SelectInterface(interface_of(adapter));
  selected = adapter;
}

// Stops whichever adapter holds `slot`, so that the next wait for it does
// not wait at all.
void free_slot(int slot) {
  if (!fuzz_environment::slot_held(slot)) return;
  const Adapter before = selected;
  select(slot == 0 ? Adapter::card : Adapter::philips);
  I2C_Stop();
  select(before);
  if (fuzz_environment::slot_held(slot)) {
    fail("bus slot " + std::to_string(slot) + " stays held after its adapter's stop");
  }
}

std::string name_of(Adapter adapter) {
  return adapter == Adapter::card ? "card" : adapter == Adapter::philips ? "Philips" : "Custom";
}

void expect(bool allowed, const char* call, long result, long count = 0) {
  if (!allowed) {
    fail(std::string(call) + " on the " + name_of(selected) + " adapter gave " +
         std::to_string(result) + (count != 0 ? " for count " + std::to_string(count) : ""));
  }
}

bool any_of(long result, std::initializer_list<long> codes) {
  for (const long code : codes) {
    if (result == code) return true;
  }
  return false;
}

void check_send(long result, long count) {
  if (selected == Adapter::card) {
    // Bytes written, the refused one counted; -1 refused.
    expect(result == -1 || (count > 0 && result >= 1 && result <= count), "I2C_Send", result, count);
  } else {
    // Bytes acknowledged; 2 bus not open; -1 refused.
    expect(any_of(result, {2, -1}) || (result >= 0 && result <= count), "I2C_Send", result, count);
  }
}

void check_read(long result, long count) {
  if (selected == Adapter::card) {
    expect(result == -1 || (count > 0 && result == count), "I2C_Read", result, count);
  } else {
    expect(any_of(result, {2, -1}) || (count > 0 && result == count), "I2C_Read", result, count);
  }
}

// The input read front to back; past its end every byte reads 0.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::int16_t word() {
    const unsigned low = byte();
    return static_cast<std::int16_t>(low | (unsigned{byte()} << 8));
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

std::int16_t count_from(std::uint8_t byte) {
  static constexpr std::array<std::int16_t, 8> kSpecial = {-32768, -1, 0, 1, 255, 256, 4095, 32767};
  return byte >= 0xF8 ? kSpecial[byte - 0xF8] : static_cast<std::int16_t>(byte % 48 - 8);
}

// Every input begins with no transaction open, a bench fresh from power-up
// and the adapter that "Default" names, initialised: the base port and Nops
// that an earlier input's init left would otherwise carry over, and an
// input would not do again what it did in the run that found it.
void begin(std::uint8_t bench) {
  free_slot(0);
  free_slot(1);
  ::setenv("I2C_INI", bench_files[bench % bench_files.size()].c_str(), 1);
  SimBenchRestart();
  select(Adapter::card);
  const long result = I2C_Init();
  expect(result == 0, "I2C_Init", result);
  settings_of = Adapter::card;
  lost_waits = 0;
}

void call(Input& input) {
  const std::uint8_t opcode = input.byte();
  const bool null_pointer = (opcode & 0x80) != 0;
  switch (opcode % 10) {
    case 0: {
      free_slot(slot_of(selected));
      const long result = I2C_Init();
      expect(result == 0, "I2C_Init", result);
      settings_of = selected;
      break;
    }
    case 1: {
      if (selected == Adapter::card) free_slot(0);
      const long result = I2C_Start();
      if (selected == Adapter::card) {
        expect(any_of(result, {0, 1, 2}), "I2C_Start", result);
      } else {
        expect(result == 0, "I2C_Start (no other process holds the slot)", result);
      }
      break;
    }
    case 2: {
      if (!afford(2)) break;  // the wait for the last byte, the end of a read
      const long result = I2C_Stop();
      expect(selected == Adapter::card ? any_of(result, {0, 1}) : result == 0, "I2C_Stop", result);
      break;
    }
    case 3: {
      const std::int16_t address = input.word();
      if (!afford(2)) break;  // the end of a read, the address byte
      const long result = I2C_Address(address);
      expect(selected == Adapter::card ? any_of(result, {0, 3, -1}) : any_of(result, {0, 2, 3}),
             "I2C_Address", result);
      break;
    }
    case 4: {
      const std::int16_t count = affordable_count(count_from(input.byte()));
      // Exactly count bytes on the heap, so that one byte too many is seen.
      const std::size_t size = count > 0 ? static_cast<std::size_t>(count) : 0;
      std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[size]);
      for (std::size_t i = 0; i < size; ++i) bytes[i] = input.byte();
      if (!afford(count > 0 ? count + 3 : 0)) break;
      const long result = I2C_Send(count, null_pointer ? nullptr : bytes.get());
      check_send(result, count);
      break;
    }
    case 5: {
      const std::int16_t count = affordable_count(count_from(input.byte()));
      const std::size_t size = count > 0 ? static_cast<std::size_t>(count) : 0;
      std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[size]);
      if (!afford(count > 0 ? count + 3 : 0)) break;
      const long result = I2C_Read(count, null_pointer ? nullptr : buffer.get());
      check_read(result, count);
      break;
    }
    case 6: {
      const std::uint8_t byte = input.byte();
      if (!afford(4)) break;
      const long result = I2C_SendByte(byte);
      check_send(result, 1);
      break;
    }
    case 7: {
      if (!afford(4)) break;
      const long result = I2C_GetByte();
      expect(result >= -1 && result <= 255, "I2C_GetByte", result);
      break;
    }
    case 8: {
      const long result = I2C_Info();
      expect(result == 0, "I2C_Info", result);
      break;
    }
    case 9: {
      const std::int16_t interface = input.word();
      const long result = I2C_SelectInterface(interface);
      selected = adapter_for(interface);
      expect(result == 0, "I2C_SelectInterface", result);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char*** argv) {
  const std::string common = std::string(kCommon) + "[I2C para Gen]\nNops = 1\n" +
                             fuzz_environment::custom_wiring;
  fuzz_environment::set_up(*argv, common);
  for (std::size_t i = 0; i < kBenches.size(); ++i) {
    bench_files[i] = fuzz_environment::write_configuration(
        "bench" + std::to_string(i) + ".ini", common + kBenches[i]);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input(data, size);
  begin(input.byte());
  while (!input.empty()) call(input);
  return 0;
}
