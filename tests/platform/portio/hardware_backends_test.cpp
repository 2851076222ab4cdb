// The direct and ppdev backends when the hardware cannot be had: one line
// says why and what to do, every port reads FF, writes vanish, nothing
// crashes. Also which ports the direct backend asks the kernel for.
#include <sys/stat.h>
#include <unistd.h>

#include "platform/portio/port_settings.h"
#include "tests/platform/portio/portio_fixture.h"

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
    if (std::string(DlPortBackendName()) != "direct") std::_Exit(11);
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
  EXPECT_EQ(lines[0].rfind("tarnwick: cannot reach I/O ports", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find("run as root"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("Backend = sim"), std::string::npos) << lines[0];
}

TEST_F(HardwareBackend, ParallelPortDeviceMissingSaysWhyOnceThenReadsFF) {
  configure("[Port IO]\nBackend = ppdev\nParport = " + path("parport7") + "\n");
  CapturedOutput err(2);
  EXPECT_STREQ(DlPortBackendName(), "ppdev");
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

TEST_F(HardwareBackend, DirectAccessAsksOnlyForTheConfiguredAdaptersPorts) {
  using Ports = std::vector<std::uint16_t>;
  EXPECT_EQ(portio::adapter_ports(),
            (Ports{0x300, 0x301, 0x302, 0x378, 0x379, 0x37A}));

  std::ofstream(config_path(), std::ios::trunc)
      << "[I2C Card]\nBase = 0x2F0\n"
         "[I2C para]\nBase = 278\n"
         "[I2C para Gen]\nBase = 3BC\nSDA IN Port = 379\nSDA OUT Port = 0x500\n"
         "SCL IN Port = 0\nSCL OUT Port = 37A\n";
  EXPECT_EQ(portio::adapter_ports(),
            (Ports{0x278, 0x279, 0x27A, 0x2F0, 0x2F1, 0x2F2, 0x379, 0x37A, 0x3BE,
                   0x500}));
}

TEST_F(HardwareBackend, AdapterPortsWrapAtSixteenBitsAsTheAdaptersCountThem) {
  std::ofstream(config_path(), std::ios::trunc)
      << "[I2C Card]\nBase = FFFF\n[I2C para]\nBase = junk\n[I2C para Gen]\nBase = 1FFFE\n";
  EXPECT_EQ(portio::adapter_ports(),
            (std::vector<std::uint16_t>{0x0000, 0x0001, 0x0378, 0x0379, 0x037A, 0xFFFF}));
}

}  // namespace
}  // namespace portio_test
