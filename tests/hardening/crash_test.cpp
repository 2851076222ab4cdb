// Hosts killed with kill -9 at the worst moments: while they hold the bus,
// inside I2C_Init, and half-way through writing the debug record into the
// configuration file. The next process must get the bus at once, and the
// configuration file must be whole, with every earlier key and comment.
//
// A process is stopped at an exact point and then killed there:
//
//   TARNWICK_CRASH_BUS_KILL_POINTS    port accesses counted from the call of
//                                     I2C_Start, which then runs addresses,
//                                     writes and reads without a stop
//                                     (default "1,30,400")
//   TARNWICK_CRASH_INIT_KILL_POINTS   port accesses counted from the call of
//                                     I2C_Init (default "1,2,4,12")
//   TARNWICK_CRASH_WRITE_KILL_POINTS  bytes of the new configuration file
//                                     written when the writer dies; "P%"
//                                     is a share of the file's size
//                                     (default "0,1,50%,99%")
//
// Each kill point is tried on the card, the Philips adapter and the Custom
// adapter (the write kill points on the two parallel adapters, the ones that
// write a debug record). A point beyond the last access of the call kills
// the process right after the call returned; the test says so.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/hardening/hardening_support.h"
#include "tests/support/files.h"
#include "tests/support/program.h"
#include "tests/hardening/port_access_stop.h"
#include "tests/support/tarnwick_harness.h"

namespace {

enum class StopPoint : int { port_access, file_size_limit, after_call };

struct CrashRecord {
  std::atomic<int> stop_point;
  std::atomic<long> accesses;
};

// Shared with the forked processes; set up by each test.
CrashRecord* crash = nullptr;

const char* adapter_name(int interface) {
  switch (interface) {
    case 1: return "card";
    case 2: return "Philips adapter";
    default: return "Custom adapter";
  }
}

int slot_of(int interface) { return interface == 1 ? 0 : 1; }

const char* record_key(int interface) { return interface == 2 ? "Bastion" : "Barbican"; }

constexpr const char* kOldRecord = "Base:0x0 Nops:0x0";
// What the parallel adapters write with the settings below.
constexpr const char* kNewRecord = "Base:0x378 Nops:0x2";
constexpr const char* kTemporaryPrefix = ".I2C.INI.new-";

// A configuration a person has kept for years: the adapters' sections, an
// earlier debug record, and a few hundred kilobytes of comments and keys
// that nothing reads.
std::string long_kept_configuration() {
  std::string text =
      "; I2C.INI of the lab bench\r\n"
      "[I2C Device]\r\nDefault = 1\r\n\r\n"
      "[I2C Card]\r\n; the card sits at its factory port\r\nBase = 300\r\nNops = 2\r\n\r\n"
      "[I2C para]\r\nBase = 378\r\nNops = 2\r\n\r\n"
      "[I2C para Gen]\r\nBase = 378\r\nNops = 2\r\n" +
      test_kit::custom_wired_like_philips_text("\r\n") + "\r\n"
      "[Simulation]\r\n; the round trips read back at once\r\nEEPROM Write Time = 0\r\n\r\n"
      "[Debug]\r\n; written by the parallel adapters\r\n";
  text += std::string("Bastion = ") + kOldRecord + "\r\n";
  text += std::string("Barbican = ") + kOldRecord + "\r\n\r\n";
  for (int section = 0; section < 400; ++section) {
    text += "; notes on rig " + std::to_string(section) + ": calibrated, do not touch\r\n";
    text += "[Rig " + std::to_string(section) + "]\r\n";
    for (int key = 0; key < 12; ++key) {
      text += "Setting " + std::to_string(key) + " = " + std::to_string(section * key) +
              " ; kept since the old bench\r\n";
    }
  }
  return text;
}

// The file holds every line it held before, in order; only the debug record
// of the adapter may have changed, and only to the record it writes.
void expect_whole(const std::string& before, const std::string& now, int interface) {
  const auto old_lines = test_kit::lines_of(before, true);
  const auto new_lines = test_kit::lines_of(now, true);
  ASSERT_EQ(new_lines.size(), old_lines.size()) << "the configuration file lost or gained lines";
  const std::string record = record_key(interface) + std::string(" = ");
  for (std::size_t i = 0; i < old_lines.size(); ++i) {
    if (interface != 1 && old_lines[i].rfind(record, 0) == 0) {
      const std::string value = new_lines[i].substr(std::min(record.size(), new_lines[i].size()));
      EXPECT_TRUE(new_lines[i].rfind(record, 0) == 0 && (value == kOldRecord || value == kNewRecord))
          << "line " << i + 1 << ": " << new_lines[i];
      continue;
    }
    ASSERT_EQ(new_lines[i], old_lines[i]) << "line " << i + 1;
  }
}

struct Kill {
  StopPoint stop_point;
  int slot_holders;  // of the adapter's slot, while the process stood still
};

// Runs `body` in a process of its own that loads the library, waits until
// the process stops itself, and kills it where it stands.
Kill kill_when_stopped(int interface, const std::function<void(const harness::Exports&)>& body) {
  // A stop that neither the file size limit nor the end of the call
  // reports is the port access stop.
  crash->stop_point = static_cast<int>(StopPoint::port_access);
  test_kit::Child process([&] {
    harness::Library library;
    body(library.exports());
    crash->accesses = port_access_stop::accesses_counted();
    crash->stop_point = static_cast<int>(StopPoint::after_call);
    raise(SIGSTOP);
    return 0;
  });
  const test_kit::Child::Ending ending = process.wait();
  EXPECT_EQ(ending.outcome, test_kit::Child::Outcome::stopped)
      << "the process ended (" << ending.code << ") instead of stopping at its kill point";
  const int holders = test_kit::slot_holders(slot_of(interface));
  process.kill_hard();
  return {static_cast<StopPoint>(crash->stop_point.load()), holders};
}

void note_late_kill(StopPoint stop, long kill_point, const char* call) {
  if (stop == StopPoint::after_call) {
    std::printf("kill point %ld lies beyond the %ld port accesses of %s; killed right after it\n",
                kill_point, crash->accesses.load(), call);
  }
}

const char* next_process_failure(int code) {
  switch (code) {
    case 1: return "I2C_Start did not get the bus";
    case 2: return "the EEPROM did not acknowledge its address";
    case 3: return "the bytes were not all written";
    case 4: return "the bytes did not read back";
    default: return "the process failed";
  }
}

// A process started after the kill gets the bus at once and runs a whole
// transaction through the same adapter.
void expect_next_process_takes_the_bus(int interface) {
  EXPECT_EQ(test_kit::slot_holders(slot_of(interface)), 0)
      << "the killed process's hold on the bus outlived it";
  test_kit::Child next([interface] {
    harness::Library library;
    library->I2C_SelectInterface(static_cast<std::int16_t>(interface));
    library->I2C_Init();
    // With the slot still held this would wait 100 ms and give 2.
    if (library->I2C_Start() != 0) return 1;
    const std::uint8_t written[3] = {0x20, 0x5A, 0xC3};
    std::uint8_t read[2] = {};
    if (library->I2C_Address(0xA0) != 0) return 2;
    if (library->I2C_Send(3, written) != 3) return 3;
    library->I2C_Stop();
    if (library->I2C_Start() != 0) return 1;
    if (library->I2C_Address(0xA0) != 0) return 2;
    if (library->I2C_Send(1, written) != 1 || library->I2C_Read(2, read) != 2) return 4;
    library->I2C_Stop();
    return read[0] == written[1] && read[1] == written[2] ? 0 : 4;
  });
  const test_kit::Child::Ending ending = next.wait();
  ASSERT_EQ(ending.outcome, test_kit::Child::Outcome::exited);
  EXPECT_EQ(ending.code, 0) << next_process_failure(ending.code);
}

class Crash : public ::testing::Test {
 protected:
  void SetUp() override {
    crash = &*record_;
    configuration_ = long_kept_configuration();
  }
  void TearDown() override { crash = nullptr; }

  void lay_out_configuration() const {
    test_kit::write_file(environment_.ini_path(), configuration_);
    for (const auto& name : test_kit::names_starting_with(environment_.directory(), ".")) {
      if (name != "." && name != "..") std::remove(environment_.file(name).c_str());
    }
  }

  // After the kill: the configuration file as the kill left it, then the
  // next process on the same adapter, which finds everything in order.
  void expect_recovery(int interface) const {
    expect_whole(configuration_, test_kit::read_file(environment_.ini_path()), interface);
    expect_next_process_takes_the_bus(interface);
    const std::string after_next = test_kit::read_file(environment_.ini_path());
    expect_whole(configuration_, after_next, interface);
    if (interface != 1) {
      EXPECT_NE(after_next.find(record_key(interface) + std::string(" = ") + kNewRecord),
                std::string::npos)
          << "the next init wrote no debug record";
    }
    EXPECT_EQ(test_kit::names_starting_with(environment_.directory(), kTemporaryPrefix),
              std::vector<std::string>{})
        << "a half-written file of the killed writer was left behind";
  }

  harness::Environment environment_;
  test_kit::Shared<CrashRecord> record_;
  std::string configuration_;
};

TEST_F(Crash, AProcessKilledWhileHoldingTheBusLeavesItToTheNextProcessAtOnce) {
  const auto points =
      hardening::setting_list("TARNWICK_CRASH_BUS_KILL_POINTS", "1,30,400");
  for (const int interface : {1, 2, 3}) {
    for (const std::string& item : points) {
      const long point = hardening::kill_point("TARNWICK_CRASH_BUS_KILL_POINTS", item);
      SCOPED_TRACE(std::string(adapter_name(interface)) + ", killed before port access " + item +
                   " of its transaction");
      lay_out_configuration();
      const Kill kill = kill_when_stopped(interface, [&](const harness::Exports& bus) {
        bus.I2C_SelectInterface(static_cast<std::int16_t>(interface));
        bus.I2C_Init();
        port_access_stop::stop_before_access(point);
        if (bus.I2C_Start() != 0) return;
        std::uint8_t bytes[16] = {0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
        for (int round = 0; round < 8; ++round) {
          bus.I2C_Address(0xA0);
          bus.I2C_Send(16, bytes);
          bus.I2C_Read(16, bytes);
        }
        // Still holding the bus: no stop.
      });
      note_late_kill(kill.stop_point, point, "the transaction");
      EXPECT_EQ(kill.slot_holders, 1) << "the process did not hold the bus when it was killed";
      expect_recovery(interface);
    }
  }
}

TEST_F(Crash, AProcessKilledInsideInitLeavesTheBusFreeAndTheConfigurationWhole) {
  const auto points = hardening::setting_list("TARNWICK_CRASH_INIT_KILL_POINTS", "1,2,4,12");
  for (const int interface : {1, 2, 3}) {
    for (const std::string& item : points) {
      const long point = hardening::kill_point("TARNWICK_CRASH_INIT_KILL_POINTS", item);
      SCOPED_TRACE(std::string(adapter_name(interface)) + ", killed before port access " + item +
                   " of I2C_Init");
      lay_out_configuration();
      const Kill kill = kill_when_stopped(interface, [&](const harness::Exports& bus) {
        bus.I2C_SelectInterface(static_cast<std::int16_t>(interface));
        port_access_stop::stop_before_access(point);
        bus.I2C_Init();
      });
      note_late_kill(kill.stop_point, point, "I2C_Init");
      if (kill.stop_point == StopPoint::port_access) {
        EXPECT_EQ(kill.slot_holders, 1) << "init did not hold its slot when it was killed";
      }
      expect_recovery(interface);
    }
  }
}

void stop_at_file_size_limit(int) {
  crash->stop_point = static_cast<int>(StopPoint::file_size_limit);
  raise(SIGSTOP);
}

TEST_F(Crash, AProcessKilledWhileWritingItsDebugRecordLeavesTheConfigurationWhole) {
  const auto points =
      hardening::setting_list("TARNWICK_CRASH_WRITE_KILL_POINTS", "0,1,50%,99%");
  const long file_size = static_cast<long>(configuration_.size());
  int killed_while_writing = 0;
  for (const int interface : {2, 3}) {
    for (const std::string& item : points) {
      const long bytes = hardening::kill_point("TARNWICK_CRASH_WRITE_KILL_POINTS", item, file_size);
      SCOPED_TRACE(std::string(adapter_name(interface)) + ", killed after writing " +
                   std::to_string(bytes) + " of " + std::to_string(file_size) + " bytes");
      lay_out_configuration();
      const Kill kill = kill_when_stopped(interface, [&](const harness::Exports& bus) {
        // The kernel refuses to let a file grow past the limit and signals
        // the writer, which stops right there, inside its write.
        struct sigaction action {};
        action.sa_handler = stop_at_file_size_limit;
        sigaction(SIGXFSZ, &action, nullptr);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = static_cast<rlim_t>(bytes);
        setrlimit(RLIMIT_FSIZE, &limit);
        bus.I2C_SelectInterface(static_cast<std::int16_t>(interface));
        bus.I2C_Init();
      });
      if (kill.stop_point == StopPoint::file_size_limit) {
        ++killed_while_writing;
        EXPECT_EQ(kill.slot_holders, 1) << "init did not hold its slot while it wrote";
        EXPECT_EQ(test_kit::read_file(environment_.ini_path()), configuration_)
            << "the file changed although its writer died before replacing it";
      } else {
        std::printf("%ld bytes is no less than the whole new file; killed after I2C_Init\n", bytes);
      }
      expect_recovery(interface);
    }
  }
  EXPECT_GT(killed_while_writing, 0) << "no kill point fell inside the write";
}

}  // namespace
