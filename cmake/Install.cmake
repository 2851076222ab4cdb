# What `cmake --install` puts where, and how other programs find it:
#
#   lib/libtarnwick.so.4.11.0, .so.4, .so        the bus library
#   lib/libdlportio.so.1.0.0, .so.1, .so         the port layer it links
#   lib/libdlportio-sim.so.1.0.0, .so.1          the simulated bench, which
#                                                the port layer loads by name
#   include/tarnwick.h                           the ten functions
#   include/tarnwick/i2c.h                       the transfer interface
#   bin/sondrel                                  the console
#   bin/tarnwick-detect, bin/tarnwick-eeprom     the bus scan and EEPROM tool
#   sbin/tarnwick-i2cdev, man8/tarnwick-i2cdev.8 /dev/i2c-N (with libfuse3)
#   bin/tarnwick-transfer, -get, -set            i2ctransfer, i2cget, i2cset
#   lib/python3.X/.../tarnwick/                  the Python module
#   lib/pkgconfig/tarnwick.pc                    pkg-config
#   lib/cmake/Tarnwick/                          find_package(Tarnwick)
#   share/man/man1/sondrel.1, man3/tarnwick.3    the manual pages (man3 also
#                                                tarnwick-i2c.3, and man1
#                                                for the utilities)
#   share/doc/Tarnwick/                          I2C.INI.example, examples
#
# Runtime component: the shared objects, the programs and the module. Development
# component: the link names, the header, pkg-config and CMake files.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Installed binaries find their libraries relative to themselves, so an
# install into any prefix runs without LD_LIBRARY_PATH; the pair moves as
# one tree.
set_target_properties(tarnwick dlportio PROPERTIES INSTALL_RPATH "$ORIGIN")
file(RELATIVE_PATH _tarnwick_bin_to_lib
     "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${CMAKE_INSTALL_LIBDIR}")
set_target_properties(sondrel tarnwick-detect tarnwick-eeprom tarnwick-transfer tarnwick-get
  tarnwick-set PROPERTIES INSTALL_RPATH "$ORIGIN/${_tarnwick_bin_to_lib}")

# Hosts write #include <tarnwick.h> and #include <tarnwick/i2c.h>: both
# headers include only <stdint.h>.
target_include_directories(tarnwick INTERFACE
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS tarnwick dlportio
  EXPORT TarnwickTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT Runtime
    NAMELINK_COMPONENT Development)
# Nothing links the bench: the port layer loads it from beside itself.
install(TARGETS dlportio_sim
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_SKIP)
install(TARGETS sondrel tarnwick-detect tarnwick-eeprom tarnwick-transfer tarnwick-get tarnwick-set
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
install(FILES ${CMAKE_SOURCE_DIR}/include/tarnwick.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development)
install(FILES ${CMAKE_SOURCE_DIR}/include/tarnwick/i2c.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tarnwick COMPONENT Development)

# CMake package: find_package(Tarnwick) gives Tarnwick::tarnwick.
set(TARNWICK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tarnwick)
install(EXPORT TarnwickTargets
  NAMESPACE Tarnwick::
  FILE TarnwickTargets.cmake
  DESTINATION ${TARNWICK_CMAKE_DIR}
  COMPONENT Development)
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/TarnwickConfig.cmake.in
  ${CMAKE_BINARY_DIR}/packaging/TarnwickConfig.cmake
  INSTALL_DESTINATION ${TARNWICK_CMAKE_DIR})
# 4.x hosts keep working with any later 4.x: the soname changes with the major.
write_basic_package_version_file(
  ${CMAKE_BINARY_DIR}/packaging/TarnwickConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_BINARY_DIR}/packaging/TarnwickConfig.cmake
  ${CMAKE_BINARY_DIR}/packaging/TarnwickConfigVersion.cmake
  DESTINATION ${TARNWICK_CMAKE_DIR}
  COMPONENT Development)

# pkg-config file, written at install time so that it names the prefix
# actually installed into (cmake --install --prefix ...); see the script.
set(TARNWICK_PC_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/tarnwick.pc.in)
set(TARNWICK_PC_STAGED ${CMAKE_BINARY_DIR}/packaging/tarnwick.pc)
configure_file(${CMAKE_CURRENT_LIST_DIR}/InstallPkgConfig.cmake.in
  ${CMAKE_BINARY_DIR}/packaging/InstallPkgConfig.cmake @ONLY)
install(SCRIPT ${CMAKE_BINARY_DIR}/packaging/InstallPkgConfig.cmake
  COMPONENT Development)

# Manual pages.
install(FILES ${CMAKE_SOURCE_DIR}/man/sondrel.1 ${CMAKE_SOURCE_DIR}/man/tarnwick-detect.1
  ${CMAKE_SOURCE_DIR}/man/tarnwick-eeprom.1 ${CMAKE_SOURCE_DIR}/man/tarnwick-transfer.1
  ${CMAKE_SOURCE_DIR}/man/tarnwick-get.1 ${CMAKE_SOURCE_DIR}/man/tarnwick-set.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Runtime)
install(FILES ${CMAKE_SOURCE_DIR}/man/tarnwick.3 ${CMAKE_SOURCE_DIR}/man/tarnwick-i2c.3
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT Development)

# The sample configuration file and the example hosts.
install(FILES ${CMAKE_SOURCE_DIR}/I2C.INI.example
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Runtime)
install(FILES
  ${CMAKE_SOURCE_DIR}/examples/eeprom_dump.c
  ${CMAKE_SOURCE_DIR}/examples/CMakeLists.txt
  ${CMAKE_SOURCE_DIR}/examples/bus.gtkw
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT Development)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/examples/eeprom_dump.py
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT Development)

# The Python module, where the prefix's python3 finds it (see the script):
# the system's python3 first, the one that Debian's prefixes belong to.
# Without a python3 now, the install looks for one again when it runs.
find_program(TARNWICK_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(TARNWICK_PYTHON3 python3)
if(NOT TARNWICK_PYTHON3)
  set(TARNWICK_PYTHON3 "")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/InstallPython.cmake.in
  ${CMAKE_BINARY_DIR}/packaging/InstallPython.cmake @ONLY)
install(SCRIPT ${CMAKE_BINARY_DIR}/packaging/InstallPython.cmake COMPONENT Runtime)
