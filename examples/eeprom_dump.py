#!/usr/bin/env python3
"""Prints the 256 bytes of the 24C02 EEPROM at bus address 0xA0 through the
Tarnwick library, 16 bytes a line: the same as eeprom_dump.c, from Python
through the tarnwick module.

    python3 eeprom_dump.py [INTERFACE]

INTERFACE 1 is the PCF8584 card, 2 the Philips parallel adapter, 3 the
Custom adapter; without it the adapter named by key "Default" of section
"I2C Device" in I2C.INI is used. With no hardware configured the library
runs on its simulated bench, which has a 24C02 at 0xA0.

The module tarnwick is the one of the prefix this script is installed in;
otherwise the one python3 imports (cmake --install or pip install put it
there), or the one of the source tree beside it. The module finds the
library: the file named by TARNWICK_LIBRARY, otherwise libtarnwick.so.4 of
the module's prefix, where the dynamic loader finds it, or in the libdir
that pkg-config gives for tarnwick.
"""
import glob
import os
import sys

EEPROM_WRITE_ADDRESS = 0xA0
EEPROM_SIZE = 256
ADDRESS_TRIES = 100
LINE_BYTES = 16


def import_tarnwick():
    here = os.path.dirname(os.path.abspath(__file__))
    # Installed as PREFIX/share/doc/Tarnwick/examples/eeprom_dump.py: the
    # module of the same install comes before any other python3 would find.
    prefix = os.path.normpath(os.path.join(here, "..", "..", "..", ".."))
    own = [place for place in
           sorted(glob.glob(os.path.join(prefix, "lib", "python3*", "*-packages")))
           if os.path.isfile(os.path.join(place, "tarnwick", "__init__.py"))]
    if not own:
        try:
            import tarnwick
            return tarnwick
        except ImportError:
            pass
    places = own + [os.path.join(here, "..", "python")]  # then the source tree
    for place in places:
        if os.path.isfile(os.path.join(place, "tarnwick", "__init__.py")):
            sys.path.insert(0, place)
            import tarnwick
            return tarnwick
    raise ImportError("cannot find the Python module tarnwick: install Tarnwick "
                      "(cmake --install, or pip install python/)")


def address_polled(tarnwick, bus):
    """An EEPROM does not acknowledge its address during its write cycle (up
    to 5 ms after a write, by another program too): try again, as real host
    code does, ADDRESS_TRIES times at most."""
    for tries in range(ADDRESS_TRIES):
        try:
            bus.address(EEPROM_WRITE_ADDRESS)
            return
        except tarnwick.AddressRefused:
            if tries == ADDRESS_TRIES - 1:
                raise


def read_eeprom(tarnwick, bus):
    """Byte 0 the way a host reads one register, the other 255 as a block."""
    address_polled(tarnwick, bus)
    if tarnwick.I2C_SendByte(0) != 1:
        raise tarnwick.BusError("the EEPROM refused its word address", -1)
    first = tarnwick.I2C_GetByte()
    if first < 0:
        raise tarnwick.BusError("reading byte 0 failed", first)
    bus.address(EEPROM_WRITE_ADDRESS)
    return bytes([first]) + bus.write_read([1], EEPROM_SIZE - 1)


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
        tarnwick = import_tarnwick()
        tarnwick.library()
    except ImportError as error:
        print(f"eeprom_dump.py: {error}", file=sys.stderr)
        return 1
    except tarnwick.LibraryNotFound as error:
        print(f"eeprom_dump.py: {error}", file=sys.stderr)
        return 1
    # Interface numbers outside 1 to 3 select the card, as in the library.
    adapter = interface if interface in (1, 2, 3) else (1 if interface is not None else None)
    try:
        with tarnwick.Bus(adapter) as bus:
            tarnwick.I2C_Info()  # which adapter is in use, on standard error
            memory = read_eeprom(tarnwick, bus)
    except tarnwick.AddressRefused as error:
        print(f"eeprom_dump.py: no EEPROM acknowledges address A0 (bus result {error.result}) "
              f"in {ADDRESS_TRIES} tries", file=sys.stderr)
        return 1
    except tarnwick.BusError as error:
        print(f"eeprom_dump.py: {error}", file=sys.stderr)
        return 1

    for line in range(0, EEPROM_SIZE, LINE_BYTES):
        row = " ".join(f"{byte:02x}" for byte in memory[line:line + LINE_BYTES])
        print(f"{line:02x}: {row}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
