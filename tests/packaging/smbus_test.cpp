// tarnwick.SMBus, smbus2's interface over tarnwick_transfer: a table of
// calls against the bench's parts on each adapter (results, errno values,
// PEC made and checked, bad data refused before the bus; the parts set by
// keys and by tarnwick.bench, EEPROM images, violations and strict mode),
// Debian's smbus2 message objects taken by i2c_rdwr, a driver written for
// smbus2 run with nothing changed but its import line, and its classes
// tested under pytest with the bench fixtures.
#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "tests/packaging/packaging_support.h"
#include "utilities/hex_dump.h"
#include "tests/support/files.h"
#include "tests/support/program.h"
#include "tests/support/scoped_env.h"
#include "tests/support/semaphores.h"

namespace {

using packaging_test::kQuickBench;
using packaging_test::Scratch;
using Outcome = test_kit::Run;

// Runs each line of the file named by argv[2] on a bus of adapter argv[1],
// PEC off before each: steps split at "; ", the last one's value printed as
// its repr, an OSError as its errno, TypeError, ValueError or the module's
// own errors by name.
// crc8 is the test's own, bit by bit, against the module's table.
const std::string kRunner = R"(
import datetime, sys, tarnwick
from tarnwick import SMBus, bench, i2c_msg

def crc8(data):
    crc = 0
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = ((crc << 1) ^ 0x07) & 0xFF if crc & 0x80 else (crc << 1) & 0xFF
    return crc

assert crc8(b"123456789") == 0xF4  # the check value of CRC-8/SMBUS

def held(call):
    """call() while this process holds the adapter through the ten functions."""
    tarnwick.I2C_SelectInterface(adapter)
    tarnwick.I2C_Init()
    assert tarnwick.I2C_Start() == 0
    try:
        return call()
    finally:
        tarnwick.I2C_Stop()

def poll(address):
    for _ in range(1000):
        try:
            return bus.write_quick(address)
        except OSError:
            pass

adapter = int(sys.argv[1])
bus = SMBus(adapter)
names = dict(globals())
for line in open(sys.argv[2]):
    *steps, last = line.rstrip("\n").split("; ")
    bus.pec = 0
    try:
        for step in steps:
            exec(step, names)
        result = repr(eval(last, names))
    except OSError as error:
        result = f"OSError {error.errno}"
    except (TypeError, ValueError, tarnwick.TarnwickError) as error:
        result = type(error).__name__
    print(result)
)";

// Bench settings beyond the quick bench of every adapter.
constexpr const char* kQuick = "EEPROM Write Time = 0\n";
// Bench time from the port accesses alone: a loaded machine's pause
// between the write and the read must not end the write cycle.
constexpr const char* kWriteCycle = "Wall Clock = 0\n";
constexpr const char* kThirdByteRefused = "EEPROM Write Time = 0\nNACK Byte = 3\n";
constexpr const char* kBusHeld = "Bus Busy = 1\nSDA Stuck = 1\n";
// The parts' keys (image.bin as i2cdump's text in image.txt), and a 24C04
// whose faces at 52 and 54 reach one part.
constexpr const char* kPartKeys =
    "EEPROM Write Time = 0\nTemperature@90 = -20.5\nInputs@40 = 5A\n"
    "Time@D0 = 2031-02-03 04:05:06\nImage@A0 = image.txt\n"
    "Devices = 24C02@A0 LM75@90 PCF8574@40 DS1307@D0 24C04@A4\n";
// Keys no part can take: each part keeps its power-up state.
constexpr const char* kBadKeys =
    "Temperature@90 = 125.5\nInputs@40 = 1FF\nTime@D0 = 2031-02-29 00:00:00\n"
    "Image@A0 = torn.txt\n";
// Asked for 400 kHz, the bit-banged adapters make fast-mode phases that a
// standard-mode bus sees as violations; the card runs 90 kHz at most.
constexpr const char* kStandardBus = "Timing Check = standard\n";

struct Call {
  const char* settings;
  const char* code;
  const char* result;
  const char* on_card = nullptr;  // where the PCF8584 card differs
};

// Rows with the same settings run in order in one process, on one bench.
// LM75 at 0x48 (25.0 C, high byte first), 24C02 at 0x50 (8-byte pages,
// erased), PCF8574 at 0x20, DS1307 at 0x68.
const std::array kCalls{
    // The LM75: a word is low byte first on SMBus, the part sends its high
    // byte first; its registers keep the bits they have.
    Call{kQuick, "bus.read_word_data(0x48, 0)", "25"},
    Call{kQuick, "bus.read_i2c_block_data(0x48, 0, 2)", "[25, 0]"},
    Call{kQuick, "bus.write_byte_data(0x48, 1, 0xFF); bus.read_byte_data(0x48, 1)", "31"},
    Call{kQuick, "bus.write_word_data(0x48, 3, 0xC050); bus.read_word_data(0x48, 3)", "32848"},
    Call{kQuick, "bus.process_call(0x48, 2, 0x7F4B)", "75"},
    // Writes 2, count 1, 0x80: T_HYST becomes 0x0180, read back as count 1
    // and the byte 0x80, all in one transaction.
    Call{kQuick, "bus.block_process_call(0x48, 2, [0x80])", "[128]"},
    // The EEPROM.
    Call{kQuick, "bus.write_i2c_block_data(0x50, 0x10, range(0x40, 0x48)); bus.read_i2c_block_data(0x50, 0x10, 8)",
         "[64, 65, 66, 67, 68, 69, 70, 71]"},
    Call{kQuick, "bus.write_byte_data(0x50, 0x18, 0xA5); bus.read_byte_data(0x50, 0x18)", "165"},
    Call{kQuick, "bus.write_byte(0x50, 0x11); bus.read_byte(0x50)", "65"},
    Call{kQuick, "bus.write_word_data(0x50, 0x20, 0x1234); bus.read_i2c_block_data(0x50, 0x20, 2)", "[52, 18]"},
    Call{kQuick, "bus.write_block_data(0x50, 0x28, b'\\x07\\x08\\x09'); bus.read_i2c_block_data(0x50, 0x28, 4)",
         "[3, 7, 8, 9]"},
    Call{kQuick, "bus.read_block_data(0x50, 0x28)", "[7, 8, 9]"},
    Call{kQuick, "bus.read_block_data(0x50, 0xF0)", "OSError 71"},  // erased: count 255
    Call{kQuick, "w, r = i2c_msg.write(0x50, [0x12]), i2c_msg.read(0x50, 3); bus.i2c_rdwr(w, r); list(r)",
         "[66, 67, 68]"},
    Call{kQuick, "bus.write_quick(0x50)", "None"},
    Call{kQuick, "bus.write_quick(0x51)", "OSError 6"},
    Call{kQuick, "bus.read_byte_data(0x51, 0)", "OSError 6"},
    // The PCF8574 and the DS1307.
    Call{kQuick, "bus.read_byte(0x20)", "255"},
    Call{kQuick, "bus.write_byte(0x20, 0x5A); bus.read_byte(0x20)", "90"},
    Call{kQuick, "bus.read_byte_data(0x68, 7)", "3"},
    Call{kQuick, "bus.write_i2c_block_data(0x68, 8, [1, 2, 3]); bus.read_i2c_block_data(0x68, 8, 3)", "[1, 2, 3]"},
    // PEC written: the EEPROM stores the PEC byte after the data.
    Call{kQuick, "bus.pec = 1; bus.write_byte_data(0x50, 0x30, 0x11); bus.pec = 0; bus.read_i2c_block_data(0x50, 0x30, 2) == [0x11, crc8([0xA0, 0x30, 0x11])]", "True"},
    Call{kQuick, "bus.pec = 1; bus.write_word_data(0x50, 0x38, 0x2211); bus.pec = 0; bus.read_i2c_block_data(0x50, 0x38, 3) == [0x11, 0x22, crc8([0xA0, 0x38, 0x11, 0x22])]", "True"},
    Call{kQuick, "bus.pec = 1; bus.write_block_data(0x50, 0x40, [5, 6]); bus.pec = 0; bus.read_i2c_block_data(0x50, 0x40, 4) == [2, 5, 6, crc8([0xA0, 0x40, 2, 5, 6])]", "True"},
    Call{kQuick, "bus.pec = 1; bus.write_byte(0x50, 0x48); bus.pec = 0; bus.read_byte_data(0x50, 0x48) == crc8([0xA0, 0x48])", "True"},
    // No PEC on the I2C block calls and on a quick write, as in Linux.
    Call{kQuick, "bus.write_i2c_block_data(0x50, 0x50, [0xEE, 0xEE]); bus.pec = 1; bus.write_i2c_block_data(0x50, 0x50, [1]); bus.pec = 0; bus.read_i2c_block_data(0x50, 0x50, 2)", "[1, 238]"},
    Call{kQuick, "bus.pec = 1; bus.read_i2c_block_data(0x48, 0, 2)", "[25, 0]"},
    Call{kQuick, "bus.pec = 1; bus.write_quick(0x50)", "None"},
    // PEC read: the EEPROM holds data and the PEC over the whole transaction.
    Call{kQuick, "bus.write_i2c_block_data(0x50, 0x58, [0x42, crc8([0xA0, 0x58, 0xA1, 0x42])]); bus.pec = 1; bus.read_byte_data(0x50, 0x58)", "66"},
    Call{kQuick, "bus.write_i2c_block_data(0x50, 0x58, [0x42, crc8([0xA0, 0x58, 0xA1, 0x42]) ^ 1]); bus.pec = 1; bus.read_byte_data(0x50, 0x58)", "OSError 74"},
    Call{kQuick, "bus.write_i2c_block_data(0x50, 0x60, [0x34, 0x12, crc8([0xA0, 0x60, 0xA1, 0x34, 0x12])]); bus.pec = 1; bus.read_word_data(0x50, 0x60)", "4660"},
    Call{kQuick, "bus.write_i2c_block_data(0x50, 0x68, [2, 9, 8, crc8([0xA0, 0x68, 0xA1, 2, 9, 8])]); bus.pec = 1; bus.read_block_data(0x50, 0x68)", "[9, 8]"},
    Call{kQuick, "bus.write_i2c_block_data(0x50, 0x70, [0x33, crc8([0xA1, 0x33])]); bus.write_byte(0x50, 0x70); bus.pec = 1; bus.read_byte(0x50)", "51"},
    Call{kQuick, "bus.pec = 1; bus.read_word_data(0x48, 0)", "OSError 74"},  // the LM75 sends no PEC
    // Messages the library refuses, and a lock another user holds.
    Call{kQuick, "bus.i2c_rdwr(i2c_msg.read(0x50, 1), i2c_msg(addr=0x50, flags=1, len=0))", "OSError 22"},
    Call{kQuick, "m = i2c_msg.write(0x50, [0]); m.flags = 0x0010; bus.i2c_rdwr(m)", "OSError 95"},
    Call{kQuick, "w, d = i2c_msg.write(0x50, [0x78]), i2c_msg.write(0x50, [0x99]); d.flags = 0x4000; bus.i2c_rdwr(w, d); bus.read_byte_data(0x50, 0x78)",
         "153", "OSError 95"},
    Call{kQuick, "held(lambda: bus.read_byte(0x50))", "OSError 16"},
    // Bad data raises before the bus: the page written above is unchanged.
    Call{kQuick, "bus.write_i2c_block_data(0x50, 0x10, 16)", "TypeError"},
    Call{kQuick, "bus.write_i2c_block_data(0x50, 0x10, 'ab')", "TypeError"},
    Call{kQuick, "bus.write_i2c_block_data(0x50, 0x10, [1, 256])", "ValueError"},
    Call{kQuick, "bus.write_block_data(0x50, 0x10, bytes(33))", "ValueError"},
    Call{kQuick, "bus.write_byte_data(0x50, 0x10, 256)", "ValueError"},
    Call{kQuick, "bus.write_byte_data(0x50, 0x110, 0)", "ValueError"},
    Call{kQuick, "bus.write_word_data(0x50, 0x10, 0x10000)", "ValueError"},
    Call{kQuick, "bus.write_byte_data(0xA0, 0x10, 0)", "ValueError"},  // an 8-bit address
    Call{kQuick, "bus.read_i2c_block_data(0x50, 0x10, 33)", "ValueError"},
    Call{kQuick, "bus.i2c_rdwr(i2c_msg.write(0x50, [0x10, 0]), object())", "TypeError"},
    Call{kQuick, "bus.read_i2c_block_data(0x50, 0x10, 8)", "[64, 65, 66, 67, 68, 69, 70, 71]"},
    // During its write cycle the EEPROM does not answer its address.
    Call{kWriteCycle, "bus.write_i2c_block_data(0x50, 0, [1, 2]); bus.read_i2c_block_data(0x50, 0, 2)", "OSError 6"},
    Call{kWriteCycle, "poll(0x50); bus.read_i2c_block_data(0x50, 0, 2)", "[1, 2]"},
    // A data byte refused (the third after the address) and a bus that is
    // never free.
    Call{kThirdByteRefused, "bus.write_i2c_block_data(0x50, 0, [1, 2, 3])", "OSError 5"},
    Call{kThirdByteRefused, "bus.write_byte_data(0x50, 0, 1)", "None"},
    Call{kBusHeld, "bus.read_byte(0x50)", "OSError 110"},
    // The parts as the keys set them at power-up: -20.5 C, pins 0, 2, 5
    // and 7 pulled low, the time (a Monday), the image.
    Call{kPartKeys, "bus.read_i2c_block_data(0x48, 0, 2)", "[235, 128]"},
    Call{kPartKeys, "bus.read_byte(0x20)", "90"},
    Call{kPartKeys, "bus.read_i2c_block_data(0x68, 1, 6)", "[5, 4, 2, 3, 2, 49]"},
    Call{kPartKeys, "bytes(bus.read_i2c_block_data(0x50, 0xF0, 16)) == open('image.bin', 'rb').read()[0xF0:]", "True"},
    // Set while the bench runs.
    Call{kPartKeys, "bench.set_temperature(0x48, 100.4); bus.read_i2c_block_data(0x48, 0, 2)", "[100, 128]"},
    Call{kPartKeys, "bus.write_byte(0x20, 0x0F); bench.set_inputs(0x20, 0xFC); bus.read_byte(0x20)", "12"},
    Call{kPartKeys, "bench.set_time(0x68, datetime.datetime(2099, 12, 31, 23, 59, 30)); bus.read_i2c_block_data(0x68, 1, 6)",
         "[89, 35, 5, 49, 18, 153]"},
    Call{kPartKeys, "bench.load_eeprom(0x50, bytes(range(255, -1, -1))); bus.read_i2c_block_data(0x50, 0, 3)", "[255, 254, 253]"},
    Call{kPartKeys, "bench.load_eeprom(0x53, bytes(range(256)) * 2); bus.write_byte_data(0x52, 0x10, 0x77); bench.eeprom_image(0x52)[0x10:0x12]",
         "b'w\\x11'"},
    Call{kPartKeys, "bus.read_i2c_block_data(0x53, 0xFE, 2) + bus.read_i2c_block_data(0x52, 0x10, 1)", "[254, 255, 119]"},
    // Saved in i2cdump's text as tarnwick-eeprom prints it, and loaded back.
    Call{kPartKeys, "bench.save_eeprom(0x52, 'wide.txt', text=True); open('wide.txt').read() == open('wide_expected.txt').read()", "True"},
    Call{kPartKeys, "bench.i2cdump_text(open('image.bin', 'rb').read()) == open('image.txt').read()", "True"},
    Call{kPartKeys, "bench.save_eeprom(0x50, 'saved.bin'); bench.load_eeprom(0x50, 'image.txt'); bench.load_eeprom(0x50, 'saved.bin'); bus.read_byte_data(0x50, 0x80)", "127"},
    // Refused, the part unchanged.
    Call{kPartKeys, "bench.set_inputs(0x21, 0)", "BenchError"},
    Call{kPartKeys, "bench.eeprom_image(0x48)", "BenchError"},
    Call{kPartKeys, "bench.set_temperature(0x48, 125.5)", "ValueError"},
    Call{kPartKeys, "bench.set_time(0x68, datetime.datetime(2100, 1, 1))", "ValueError"},
    Call{kPartKeys, "bench.load_eeprom(0x50, 'torn.txt')", "BenchError"},
    Call{kPartKeys, "bench.load_eeprom(0x50, bytes(255))", "BenchError"},
    Call{kPartKeys, "bus.read_byte_data(0x50, 0x80)", "127"},
    Call{kBadKeys, "bus.read_i2c_block_data(0x48, 0, 2) + [bus.read_byte(0x20)] + bus.read_i2c_block_data(0x50, 0, 1)", "[25, 0, 255, 255]"},
    // Violations: read, then raised by strict mode ahead of the outcome.
    Call{kStandardBus, "tarnwick.library().tarnwick_bus_speed(adapter, 400000); bus.read_byte(0x48); [line.split(' (at ')[0] for line in bench.violations()[:1]]",
         "['timing: tLOW 4 us, below the 4.7 us of standard mode (100 kHz)']", "[]"},
    Call{kStandardBus, "bench.set_strict(); bus.read_byte(0x48)", "Violation", "25"},
    // The classic Bus at Nops 0 breaks standard mode at its STOP: raised
    // there, with the bus let go (the next transfer does not find it held).
    Call{kStandardBus, "b = tarnwick.Bus(adapter); b.__enter__(); b.close()", "Violation", "None"},
    Call{kStandardBus, "bench.set_strict(False); bus.read_byte(0x48)", "25"},
    Call{kStandardBus, "bench.restart(); bench.violation_count(), bench.violations()", "(0, [])"},
};

class SMBusModule : public ::testing::Test {
 protected:
  void SetUp() override {
    if (packaging_test::tree_is_sanitized()) {
      GTEST_SKIP() << "the system's Python cannot load a sanitizer build";
    }
  }

  // The system's python3 with the module of the source tree.
  static Outcome python(const Scratch& scratch, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{PYTHON3};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto env = scratch.environment();
    env.push_back("PYTHONPATH=" SOURCE_DIR "/python");
    env.push_back("TARNWICK_LIBRARY=" TARNWICK_LIBRARY);
    env.push_back("PYTHONDONTWRITEBYTECODE=1");
    return test_kit::run_program({argv, scratch.path(), env, ""});
  }

  static std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
  }
};

TEST_F(SMBusModule, EachCallOnEachAdapterGivesWhatTheBenchsPartsAnswer) {
  Scratch scratch;
  scratch.write("runner.py", kRunner);
  const std::vector<std::uint8_t> image = packaging_test::eeprom_image();
  const std::string text = hex_dump::text(image);
  scratch.write("image.bin", std::string(image.begin(), image.end()));
  scratch.write("image.txt", text);
  scratch.write("torn.txt", text.substr(0, text.rfind("f0: ")));
  std::vector<std::uint8_t> wide;
  for (int copy = 0; copy < 2; ++copy) {
    for (int byte = 0; byte < 256; ++byte) wide.push_back(static_cast<std::uint8_t>(byte));
  }
  wide[0x10] = 0x77;
  scratch.write("wide_expected.txt", hex_dump::text(wide, 0, 3));  // as tarnwick-eeprom labels a 24C04
  for (const char* adapter : {"1", "2", "3"}) {
    for (std::size_t first = 0; first < kCalls.size();) {
      std::size_t end = first;
      std::string codes;
      while (end < kCalls.size() && std::string(kCalls[end].settings) == kCalls[first].settings) {
        codes += std::string(kCalls[end++].code) + "\n";
      }
      scratch.write("I2C.INI", kQuickBench + "[Simulation]\n" + kCalls[first].settings);
      scratch.write("calls.txt", codes);
      const Outcome outcome = python(scratch, {scratch.file("runner.py"), adapter, scratch.file("calls.txt")});
      ASSERT_EQ(outcome.status(), 0) << adapter << "\n" << outcome.err;
      const std::vector<std::string> results = lines(outcome.out);
      ASSERT_EQ(results.size(), end - first) << adapter << "\n" << outcome.out << outcome.err;
      for (std::size_t row = first; row < end; ++row) {
        const Call& call = kCalls[row];
        const bool card = std::string(adapter) == "1";
        EXPECT_EQ(results[row - first], card && call.on_card ? call.on_card : call.result)
            << "adapter " << adapter << ": " << call.code;
      }
      // Each key no part could take is one line that names it.
      for (const char* key : {"Temperature@90 = \"125.5\"", "Inputs@40 = \"1FF\"",
                              "Time@D0 = \"2031-02-29 00:00:00\"", "Image@A0 = \"torn.txt\""}) {
        const bool bad = kCalls[first].settings == kBadKeys;
        EXPECT_EQ(outcome.err.find(key) != std::string::npos, bad) << key << "\n" << outcome.err;
      }
      first = end;
    }
  }
}

// Debian's python3-smbus2 objects: its i2c_msg is a ctypes Structure whose
// buf is a POINTER(c_char); a read lands in its own buffer. Mixed with this
// module's messages and a plain object with the four attributes.
const std::string kSmbus2Messages = R"(
import sys
try:
    import smbus2
except ImportError:
    print("no smbus2")
    raise SystemExit(0)
from tarnwick import SMBus, i2c_msg

class Message:
    def __init__(self, addr, flags, buf):
        self.addr, self.flags, self.len, self.buf = addr, flags, len(buf), buf

with SMBus(int(sys.argv[1])) as bus:
    bus.i2c_rdwr(smbus2.i2c_msg.write(0x50, [0x30, 1, 2, 3]))
    where, back = smbus2.i2c_msg.write(0x50, [0x30]), smbus2.i2c_msg.read(0x50, 3)
    bus.i2c_rdwr(where, back)
    assert list(back) == [1, 2, 3] and bytes(back) == b"\x01\x02\x03", back
    temperature = smbus2.i2c_msg.read(0x48, 2)
    bus.i2c_rdwr(i2c_msg.write(0x48, [0]), temperature)
    assert list(temperature) == [25, 0], temperature
    plain = Message(0x50, 1, bytearray(2))
    bus.i2c_rdwr(Message(0x50, 0, b"\x31"), plain)
    assert plain.buf == bytearray([2, 3]), plain.buf
    try:
        bus.i2c_rdwr(smbus2.i2c_msg.read(0x51, 1))
        raise SystemExit("0x51 answered")
    except OSError as error:
        assert error.errno == 6, error
print("smbus2", smbus2.__version__)
)";

TEST_F(SMBusModule, I2cRdwrTakesSmbus2sOwnMessageObjects) {
  Scratch scratch;
  scratch.write("I2C.INI", kQuickBench + "[Simulation]\n" + kQuick);
  scratch.write("messages.py", kSmbus2Messages);
  for (const char* adapter : {"1", "2", "3"}) {
    const Outcome outcome = python(scratch, {scratch.file("messages.py"), adapter});
    ASSERT_EQ(outcome.status(), 0) << adapter << "\n" << outcome.err;
    if (outcome.out == "no smbus2\n") GTEST_SKIP() << "smbus2 is not installed (Debian: python3-smbus2)";
    EXPECT_EQ(outcome.out.rfind("smbus2 ", 0), 0u) << outcome.out;
  }
}

// A driver written for smbus2 on Linux, run on the bench with its import
// line changed and nothing else. The EEPROMs keep their write cycle: the
// driver polls for the acknowledge after each page, as drivers do; the
// 24C32's note straddles a page and a 256-byte boundary of its two-byte
// word address.
TEST_F(SMBusModule, ADriverWrittenForSmbus2RunsWithOnlyItsImportChanged) {
  const std::string driver = test_kit::read_file(SOURCE_DIR "/tests/packaging/drivers/lm75_24c02.py");
  const std::string import_line = "from smbus2 import SMBus, i2c_msg\n";
  const std::size_t at = driver.find(import_line);
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(driver.find("smbus2 import", at + import_line.size()), std::string::npos);
  ASSERT_EQ(driver.find("import smbus2"), std::string::npos);
  std::string changed = driver;
  changed.replace(at, import_line.size(), "from tarnwick import SMBus, i2c_msg\n");

  Scratch scratch;
  scratch.write("I2C.INI", kQuickBench + "[Simulation]\nLarge EEPROMs = 24C32\n");
  scratch.write("driver.py", changed);
  for (const char* adapter : {"1", "2", "3"}) {
    const Outcome outcome =
        python(scratch, {scratch.file("driver.py"), adapter, "A note that spans four pages, or so"});
    EXPECT_EQ(outcome.status(), 0) << adapter << "\n" << outcome.err;
    EXPECT_EQ(outcome.out,
              "temperature 25.0 C\n"
              "alarm at 80.0 C, clear at -5.5 C\n"
              "configuration 0x01\n"
              "note: A note that spans four pages, or so\n"
              "24C32 note: A note that spans four pages, or so\n"
              "nothing at 0x57 (errno 6)\n")
        << adapter;
  }
}

}  // namespace

namespace {

// The driver's classes under pytest with the bench fixtures, in a run
// without bus locks of its own: the plugin makes them and removes them.
TEST_F(SMBusModule, PytestGivesEachDriverTestAFreshBenchBus) {
  Scratch scratch;
  std::vector<std::string> env;
  for (const std::string& entry : scratch.environment()) {
    if (entry.rfind("TARNWICK_SEM_PREFIX=", 0) != 0) env.push_back(entry);
  }
  env.insert(env.end(),
             {"TARNWICK_SEM_PREFIX",
              "PYTHONPATH=" SOURCE_DIR "/python:" SOURCE_DIR "/tests/packaging/drivers",
              "TARNWICK_LIBRARY=" TARNWICK_LIBRARY, "PYTHONDONTWRITEBYTECODE=1"});
  const Outcome outcome = test_kit::run_program(
      {{PYTHON3, "-m", "pytest", "-p", "tarnwick.pytest_plugin", "-p", "no:cacheprovider", "-q",
        "-s", "--basetemp", scratch.file("pytest"),
        SOURCE_DIR "/tests/packaging/drivers/test_lm75_24c02.py"},
       scratch.path(), env, ""});
  if (outcome.err.find("No module named pytest") != std::string::npos) {
    GTEST_SKIP() << "pytest is not installed (Debian: python3-pytest)";
  }
  ASSERT_EQ(outcome.status(), 0) << outcome.out << outcome.err;
  EXPECT_NE(outcome.out.find("8 passed"), std::string::npos) << outcome.out;
  const std::size_t at = outcome.out.find("bus locks ");
  ASSERT_NE(at, std::string::npos) << outcome.out;
  const std::string prefix = outcome.out.substr(at + 10, outcome.out.find('\n', at) - at - 10);
  const test_kit::ScopedEnv locks("TARNWICK_SEM_PREFIX", prefix);
  for (int slot = 0; slot < 3; ++slot) EXPECT_EQ(test_kit::slot_holders(slot), -1) << prefix;
}

// The type hints hold as py.typed promises.
TEST_F(SMBusModule, TheModuleTypeChecksStrictly) {
  Scratch scratch;
  const Outcome outcome = python(scratch, {"-m", "mypy", "--strict", "--cache-dir",
                                           scratch.file("cache"), SOURCE_DIR "/python/tarnwick"});
  if (outcome.err.find("No module named mypy") != std::string::npos) {
    GTEST_SKIP() << "mypy is not installed (Debian: mypy)";
  }
  EXPECT_EQ(outcome.status(), 0) << outcome.out << outcome.err;
}

}  // namespace
