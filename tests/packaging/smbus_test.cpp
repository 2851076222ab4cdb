// tarnwick.SMBus, smbus2's interface over tarnwick_transfer: a table of
// calls against the bench's parts on each adapter (results, errno values,
// PEC made and checked, bad data refused before the bus), Debian's smbus2
// message objects taken by i2c_rdwr, and a driver written for smbus2 run
// with nothing changed but its import line.
#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "tests/packaging/packaging_support.h"
#include "tests/support/files.h"
#include "tests/support/program.h"

namespace {

using packaging_test::kQuickBench;
using packaging_test::Scratch;
using Outcome = test_kit::Run;

// Runs each line of the file named by argv[2] on a bus of adapter argv[1],
// PEC off before each: steps split at "; ", the last one's value printed as
// its repr, an OSError as its errno, TypeError or ValueError by name.
// crc8 is the test's own, bit by bit, against the module's table.
const std::string kRunner = R"(
import sys, tarnwick
from tarnwick import SMBus, i2c_msg

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
    except (TypeError, ValueError) as error:
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
// line changed and nothing else. The EEPROM keeps its write cycle: the
// driver polls for the acknowledge after each page, as drivers do.
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
  scratch.write("I2C.INI", kQuickBench);
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
              "nothing at 0x57 (errno 6)\n")
        << adapter;
  }
}

}  // namespace
