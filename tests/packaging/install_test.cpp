// `cmake --install` into a fresh prefix: the libraries with their links and
// sonames, the header, the console, pkg-config and CMake package files, and
// hosts built against them both ways that run on the bench.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/packaging/packaging_support.h"
#include "tests/support/files.h"
#include "tests/support/program.h"

namespace {

namespace fs = std::filesystem;
using packaging_test::dump_text;
using packaging_test::host_c_flags;
using packaging_test::tree_is_sanitized;
using packaging_test::eeprom_image;
using Outcome = test_kit::Run;
using packaging_test::prepare_eeprom_bench;
using test_kit::read_file;
using packaging_test::Scratch;
using packaging_test::split_words;

const std::string libdir = INSTALL_LIBDIR;

class Installed : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    install_root = std::make_unique<Scratch>();
    prefix = install_root->file("prefix");
    const Outcome outcome = test_kit::run_program({{CMAKE_COMMAND, "--install", BUILD_DIR, "--prefix", prefix}});
    install_status = outcome.status();
    install_log = outcome.out + outcome.err;
  }
  static void TearDownTestSuite() { install_root.reset(); }

  void SetUp() override { ASSERT_EQ(install_status, 0) << install_log; }

  static std::string in_prefix(const std::string& path) { return prefix + "/" + path; }

  // The dynamic section of an ELF file as readelf shows it.
  static std::string dynamic_section(const std::string& path) {
    const Outcome outcome = test_kit::run_program({{"readelf", "-d", path}});
    EXPECT_EQ(outcome.status(), 0) << outcome.err;
    return outcome.out;
  }

  // Runs a host built against the prefix on a bench whose EEPROM holds
  // eeprom_image(); the loader gets no help from the environment.
  static void expect_dump(const std::vector<std::string>& host,
                          const std::vector<std::string>& more_environment = {}) {
    Scratch scratch;
    prepare_eeprom_bench(scratch);
    auto environment = scratch.environment();
    environment.insert(environment.end(), more_environment.begin(), more_environment.end());
    const Outcome outcome = test_kit::run_program({host, scratch.path(), environment, ""});
    EXPECT_EQ(outcome.status(), 0) << outcome.err;
    EXPECT_EQ(outcome.out, dump_text(eeprom_image()));
  }

  static std::unique_ptr<Scratch> install_root;
  static std::string prefix;
  static int install_status;
  static std::string install_log;
};

std::unique_ptr<Scratch> Installed::install_root;
std::string Installed::prefix;
int Installed::install_status = -1;
std::string Installed::install_log;

TEST_F(Installed, LibrariesCarryTheirSonamesAndVersionLinks) {
  struct Chain {
    std::string link, soname, file;
  };
  for (const Chain& chain : {Chain{"libtarnwick.so", "libtarnwick.so.4", "libtarnwick.so.4.11.0"},
                             Chain{"libdlportio.so", "libdlportio.so.1", "libdlportio.so.1.0.0"}}) {
    const fs::path dir = in_prefix(libdir);
    ASSERT_TRUE(fs::is_symlink(dir / chain.link)) << chain.link;
    EXPECT_EQ(fs::read_symlink(dir / chain.link).string(), chain.soname);
    ASSERT_TRUE(fs::is_symlink(dir / chain.soname)) << chain.soname;
    EXPECT_EQ(fs::read_symlink(dir / chain.soname).string(), chain.file);
    EXPECT_TRUE(fs::is_regular_file(dir / chain.file)) << chain.file;
    EXPECT_NE(dynamic_section((dir / chain.file).string())
                  .find("Library soname: [" + chain.soname + "]"),
              std::string::npos)
        << chain.file;
  }
}

TEST_F(Installed, BinariesFindTheirLibrariesInsideThePrefix) {
  const std::string library = dynamic_section(in_prefix(libdir + "/libtarnwick.so.4"));
  EXPECT_NE(library.find("Shared library: [libdlportio.so.1]"), std::string::npos) << library;
  EXPECT_NE(library.find("Library runpath: [$ORIGIN]"), std::string::npos) << library;
  for (const char* program : {"bin/sondrel", "bin/tarnwick-detect", "bin/tarnwick-eeprom",
                              "bin/tarnwick-transfer", "bin/tarnwick-get", "bin/tarnwick-set"}) {
    const std::string binary = dynamic_section(in_prefix(program));
    EXPECT_NE(binary.find("Library runpath: [$ORIGIN/../" + libdir + "]"), std::string::npos)
        << program << binary;
    EXPECT_EQ(binary.find(BUILD_DIR), std::string::npos) << program << ": build tree in the RPATH";
  }
}

TEST_F(Installed, HeaderConsoleManPagesAndPackageFilesAreInPlace) {
  EXPECT_EQ(read_file(in_prefix("include/tarnwick.h")),
            read_file(SOURCE_DIR "/include/tarnwick.h"));
  for (const std::string& path :
       {std::string("bin/sondrel"), libdir + "/pkgconfig/tarnwick.pc",
        libdir + "/cmake/Tarnwick/TarnwickConfig.cmake",
        libdir + "/cmake/Tarnwick/TarnwickConfigVersion.cmake",
        libdir + "/cmake/Tarnwick/TarnwickTargets.cmake", std::string("share/man/man1/sondrel.1"),
        std::string("share/man/man3/tarnwick.3"), std::string("share/man/man1/tarnwick-detect.1"),
        std::string("share/man/man1/tarnwick-eeprom.1"), std::string("bin/tarnwick-detect"),
        std::string("bin/tarnwick-eeprom"), std::string("share/doc/Tarnwick/I2C.INI.example"),
        std::string("share/man/man1/tarnwick-transfer.1"), std::string("share/man/man1/tarnwick-get.1"),
        std::string("share/man/man1/tarnwick-set.1"),
        std::string("share/doc/Tarnwick/examples/eeprom_dump.c"),
        std::string("share/doc/Tarnwick/examples/eeprom_dump.py"),
        std::string("share/doc/Tarnwick/examples/bus.gtkw")}) {
    EXPECT_TRUE(fs::exists(in_prefix(path))) << path;
  }
  EXPECT_EQ(::access(in_prefix("bin/sondrel").c_str(), X_OK), 0);
}

TEST_F(Installed, TheHeaderCompilesAloneAsCAndAsCxx) {
  Scratch scratch;
  scratch.write("host.c",
                "#include <tarnwick.h>\n"
                "int main(void) { uint8_t b = 0; return I2C_Send(1, &b) + I2C_GetByte(); }\n");
  for (const std::vector<std::string>& compiler :
       {std::vector<std::string>{C_COMPILER, "-x", "c", "-std=c99"},
        std::vector<std::string>{CXX_COMPILER, "-x", "c++", "-std=c++11"}}) {
    std::vector<std::string> argv = compiler;
    for (const char* flag : {"-Wall", "-Wextra", "-Werror", "-pedantic", "-fsyntax-only"}) {
      argv.push_back(flag);
    }
    argv.push_back("-I" + in_prefix("include"));
    argv.push_back(scratch.file("host.c"));
    const Outcome outcome = test_kit::run_program({argv});
    EXPECT_EQ(outcome.status(), 0) << compiler[2] << ":\n" << outcome.err;
  }
}

TEST_F(Installed, AHostBuiltWithOnlyPkgConfigRunsOnTheBench) {
  Scratch scratch;
  const std::vector<std::string> search{"PKG_CONFIG_PATH=" + in_prefix(libdir + "/pkgconfig")};
  const Outcome flags = test_kit::run_program({{"pkg-config", "--cflags", "--libs", "tarnwick"}, "", search, ""});
  ASSERT_EQ(flags.status(), 0) << flags.err;
  const Outcome version = test_kit::run_program({{"pkg-config", "--modversion", "tarnwick"}, "", search, ""});
  EXPECT_EQ(version.out, "4.11.0\n");

  std::vector<std::string> argv{C_COMPILER, SOURCE_DIR "/examples/eeprom_dump.c", "-o",
                                scratch.file("eeprom_dump")};
  for (const std::string& word : host_c_flags()) argv.push_back(word);
  for (const std::string& word : split_words(flags.out)) argv.push_back(word);
  const Outcome built = test_kit::run_program({argv});
  ASSERT_EQ(built.status(), 0) << built.err;
  expect_dump({scratch.file("eeprom_dump")});
}

TEST_F(Installed, AHostBuiltWithFindPackageRunsOnTheBench) {
  Scratch scratch;
  const Outcome configured =
      test_kit::run_program({{CMAKE_COMMAND, "-S", SOURCE_DIR "/examples", "-B", scratch.file("build"), "-G",
           CMAKE_GENERATOR, "-DCMAKE_PREFIX_PATH=" + prefix, "-DCMAKE_C_COMPILER=" C_COMPILER,
           "-DCMAKE_C_FLAGS=" HOST_C_FLAGS}});
  ASSERT_EQ(configured.status(), 0) << configured.out << configured.err;
  const Outcome built = test_kit::run_program({{CMAKE_COMMAND, "--build", scratch.file("build")}});
  ASSERT_EQ(built.status(), 0) << built.out << built.err;
  expect_dump({scratch.file("build/eeprom_dump")});
}

TEST_F(Installed, TheConsoleAndThePythonHostRunFromThePrefix) {
  Scratch scratch;
  // The script reads back at once, faster than the EEPROM's write cycle.
  scratch.write("I2C.INI", "[I2C Card]\nNops = 0\n[Simulation]\nEEPROM Write Time = 0\n");
  const Outcome console = test_kit::run_program({{in_prefix("bin/sondrel")}, scratch.path(), scratch.environment(),
                               "start ;address 160;write 0,7,9;close\n"
                               "start ;address 160;write 0;read 2;quit\n"});
  EXPECT_EQ(console.status(), 0) << console.err;
  EXPECT_NE(console.out.find("Read from slave : 7 9 \n"), std::string::npos) << console.out;

  if (tree_is_sanitized()) GTEST_SKIP() << "the system's Python cannot load a sanitizer build";
  // It finds the library of the prefix it is installed in by itself.
  expect_dump({PYTHON3, in_prefix("share/doc/Tarnwick/examples/eeprom_dump.py")},
              {"PKG_CONFIG_PATH=/nonexistent"});
}

// The port layer finds the bench beside itself; without it, one line says
// so, every port reads FF and the console still answers.
TEST_F(Installed, TheBenchIsLoadedFromBesideThePortLayerAndItsAbsenceIsOneLine) {
  const fs::path bench = fs::path(in_prefix(libdir)) / "libdlportio-sim.so.1";
  ASSERT_TRUE(fs::exists(bench));
  EXPECT_NE(dynamic_section(bench.string()).find("Library soname: [libdlportio-sim.so.1]"),
            std::string::npos);
  const std::string moved = bench.string() + ".away";
  fs::rename(bench, moved);
  Scratch scratch;
  scratch.write("I2C.INI", "[I2C Card]\nNops = 0\n");
  const Outcome console = test_kit::run_program({{in_prefix("bin/sondrel")}, scratch.path(), scratch.environment(), "start ;address 160;quit\n"});
  fs::rename(moved, bench);
  EXPECT_EQ(console.status(), 0) << console.err;
  EXPECT_EQ(console.err.rfind("tarnwick: cannot load the simulated bench libdlportio-sim.so.1 (", 0),
            0u)
      << console.err;
  EXPECT_EQ(std::count(console.err.begin(), console.err.end(), '\n'), 1) << console.err;
  EXPECT_NE(console.out.find("I2C (0) >"), std::string::npos) << console.out;
}

TEST_F(Installed, ThePythonModuleSitsInThePrefixsSiteDirectoryAndFindsItsLibrary) {
  if (tree_is_sanitized()) GTEST_SKIP() << "the system's Python cannot load a sanitizer build";
  std::vector<fs::path> found;
  for (const auto& entry : fs::recursive_directory_iterator(in_prefix("lib"))) {
    if (entry.path().filename() == "__init__.py" &&
        entry.path().parent_path().filename() == "tarnwick") {
      found.push_back(entry.path().parent_path().parent_path());
    }
  }
  ASSERT_EQ(found.size(), 1u) << "the module tarnwick is not once in " << in_prefix("lib");
  const std::string site = found[0].filename().string();
  EXPECT_TRUE(site == "site-packages" || site == "dist-packages") << found[0];
  for (const char* file : {"__init__.py", "smbus.py", "py.typed"}) {
    EXPECT_EQ(read_file((found[0] / "tarnwick" / file).string()),
              read_file(std::string(SOURCE_DIR "/python/tarnwick/") + file))
        << file;
  }
  EXPECT_FALSE(fs::exists(found[0] / "tarnwick/__pycache__"));
  // The module finds the prefix's library by itself: no TARNWICK_LIBRARY,
  // no loader path, no pkg-config.
  Scratch scratch;
  prepare_eeprom_bench(scratch);
  auto environment = scratch.environment();
  environment.push_back("PYTHONPATH=" + found[0].string());
  environment.push_back("TARNWICK_LIBRARY");
  environment.push_back("PKG_CONFIG_PATH=/nonexistent");
  const Outcome outcome =
      test_kit::run_program({{PYTHON3, "-c",
           "import tarnwick\n"
           "with tarnwick.Bus(2) as bus:\n"
           "    bus.address(0xA0)\n"
           "    print(bus.write_read([0], 4).hex())\n"
           "print(tarnwick.library()._name)\n"}, scratch.path(), environment, ""});
  EXPECT_EQ(outcome.status(), 0) << outcome.err;
  char first[16];
  const auto image = eeprom_image();
  std::snprintf(first, sizeof first, "%02x%02x%02x%02x\n", image[0], image[1], image[2], image[3]);
  EXPECT_EQ(outcome.out.rfind(first, 0), 0u) << outcome.out;
  EXPECT_NE(outcome.out.find(prefix), std::string::npos) << outcome.out;
}

// Another install found first (as /usr/local's is, through the loader's
// cache and python3's own site directory) does not stand in for the
// prefix's own module and library.
TEST_F(Installed, AnotherInstallFoundFirstDoesNotStandInForThePrefixsOwn) {
  if (tree_is_sanitized()) GTEST_SKIP() << "the system's Python cannot load a sanitizer build";
  Scratch other;
  fs::create_directories(other.file("lib"));
  fs::create_directories(other.file("site/tarnwick"));
  for (const char* name : {"libtarnwick.so.4", "libdlportio.so.1", "libdlportio-sim.so.1"}) {
    fs::copy_file(in_prefix(libdir + "/" + name), other.file(std::string("lib/") + name));
  }
  other.write("site/tarnwick/__init__.py", "raise SystemExit('the other install was imported')\n");
  const std::vector<std::string> library_first{"LD_LIBRARY_PATH=" + other.file("lib"),
                                               "PKG_CONFIG_PATH=/nonexistent", "TARNWICK_LIBRARY"};
  auto module_first = library_first;
  module_first.push_back("PYTHONPATH=" + other.file("site"));
  expect_dump({PYTHON3, in_prefix("share/doc/Tarnwick/examples/eeprom_dump.py")}, module_first);

  std::string site;
  for (const auto& entry : fs::recursive_directory_iterator(in_prefix("lib"))) {
    if (entry.path().filename() == "tarnwick") site = entry.path().parent_path().string();
  }
  ASSERT_FALSE(site.empty());
  Scratch scratch;
  auto environment = scratch.environment();
  environment.insert(environment.end(), library_first.begin(), library_first.end());
  environment.push_back("PYTHONPATH=" + site);
  const Outcome outcome = test_kit::run_program(
      {{PYTHON3, "-c", "import tarnwick\nprint(tarnwick.library()._name)\n"}, scratch.path(),
       environment, ""});
  EXPECT_EQ(outcome.status(), 0) << outcome.err;
  EXPECT_EQ(outcome.out.rfind(prefix, 0), 0u) << outcome.out;
}

// A build configured before python3 was installed still installs the
// module: the install step looks for python3 when it runs.
TEST_F(Installed, ThePythonModuleComesWithAnInstallWhenPython3CameAfterConfiguring) {
  Scratch scratch;
  std::string script = read_file(SOURCE_DIR "/cmake/InstallPython.cmake.in");
  for (const auto& [name, value] :
       {std::pair<std::string, std::string>{"@TARNWICK_PYTHON3@", ""}, {"@CMAKE_SOURCE_DIR@", SOURCE_DIR}}) {
    for (std::size_t at; (at = script.find(name)) != std::string::npos;) script.replace(at, name.size(), value);
  }
  scratch.write("InstallPython.cmake", script);
  const std::string late = scratch.file("late");
  const Outcome outcome = test_kit::run_program(
      {{CMAKE_COMMAND, "-DCMAKE_INSTALL_PREFIX=" + late, "-P", scratch.file("InstallPython.cmake")}});
  ASSERT_EQ(outcome.status(), 0) << outcome.out << outcome.err;
  bool found = false;
  for (const auto& entry : fs::recursive_directory_iterator(late)) {
    found = found || (entry.path().filename() == "__init__.py" &&
                      entry.path().parent_path().filename() == "tarnwick");
  }
  EXPECT_TRUE(found) << "no module below " << late;
}

TEST_F(Installed, AStagedInstallStaysBelowDestdirAndNamesTheFinalPrefix) {
  Scratch scratch;
  struct Case {
    std::string prefix;
    bool rpath_expected;
  };
  const std::string private_prefix = "/opt/tarnwick-staging-" + std::to_string(::getpid());
  for (const Case& c : {Case{private_prefix, true}, Case{"/usr", false}}) {
    const std::string stage = scratch.file("stage" + std::to_string(c.rpath_expected));
    const Outcome outcome = test_kit::run_program({{CMAKE_COMMAND, "--install", BUILD_DIR, "--prefix", c.prefix}, "", {"DESTDIR=" + stage}, ""});
    ASSERT_EQ(outcome.status(), 0) << outcome.out << outcome.err;
    const std::string pc = read_file(stage + c.prefix + "/" + libdir + "/pkgconfig/tarnwick.pc");
    EXPECT_NE(pc.find("prefix=" + c.prefix + "\n"), std::string::npos) << pc;
    EXPECT_EQ(pc.find("-Wl,-rpath,${libdir}") != std::string::npos, c.rpath_expected) << pc;
    EXPECT_TRUE(fs::exists(stage + c.prefix + "/bin/sondrel"));
  }
  EXPECT_FALSE(fs::exists(private_prefix)) << "the install wrote outside DESTDIR";
}

}  // namespace
