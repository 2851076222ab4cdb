// The Python module tarnwick: installed with pip into a fresh virtual
// environment, it round-trips the bench EEPROM and raises on refusals; and
// the copy cmake --install puts into a prefix finds that prefix's library.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/packaging/packaging_support.h"
#include "tests/support/files.h"
#include "tests/support/program.h"

namespace {

namespace fs = std::filesystem;
using packaging_test::kQuickBench;
using Outcome = test_kit::Run;
using packaging_test::Scratch;

// Runs on the bench: a write and read back through each adapter, a refused
// address, a refused byte, and the raw functions.
const std::string kRoundTrip = R"(
import sys, tarnwick
adapter = int(sys.argv[1])
with tarnwick.Bus(adapter) as bus:
    bus.address(0xA0)
    bus.write(b"\x10" + bytes(range(0x40, 0x48)))
with tarnwick.Bus(adapter) as bus:
    bus.address(0xA0)
    assert bus.write_read([0x10], 8) == bytes(range(0x40, 0x48))
    try:
        bus.address(0xB0)
        raise SystemExit("address B0 was not refused")
    except tarnwick.AddressRefused as error:
        assert error.address == 0xB0 and error.result == 3, error
assert tarnwick.I2C_Start() == 0 and tarnwick.I2C_Address(0x90) == 0
assert tarnwick.I2C_SendByte(0) == 1 and tarnwick.I2C_GetByte() == 25
assert tarnwick.I2C_Stop() == 0
print("round trip", adapter)
)";

const std::string kRefusedByte = R"(
import sys, tarnwick
with tarnwick.Bus(int(sys.argv[1])) as bus:
    bus.address(0xA0)
    try:
        bus.write(b"\x20\x01\x02\x03\x04")
        raise SystemExit("no byte refused")
    except tarnwick.ByteRefused as error:
        print("refused", error.index)
)";

class PythonModule : public ::testing::Test {
 protected:
  void SetUp() override {
    if (packaging_test::tree_is_sanitized()) {
      GTEST_SKIP() << "the system's Python cannot load a sanitizer build";
    }
  }

  Outcome python(const Scratch& scratch, const std::string& interpreter,
                 const std::string& script, const std::vector<std::string>& arguments,
                 std::vector<std::string> environment = {}) {
    scratch.write("script.py", script);
    std::vector<std::string> argv{interpreter, scratch.file("script.py")};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto env = scratch.environment();
    env.insert(env.end(), environment.begin(), environment.end());
    return test_kit::run_program({argv, scratch.path(), env, ""});
  }
};

TEST_F(PythonModule, InstalledWithPipIntoAFreshVenvRoundTripsTheBenchEeprom) {
  Scratch scratch;
  const std::string venv = scratch.file("venv");
  // Debian's setuptools and wheel are the build backend, offline: the
  // environment sees the system's packages, and installs into itself.
  const Outcome made = test_kit::run_program({{PYTHON3, "-m", "venv", "--system-site-packages", venv}});
  if (made.status() != 0) {
    GTEST_SKIP() << "python3 -m venv is not available here (Debian package python3-venv): "
                 << made.err;
  }
  // A copy of the source, so that the build leaves nothing in the tree.
  fs::copy(SOURCE_DIR "/python", scratch.file("source"), fs::copy_options::recursive);
  const Outcome installed =
      test_kit::run_program({{venv + "/bin/pip", "install", "--no-index", "--no-build-isolation", "--quiet",
           scratch.file("source")}, scratch.path(), {"PIP_DISABLE_PIP_VERSION_CHECK=1"}, ""});
  ASSERT_EQ(installed.status(), 0) << installed.out << installed.err;

  // The script reads back at once, faster than the EEPROM's write cycle.
  scratch.write("I2C.INI", kQuickBench + "[Simulation]\nEEPROM Write Time = 0\n");
  const std::string library = "TARNWICK_LIBRARY=" TARNWICK_LIBRARY;
  for (const char* adapter : {"1", "2", "3"}) {
    const Outcome outcome =
        python(scratch, venv + "/bin/python", kRoundTrip, {adapter}, {library});
    EXPECT_EQ(outcome.status(), 0) << adapter << outcome.err;
    EXPECT_EQ(outcome.out, std::string("round trip ") + adapter + "\n");
  }
  // The third data byte after the address is byte 2 of the data, whichever
  // way the adapter counts it.
  scratch.write("I2C.INI", kQuickBench + "[Simulation]\nNACK Byte = 3\n");
  for (const char* adapter : {"1", "2", "3"}) {
    const Outcome outcome =
        python(scratch, venv + "/bin/python", kRefusedByte, {adapter}, {library});
    EXPECT_EQ(outcome.status(), 0) << adapter << outcome.err;
    EXPECT_EQ(outcome.out, "refused 2\n") << adapter;
  }
}

TEST_F(PythonModule, ABusThatCannotBeOpenedRaisesAndALibraryThatIsMissingToo) {
  Scratch scratch;
  scratch.write("I2C.INI", kQuickBench + "[Simulation]\nBus Busy = 1\n");
  const std::string script =
      "import tarnwick\n"
      "try:\n"
      "    with tarnwick.Bus(1): pass\n"
      "except tarnwick.BusNotOpened as error: print(error)\n";
  const std::string module_path = "PYTHONPATH=" SOURCE_DIR "/python";
  Outcome outcome = python(scratch, PYTHON3, script, {},
                           {module_path, "TARNWICK_LIBRARY=" TARNWICK_LIBRARY});
  EXPECT_EQ(outcome.out, "the bus could not be opened (bus result 2)\n") << outcome.err;
  outcome = python(scratch, PYTHON3, "import tarnwick\ntarnwick.library()\n", {},
                   {module_path, "TARNWICK_LIBRARY=" + scratch.file("none.so")});
  EXPECT_NE(outcome.err.find("tarnwick.LibraryNotFound: cannot load TARNWICK_LIBRARY=" +
                             scratch.file("none.so")),
            std::string::npos)
      << outcome.err;
}

// Each bad argument to write and write_read raises before the bus sees a
// bit: the page written first reads back unchanged. An int is no length
// here (bytes(16) would write sixteen zeros), a str is text.
const std::string kBadData = R"(
import tarnwick
page = bytes(range(0x60, 0x68))
bad = [(16, TypeError), (0, TypeError), (True, TypeError), (-1, TypeError),
       ("\x00abc", TypeError), (None, TypeError), (2.0, TypeError), ({0, 1}, TypeError),
       (iter([0, 1]), TypeError), ([0, 1.0], TypeError), ([0, "1"], TypeError),
       ([0, 256], ValueError), ([0, -1], ValueError), ((0, 1 << 70), ValueError)]
with tarnwick.Bus(1) as bus:
    bus.address(0xA0)
    bus.write(b"\x00" + page)
for argument, expected in bad:
    for call in (lambda bus: bus.write(argument), lambda bus: bus.write_read(argument, 1)):
        with tarnwick.Bus(1) as bus:
            bus.address(0xA0)
            try:
                call(bus)
                raise SystemExit(f"{argument!r} was taken")
            except expected:
                pass
for data in (bytearray(b"\x00"), memoryview(b"\x00"), (0,), range(1)):
    with tarnwick.Bus(1) as bus:
        bus.address(0xA0)
        assert bus.write_read(data, 8) == page, data
print("refused", len(bad))
)";

TEST_F(PythonModule, DataThatIsNeitherBytesLikeNorASequenceOfBytesNeverReachesTheBus) {
  Scratch scratch;
  scratch.write("I2C.INI", kQuickBench + "[Simulation]\nEEPROM Write Time = 0\n");
  const Outcome outcome = python(scratch, PYTHON3, kBadData, {},
                                 {"PYTHONPATH=" SOURCE_DIR "/python",
                                  "TARNWICK_LIBRARY=" TARNWICK_LIBRARY});
  EXPECT_EQ(outcome.status(), 0) << outcome.err;
  EXPECT_EQ(outcome.out, "refused 14\n") << outcome.err;
}

}  // namespace
