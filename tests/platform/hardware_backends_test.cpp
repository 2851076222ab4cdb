// The direct and ppdev backends when the hardware cannot be had: one line
// says why and what to do, every port reads FF, writes vanish, nothing
// crashes. Also which ports the direct backend asks the kernel for, and when.
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "platform/portio/backends/direct_ports.h"
#include "tests/platform/portio_fixture.h"

namespace portio_test {
namespace {

using HardwareBackend = PortIoTest;

// Runs the accesses in a child without privileges, so that the kernel
// refuses the ports whoever runs the tests; the child's standard error goes
// into `stderr_file`.
int refused_direct_access(const std::string& stderr_file) {
  return in_child([&] {
    const int err = ::open(stderr_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(err, 2);
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      std::_Exit(10);
    }
    if (std::string(portio::backend_name()) != "direct") std::_Exit(11);
    for (unsigned long port : {0x300ul, 0x301ul, 0x302ul, 0x378ul, 0x379ul, 0x1234ul}) {
      DlPortWritePortUchar(port, 0x00);
      if (DlPortReadPortUchar(port) != 0xFF) std::_Exit(12);
    }
  });
}

TEST_F(HardwareBackend, DirectAccessRefusedSaysWhyOnceThenReadsFF) {
  configure("[Port IO]\nBackend = direct\n");
  // The child drops to another user: let it read the configuration.
  std::filesystem::permissions(folder_, std::filesystem::perms::owner_all |
                                            std::filesystem::perms::group_exec |
                                            std::filesystem::perms::others_exec |
                                            std::filesystem::perms::others_read);
  std::filesystem::permissions(config_path(), std::filesystem::perms::owner_read |
                                                  std::filesystem::perms::owner_write |
                                                  std::filesystem::perms::others_read);
  const std::string err_file = path("stderr.txt");
  ASSERT_EQ(refused_direct_access(err_file), 0) << read_file(err_file);
  const auto lines = lines_of(read_file(err_file));
  ASSERT_EQ(lines.size(), 1u) << read_file(err_file);
  EXPECT_EQ(lines[0].rfind("tarnwick: cannot reach I/O port 0300 directly (ioperm: ", 0), 0u)
      << lines[0];
  // Rights are advised only where rights were missing: a kernel without
  // ioperm (ENOSYS, as in some sandboxes) needs another backend.
  const bool no_ioperm = lines[0].find(std::strerror(ENOSYS)) != std::string::npos;
  EXPECT_NE(lines[0].find(no_ioperm ? "this kernel gives no direct port access" : "run as root"),
            std::string::npos)
      << lines[0];
  EXPECT_NE(lines[0].find("Backend = sim"), std::string::npos) << lines[0];
}

TEST_F(HardwareBackend, ParallelPortDeviceMissingSaysWhyOnceThenReadsFF) {
  configure("[Port IO]\nBackend = ppdev\nParport = " + path("parport7") + "\n");
  CapturedOutput err(2);
  EXPECT_STREQ(portio::backend_name(), "ppdev");
  for (unsigned long port : {0x378ul, 0x379ul, 0x37Aul, 0x300ul}) {
    DlPortWritePortUchar(port, 0x00);
    EXPECT_EQ(DlPortReadPortUchar(port), 0xFF) << "port " << std::hex << port;
  }
  const auto lines = lines_of(err.text());
  ASSERT_EQ(lines.size(), 1u) << err.text();
  EXPECT_EQ(lines[0], "tarnwick: cannot open parallel port " + path("parport7") +
                          " (No such file or directory); check key Parport in "
                          "section \"Port IO\" of " + config_path() +
                          " (or set Backend = sim there); until then port reads "
                          "give FF and writes are ignored");
}

TEST_F(HardwareBackend, ParallelPortDeviceThatIsNoParportSaysItCannotBeClaimed) {
  configure("[Port IO]\nBackend = ppdev\nParport = /dev/null\n");
  CapturedOutput err(2);
  EXPECT_EQ(DlPortReadPortUchar(0x379), 0xFF);
  const auto lines = lines_of(err.text());
  ASSERT_EQ(lines.size(), 1u) << err.text();
  EXPECT_EQ(lines[0].rfind("tarnwick: cannot claim parallel port /dev/null", 0), 0u)
      << lines[0];
}

// A stand-in for the kernel and the port instructions: it grants every
// port but `refused_port`, and remembers what was asked and what moved.
struct StandInPorts {
  static inline std::vector<std::string> log;
  static inline unsigned long refused_port = 0x10000;
  static inline int refusal = EPERM;
  static int ioperm(unsigned long first, unsigned long count, int on) {
    char line[40];
    std::snprintf(line, sizeof line, "%s %04lX+%lu", on ? "grant" : "drop", first, count);
    log.push_back(line);
    if (on && first == refused_port) {
      errno = refusal;
      return -1;
    }
    return 0;
  }
  static std::uint8_t in(std::uint16_t port) {
    log.push_back("in " + std::to_string(port));
    return 0x5A;
  }
  static void out(std::uint16_t port, std::uint8_t) { log.push_back("out " + std::to_string(port)); }

  StandInPorts(unsigned long refused, int cause = EPERM) {
    log.clear();
    refused_port = refused;
    refusal = cause;
    saved_ = {portio::direct_ports::ask_kernel, portio::direct_ports::in_byte,
              portio::direct_ports::out_byte};
    portio::direct_ports::ask_kernel = ioperm;
    portio::direct_ports::in_byte = in;
    portio::direct_ports::out_byte = out;
  }
  ~StandInPorts() {
    portio::direct_ports::ask_kernel = std::get<0>(saved_);
    portio::direct_ports::in_byte = std::get<1>(saved_);
    portio::direct_ports::out_byte = std::get<2>(saved_);
  }
  std::tuple<decltype(portio::direct_ports::ask_kernel), decltype(portio::direct_ports::in_byte),
             decltype(portio::direct_ports::out_byte)>
      saved_;
};

// The direct backend knows no adapter: it asks for each port when it is
// first used, high ports of PCI cards included, and gives them back at the
// end; after a refusal it asks for nothing more and says so once.
TEST_F(HardwareBackend, DirectAccessAsksForEachPortAtItsFirstUseAndGivesItBack) {
  using Log = std::vector<std::string>;
  struct Case {
    unsigned long refused;
    Log expected;
    int stderr_lines;
  };
  const Case cases[] = {
      {0x10000,
       {"grant 0378+1", "out 888", "grant 037A+1", "in 890", "in 888", "out 890",
        "grant E010+1", "in 57360", "drop 0378+1", "drop 037A+1", "drop E010+1"},
       0},
      {0x037A, {"grant 0378+1", "out 888", "grant 037A+1", "in 888", "drop 0378+1"}, 1},
  };
  for (const Case& c : cases) {
    configure("[Port IO]\nBackend = direct\n");
    StandInPorts ports(c.refused);
    CapturedOutput err(2);
    DlPortWritePortUchar(0x378, 0x7F);
    const unsigned char control = DlPortReadPortUchar(0x37A);
    EXPECT_EQ(DlPortReadPortUchar(0x378), 0x5A);
    DlPortWritePortUchar(0x37A, 0x0C);
    DlPortReadPortUchar(0xE010);
    // The chipset's ports are never asked for; saying so takes one line.
    DlPortWritePortUchar(0x0000, 0x00);
    EXPECT_EQ(DlPortReadPortUchar(0x0060), 0xFF);
    portio::restart();
    EXPECT_EQ(control, c.refused == 0x037A ? 0xFF : 0x5A);
    EXPECT_EQ(StandInPorts::log, c.expected);
    const auto lines = lines_of(err.text());
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(c.stderr_lines + 1)) << err.text();
    if (c.stderr_lines > 0) {
      EXPECT_EQ(lines[0].rfind("tarnwick: cannot reach I/O port 037A directly (ioperm: ", 0),
                0u)
          << lines[0];
    }
    EXPECT_EQ(lines.back().rfind("tarnwick: I/O port 0000 belongs to the PC's own chipset", 0), 0u)
        << lines.back();
  }
}

// The advice after a refusal fits its cause: rights where rights were
// missing (root without CAP_SYS_RAWIO is told so), another backend where the
// kernel has no port access at all, the ports' settings otherwise.
TEST_F(HardwareBackend, DirectAccessRefusalAdvisesByItsCause) {
  const bool root = ::geteuid() == 0;
  const struct {
    int cause;
    const char* advice;
  } cases[] = {
      {EPERM, root ? "; root here lacks CAP_SYS_RAWIO (a container, or the kernel's lockdown); "
                     "give the process that capability, or set Backend = sim"
                   : "; run as root (or with CAP_SYS_RAWIO) on an x86 PC, or set Backend = sim"},
      {ENOSYS, "; this kernel gives no direct port access (not an x86 PC, or built without "
               "ioperm); use Backend = ppdev for a parallel port, or set Backend = sim"},
      {EINVAL, "; check the adapter's ports in "},
  };
  for (const auto& c : cases) {
    configure("[Port IO]\nBackend = direct\n");
    StandInPorts ports(0x0378, c.cause);
    CapturedOutput err(2);
    EXPECT_EQ(DlPortReadPortUchar(0x378), 0xFF);
    portio::restart();
    const auto lines = lines_of(err.text());
    ASSERT_EQ(lines.size(), 1u) << err.text();
    EXPECT_NE(lines[0].find(std::string("(ioperm: ") + std::strerror(c.cause) + ")"),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[0].find(c.advice), std::string::npos) << lines[0];
    if (c.cause != EPERM) {
      EXPECT_EQ(lines[0].find("run as root"), std::string::npos) << lines[0];
    }
  }
}

}  // namespace
}  // namespace portio_test
