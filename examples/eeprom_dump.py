#!/usr/bin/env python3
"""Prints the 256 bytes of the 24C02 EEPROM at bus address 0xA0 through the
Tarnwick library, 16 bytes a line: the same as eeprom_dump.c, from Python
through ctypes.

    python3 eeprom_dump.py [INTERFACE]

INTERFACE 1 is the PCF8584 card, 2 the Philips parallel adapter, 3 the
Custom adapter; without it the adapter named by key "Default" of section
"I2C Device" in I2C.INI is used. With no hardware configured the library
runs on its simulated bench, which has a 24C02 at 0xA0.

The library is the file named by the environment variable TARNWICK_LIBRARY;
otherwise libtarnwick.so.4 where the dynamic loader finds it (run ldconfig
after installing into /usr/local, or set LD_LIBRARY_PATH), in the prefix
this script is installed in, in the build/default tree beside it, or in the
libdir that pkg-config gives for tarnwick.
"""
import ctypes
import glob
import os
import subprocess
import sys

EEPROM_WRITE_ADDRESS = 0xA0
EEPROM_SIZE = 256
LINE_BYTES = 16


SONAME = "libtarnwick.so.4"


class LibraryNotFound(Exception):
    pass


def library_candidates():
    """Where to look for the library, in order."""
    yield SONAME  # the dynamic loader's own search
    here = os.path.dirname(os.path.abspath(__file__))
    # Installed as PREFIX/share/doc/Tarnwick/examples/eeprom_dump.py.
    prefix = os.path.normpath(os.path.join(here, "..", "..", "..", ".."))
    yield from sorted(glob.glob(os.path.join(prefix, "lib*", SONAME)))
    yield from sorted(glob.glob(os.path.join(prefix, "lib", "*", SONAME)))
    # In the source tree, after scripts/run or scripts/test.
    yield os.path.join(here, "..", "build", "default", "lib", SONAME)
    try:
        libdir = subprocess.run(["pkg-config", "--variable=libdir", "tarnwick"],
                                capture_output=True, text=True, check=True).stdout.strip()
        if libdir:
            yield os.path.join(libdir, SONAME)
    except (OSError, subprocess.CalledProcessError):
        pass


def open_library():
    named = os.environ.get("TARNWICK_LIBRARY")
    if named:
        try:
            return ctypes.CDLL(named)
        except OSError as error:
            raise LibraryNotFound(f"cannot load TARNWICK_LIBRARY={named}: {error}")
    for candidate in library_candidates():
        try:
            return ctypes.CDLL(candidate)
        except OSError:
            continue
    raise LibraryNotFound(
        f"cannot find {SONAME}: install Tarnwick (cmake --install, then ldconfig), "
        "or set LD_LIBRARY_PATH or TARNWICK_LIBRARY")


class BusError(Exception):
    def __init__(self, what, result):
        super().__init__(f"{what} (bus result {result})")


def load_library():
    lib = open_library()
    # Every function returns a 16-bit bus result; counts and addresses are
    # 16-bit, bytes unsigned 8-bit.
    i16, u8p = ctypes.c_int16, ctypes.POINTER(ctypes.c_uint8)
    signatures = {
        "I2C_Init": [],
        "I2C_Start": [],
        "I2C_Stop": [],
        "I2C_Address": [i16],
        "I2C_Send": [i16, u8p],
        "I2C_Read": [i16, u8p],
        "I2C_SendByte": [ctypes.c_uint8],
        "I2C_GetByte": [],
        "I2C_Info": [],
        "I2C_SelectInterface": [i16],
    }
    for name, arguments in signatures.items():
        function = getattr(lib, name)
        function.argtypes = arguments
        function.restype = i16
    return lib


def point_at(lib, word_address, as_single_byte):
    """Addresses the EEPROM for writing and sets its word address pointer;
    the reads that follow turn the direction themselves."""
    result = lib.I2C_Address(EEPROM_WRITE_ADDRESS)
    if result != 0:
        raise BusError("no EEPROM acknowledges address A0", result)
    if as_single_byte:
        result = lib.I2C_SendByte(word_address)
    else:
        result = lib.I2C_Send(1, (ctypes.c_uint8 * 1)(word_address))
    if result != 1:
        raise BusError("the EEPROM refused its word address", result)


def read_eeprom(lib):
    """Byte 0 the way a host reads one register, the other 255 as a block."""
    point_at(lib, 0, as_single_byte=True)
    first = lib.I2C_GetByte()
    if first < 0:
        raise BusError("reading byte 0 failed", first)
    point_at(lib, 1, as_single_byte=False)
    rest = (ctypes.c_uint8 * (EEPROM_SIZE - 1))()
    result = lib.I2C_Read(EEPROM_SIZE - 1, rest)
    if result != EEPROM_SIZE - 1:
        raise BusError("reading bytes 1 to 255 failed", result)
    return bytes([first]) + bytes(rest)


def main(argv):
    try:
        if len(argv) > 2:
            raise ValueError
        interface = int(argv[1]) if len(argv) == 2 else None
    except ValueError:
        print("usage: eeprom_dump.py [INTERFACE]  (1 card, 2 Philips, 3 Custom)",
              file=sys.stderr)
        return 2
    try:
        lib = load_library()
    except LibraryNotFound as error:
        print(f"eeprom_dump.py: {error}", file=sys.stderr)
        return 1
    if interface is not None:
        lib.I2C_SelectInterface(interface)
    lib.I2C_Init()
    lib.I2C_Info()  # which adapter is in use, on standard error

    result = lib.I2C_Start()
    if result != 0:
        print(f"eeprom_dump.py: the bus could not be opened (bus result {result})",
              file=sys.stderr)
        return 1
    try:
        memory = read_eeprom(lib)
    except BusError as error:
        print(f"eeprom_dump.py: {error}", file=sys.stderr)
        return 1
    finally:
        lib.I2C_Stop()

    for line in range(0, EEPROM_SIZE, LINE_BYTES):
        row = " ".join(f"{byte:02x}" for byte in memory[line:line + LINE_BYTES])
        print(f"{line:02x}: {row}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
