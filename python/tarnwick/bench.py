"""The simulated bench as a test target: set its parts from outside the bus,
read the violations its bus saw, and fail on the first one.

    from tarnwick import SMBus, bench
    bench.set_temperature(0x48, 31.5)          # the LM75 at 0x48 now reads 31.5 C
    bench.set_inputs(0x20, 0xF0)               # the PCF8574's pins 0-3 pulled low
    bench.set_time(0x68, datetime(2030, 1, 2, 3, 4, 5))
    bench.load_eeprom(0x50, "image.txt")       # binary, or i2cdump's text
    bench.set_strict()                         # a violation raises bench.Violation
    with SMBus(2) as bus:
        driver_under_test(bus)
    bench.save_eeprom(0x50, "after.txt", text=True)
    assert bench.violations() == []

Addresses are 7-bit, as SMBus takes them; a larger EEPROM is reached at
any of its addresses. The bench is the process's own: it runs inside it as
the port layer's backend (Backend = sim in section "Port IO" of I2C.INI,
the default), from the first port access on, and these calls reach it
through the bench object's exports (sim_bench.h), which a C host can call
as well. Its keys in section "Simulation" (Temperature@90, Inputs@40,
Time@D0, Image@A0, with 8-bit addresses as in Devices) set the same state
at every power-up; restart() powers it up again with that section read
anew. The library itself never learns that it talks to a bench.

Call these between transfers: a transfer in another thread does not wait
for them.
"""
from __future__ import annotations

import calendar
import ctypes
import datetime
import os
import tempfile
from typing import Callable, List, Optional, Union

import tarnwick

__all__ = ["BenchError", "Violation", "start", "restart", "set_temperature", "set_inputs",
           "set_time", "eeprom_image", "load_eeprom", "save_eeprom", "i2cdump_text",
           "violations", "violation_count", "set_strict", "is_strict"]

_OBJECT = "libdlportio-sim.so.1"
_PORT_LAYER = "libdlportio.so.1"
# A port nothing on the bench decodes, read once to start the port layer:
# the PC's POST code port, which reads harmlessly on any PC too.
_UNDECODED_PORT = 0x80

Path = Union[str, "os.PathLike[str]"]


class BenchError(tarnwick.TarnwickError):
    """The bench is not running, or has no such part."""


class Violation(tarnwick.TarnwickError):
    """A protocol or timing violation on the bench bus while strict; `line`
    is the violation as the trace shows it."""

    def __init__(self, line: str) -> None:
        super().__init__(f"bench bus violation: {line}")
        self.line = line


_object: Optional[ctypes.CDLL] = None
_strict = False
_seen = 0  # violations counted when strict mode last looked


def _loaded(name: str) -> Optional[ctypes.CDLL]:
    """`name` when this process has loaded it already; never loads it."""
    try:
        return ctypes.CDLL(name, mode=os.RTLD_NOLOAD | os.RTLD_LOCAL)
    except OSError:
        return None


def _bench() -> ctypes.CDLL:
    global _object
    if _object is None:
        found = _loaded(_OBJECT)
        if found is None:
            # The port layer loads the bench at its first access.
            tarnwick.library()
            port_layer = _loaded(_PORT_LAYER)
            if port_layer is not None:
                read = port_layer.DlPortReadPortUchar
                read.argtypes, read.restype = [ctypes.c_ulong], ctypes.c_ubyte
                read(_UNDECODED_PORT)
            found = _loaded(_OBJECT)
        if found is None:
            raise BenchError(
                "the simulated bench is not running in this process: the port layer "
                "drives another backend (Backend in section \"Port IO\" of I2C.INI), "
                f"or {_OBJECT} could not be loaded")
        for name, arguments, result in (
                ("SimBenchRestart", [], None),
                ("SimBenchViolations", [], ctypes.c_ulonglong),
                ("SimBenchTimingViolations", [], ctypes.c_ulonglong),
                ("SimBenchViolationLine", [ctypes.c_ulonglong, ctypes.c_char_p, ctypes.c_ulong],
                 ctypes.c_ulong),
                ("SimBenchSetTemperature", [ctypes.c_ubyte, ctypes.c_double], ctypes.c_int),
                ("SimBenchSetInputs", [ctypes.c_ubyte, ctypes.c_ubyte], ctypes.c_int),
                ("SimBenchSetTime", [ctypes.c_ubyte, ctypes.c_longlong], ctypes.c_int),
                ("SimBenchEepromImage", [ctypes.c_ubyte, ctypes.c_void_p, ctypes.c_ulong],
                 ctypes.c_long),
                ("SimBenchLoadEepromImage", [ctypes.c_ubyte, ctypes.c_char_p, ctypes.c_ulong,
                                             ctypes.c_char_p, ctypes.c_ulong], ctypes.c_int)):
            function = getattr(found, name)
            function.argtypes, function.restype = arguments, result
        _object = found
    return _object


def _address(address: int) -> int:
    """The 8-bit write address the bench names a part by."""
    if isinstance(address, bool) or not isinstance(address, int) or not 0 <= address <= 0x7F:
        raise ValueError(f"address {address!r} is not a 7-bit address 0 to 0x7f")
    return address << 1


def _set(done: int, part: str, address: int) -> None:
    if done != 0:
        raise BenchError(f"no {part} answers at 0x{address:02x} on the bench")


def start() -> None:
    """Makes sure the bench runs (the port layer starts it at its first
    access); BenchError when this process drives another backend."""
    _bench()


def restart() -> None:
    """Powers the bench down (waveform closed, an EEPROM File saved) and up
    again with section "Simulation" read anew: parts, keys and counts
    fresh, as a test wants them."""
    global _seen
    _bench().SimBenchRestart()
    _seen = 0


def set_temperature(address: int, celsius: float) -> None:
    """The LM75 at `address` measures `celsius` from now on, rounded to 0.5
    as the part resolves it; -55 to 125, the part's range."""
    if not -55 <= celsius <= 125:
        raise ValueError(f"{celsius!r} C is outside the LM75's -55 to 125 C")
    _set(_bench().SimBenchSetTemperature(_address(address), celsius), "LM75", address)


def set_inputs(address: int, levels: int) -> None:
    """What the circuit outside does to the PCF8574's pins at `address`: a 0
    bit pulls that pin low; 0xff (the power-up state) leaves them all to
    the part."""
    if isinstance(levels, bool) or not isinstance(levels, int) or not 0 <= levels <= 0xFF:
        raise ValueError(f"levels {levels!r} are not a byte 0 to 0xff")
    _set(_bench().SimBenchSetInputs(_address(address), levels), "PCF8574", address)


def set_time(address: int, when: datetime.datetime) -> None:
    """The DS1307 at `address` reads `when` (local wall-clock time, a naive
    datetime of 2000 to 2099) now and runs on from it."""
    if when.tzinfo is not None:
        when = when.astimezone().replace(tzinfo=None)  # the part keeps local time
    if not 2000 <= when.year <= 2099:
        raise ValueError(f"{when} is outside the DS1307's years 2000 to 2099")
    seconds = calendar.timegm(when.timetuple())
    _set(_bench().SimBenchSetTime(_address(address), seconds), "DS1307", address)


def eeprom_image(address: int) -> bytes:
    """The whole contents of the EEPROM at `address`."""
    bench = _bench()
    size = int(bench.SimBenchEepromImage(_address(address), None, 0))
    _set(min(size, 0), "EEPROM", address)
    buffer = ctypes.create_string_buffer(size)
    bench.SimBenchEepromImage(_address(address), buffer, size)
    return buffer.raw


def load_eeprom(address: int, source: Union[Path, bytes]) -> None:
    """Programs the EEPROM at `address` with an image: the file at `source`
    or the bytes themselves, either binary (exactly the part's size) or
    i2cdump's text giving every byte. An EEPROM File keeps it."""
    if isinstance(source, (bytes, bytearray)):
        image = bytes(source)
    else:
        with open(source, "rb") as file:
            image = file.read()
    error = ctypes.create_string_buffer(200)
    if _bench().SimBenchLoadEepromImage(_address(address), image, len(image), error,
                                        len(error)) != 0:
        where = "" if isinstance(source, (bytes, bytearray)) else f"{os.fspath(source)}: "
        raise BenchError(f"{where}{error.value.decode(errors='replace')}")


def i2cdump_text(image: bytes) -> str:
    """`image` as i2cdump prints a dump: a header, then 16 bytes a row in hex
    and as characters ('.' for 00 and ff, '?' for others that do not
    print). Rows above 256 bytes take wider labels, as tarnwick-eeprom's."""
    width = max(2, len(f"{max(len(image) - 16, 0):x}"))
    lines = [" " * (width - 2) + "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f"
             "    0123456789abcdef"]
    for row in range(0, len(image), 16):
        chunk = image[row:row + 16]
        cells = "".join(f"{byte:02x} " for byte in chunk) + "   " * (16 - len(chunk))
        shown = "".join("." if byte in (0, 0xFF) else "?" if byte < 0x20 or byte >= 0x7F
                        else chr(byte) for byte in chunk)
        lines.append(f"{row:0{width}x}: {cells}   {shown}")
    return "\n".join(lines) + "\n"


def save_eeprom(address: int, path: Path, text: bool = False) -> None:
    """Writes the contents of the EEPROM at `address` to `path`: binary, or
    with `text` as i2cdump prints them. The file is replaced whole, never
    left half-written."""
    image = eeprom_image(address)
    data = i2cdump_text(image).encode("ascii") if text else image
    folder = os.path.dirname(os.path.abspath(path))
    with tempfile.NamedTemporaryFile(dir=folder, prefix=".eeprom-", delete=False) as file:
        try:
            file.write(data)
            file.flush()
            os.fsync(file.fileno())
        except BaseException:
            os.unlink(file.name)
            raise
    try:
        os.replace(file.name, path)
    except BaseException:
        os.unlink(file.name)
        raise


def violation_count() -> int:
    """Protocol and timing violations since the bench last powered up."""
    bench = _bench()
    return int(bench.SimBenchViolations()) + int(bench.SimBenchTimingViolations())


def _line(index: int) -> Optional[str]:
    buffer = ctypes.create_string_buffer(256)
    if _bench().SimBenchViolationLine(index, buffer, len(buffer)) == 0:
        return None
    line = buffer.value.decode(errors="replace")
    return line[2:] if line.startswith("! ") else line


def violations() -> List[str]:
    """The violations since the bench last powered up as the trace shows
    them, without its "! " (the first 1000; violation_count() goes on)."""
    found: List[str] = []
    line = _line(0)
    while line is not None:
        found.append(line)
        line = _line(len(found))
    return found


def _check() -> None:
    global _seen
    count = violation_count()
    if count < _seen:  # powered up again behind this module's back
        _seen = 0
    if count > _seen:
        first = _seen
        _seen = count
        raise Violation(_line(first) or f"{count - first} violations beyond the first 1000")


def set_strict(strict: bool = True) -> None:
    """Strict: every call of tarnwick that reaches the bus (SMBus, Bus, the
    raw functions) raises Violation when it made the bus see a protocol or
    timing violation, ahead of any error the violation caused. Violations
    from before this call do not count."""
    global _strict, _seen
    hook: Optional[Callable[[], None]] = None
    if strict:
        _seen = violation_count()
        hook = _check
    _strict = strict
    tarnwick._after_bus_call = hook


def is_strict() -> bool:
    return _strict
