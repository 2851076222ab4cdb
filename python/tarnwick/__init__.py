"""The Tarnwick I2C bus library from Python, through ctypes.

smbus2's interface, 7-bit addresses and one transaction a call (see
tarnwick.smbus):

    from tarnwick import SMBus
    with SMBus(1) as bus:                     # 1 card, 2 Philips, 3 Custom, 0 Default
        celsius = bus.read_i2c_block_data(0x48, 0, 2)

The classic Bus, 8-bit address bytes, one transaction a `with` block:

    import tarnwick
    with tarnwick.Bus(adapter=None) as bus:   # 1 card, 2 Philips, 3 Custom
        bus.address(0xA0)                     # 8-bit address byte
        data = bus.write_read(b"\\x00", 16)

A Bus opens a transaction on entry (I2C_Start, which takes the adapter's
bus semaphore) and closes it on exit (I2C_Stop), also after an exception.
Without an adapter the key "Default" of section "I2C Device" in I2C.INI
picks it. The raw ten functions are attributes of this module (I2C_Init,
I2C_Start, ...) and of library(); they return the library's 16-bit bus
results unchanged.

tarnwick.bench sets the simulated bench's parts from outside the bus and
reads the violations its bus saw; tarnwick.pytest_plugin gives pytest tests
a fresh bench bus each.

The library is the file named by the environment variable TARNWICK_LIBRARY;
otherwise libtarnwick.so.4 of the prefix this module is installed in, where
the dynamic loader finds it, in build/default of the source tree it sits in,
or in the libdir pkg-config gives for tarnwick.
"""
from __future__ import annotations

import collections.abc
import ctypes
import glob
import operator
import os
import subprocess
from typing import TYPE_CHECKING, Any, Callable, Iterator, Optional, Sequence, Union

if TYPE_CHECKING:
    from typing import Literal

__version__ = "4.11.0"

SONAME = "libtarnwick.so.4"

__all__ = [
    "Bus", "TarnwickError", "LibraryNotFound", "BusError", "BusNotOpened",
    "AddressRefused", "ByteRefused", "library", "SONAME",
    "I2C_Init", "I2C_Start", "I2C_Stop", "I2C_Address", "I2C_Send", "I2C_Read",
    "I2C_SendByte", "I2C_GetByte", "I2C_Info", "I2C_SelectInterface",
    "SMBus", "i2c_msg", "I2cFunc", "bench",
]


class TarnwickError(Exception):
    """Everything this module raises."""


class LibraryNotFound(TarnwickError):
    """libtarnwick.so.4 could not be loaded."""


class BusError(TarnwickError):
    """A bus function gave a result that means failure."""

    def __init__(self, what: str, result: int) -> None:
        super().__init__(f"{what} (bus result {result})")
        self.result = result


class BusNotOpened(BusError):
    """I2C_Start did not open the bus."""


class AddressRefused(BusError):
    """No slave acknowledged the address byte."""

    def __init__(self, address: int, result: int) -> None:
        super().__init__(f"no slave acknowledges address {address:02X}", result)
        self.address = address


class ByteRefused(BusError):
    """The slave refused a written byte; `index` is its place in the data."""

    def __init__(self, index: int, result: int) -> None:
        super().__init__(f"the slave refused byte {index}", result)
        self.index = index


_SIGNATURES = {
    "I2C_Init": [],
    "I2C_Start": [],
    "I2C_Stop": [],
    "I2C_Address": [ctypes.c_int16],
    "I2C_Send": [ctypes.c_int16, ctypes.POINTER(ctypes.c_uint8)],
    "I2C_Read": [ctypes.c_int16, ctypes.POINTER(ctypes.c_uint8)],
    "I2C_SendByte": [ctypes.c_uint8],
    "I2C_GetByte": [],
    "I2C_Info": [],
    "I2C_SelectInterface": [ctypes.c_int16],
}

_library: Optional[ctypes.CDLL] = None


def _candidates() -> Iterator[str]:
    """Where to look for the library after TARNWICK_LIBRARY, in order."""
    # Installed as PREFIX/lib/python3.../{site,dist}-packages/tarnwick: the
    # library is in PREFIX/lib or PREFIX/lib/<multiarch>. It comes first: a
    # module belongs with the library of its own install, even where the
    # loader would find another one (a second install in /usr/local).
    here = os.path.dirname(os.path.abspath(__file__))
    if os.path.basename(os.path.dirname(here)) in ("site-packages", "dist-packages"):
        folder = here
        for _ in range(5):
            folder = os.path.dirname(folder)
            yield from sorted(glob.glob(os.path.join(folder, "lib*", SONAME)))
            yield from sorted(glob.glob(os.path.join(folder, "lib", "*", SONAME)))
    yield SONAME  # the dynamic loader's own search
    # In the source tree (python/tarnwick), after scripts/run or scripts/test.
    yield os.path.join(here, "..", "..", "build", "default", "lib", SONAME)
    try:
        libdir = subprocess.run(["pkg-config", "--variable=libdir", "tarnwick"],
                                capture_output=True, text=True, check=True).stdout.strip()
        if libdir:
            yield os.path.join(libdir, SONAME)
    except (OSError, subprocess.CalledProcessError):
        pass


def _open() -> ctypes.CDLL:
    named = os.environ.get("TARNWICK_LIBRARY")
    if named:
        try:
            return ctypes.CDLL(named)
        except OSError as error:
            raise LibraryNotFound(f"cannot load TARNWICK_LIBRARY={named}: {error}") from None
    for candidate in _candidates():
        try:
            return ctypes.CDLL(candidate)
        except OSError:
            continue
    raise LibraryNotFound(
        f"cannot find {SONAME}: install Tarnwick (cmake --install, then ldconfig), "
        "or set LD_LIBRARY_PATH or TARNWICK_LIBRARY")


def library() -> ctypes.CDLL:
    """The loaded library, its ten functions typed; loaded on first use."""
    global _library
    if _library is None:
        lib = _open()
        for name, arguments in _SIGNATURES.items():
            function = getattr(lib, name)
            function.argtypes = arguments
            function.restype = ctypes.c_int16
        _library = lib
    return _library


# Called after every call of this module that reaches the bus, before its
# outcome is judged: tarnwick.bench's strict mode raises there on the first
# protocol or timing violation, ahead of the error the violation caused.
_after_bus_call: Optional[Callable[[], None]] = None


def _bus_call_done() -> None:
    if _after_bus_call is not None:
        _after_bus_call()


def _raw(name: str) -> Callable[..., int]:
    def call(*arguments: Any) -> int:
        result = int(getattr(library(), name)(*arguments))
        _bus_call_done()
        return result
    call.__name__ = name
    call.__doc__ = f"{name} of libtarnwick.so.4, its bus result unchanged."
    return call


I2C_Init = _raw("I2C_Init")
I2C_Start = _raw("I2C_Start")
I2C_Stop = _raw("I2C_Stop")
I2C_Address = _raw("I2C_Address")
I2C_Send = _raw("I2C_Send")
I2C_Read = _raw("I2C_Read")
I2C_SendByte = _raw("I2C_SendByte")
I2C_GetByte = _raw("I2C_GetByte")
I2C_Info = _raw("I2C_Info")
I2C_SelectInterface = _raw("I2C_SelectInterface")

# Counts and addresses are 16-bit in the library.
_MAX_COUNT = 0x7FFF


def _data_bytes(data: Any) -> bytes:
    """The bytes of `data` for the bus: a bytes-like object as it is, or a
    sequence of ints 0..255. Anything else raises before the bus sees a bit:
    bytes() alone would take an int as a length (bus.write(16) would write
    sixteen zero bytes to the slave) and a str is text, not bus data."""
    # An int, or anything that stands for one (__index__), is no data.
    if isinstance(data, str) or hasattr(type(data), "__index__"):
        raise TypeError(f"data must be bytes-like or a sequence of ints 0..255, "
                        f"not {type(data).__name__}")
    try:
        with memoryview(data):
            pass
    except TypeError:
        pass
    else:
        return bytes(data)
    if not isinstance(data, collections.abc.Sequence):
        raise TypeError(f"data must be bytes-like or a sequence of ints 0..255, "
                        f"not {type(data).__name__}")
    values = []
    for index, item in enumerate(data):
        try:
            value = operator.index(item)
        except TypeError:
            raise TypeError(f"data item {index} is {type(item).__name__}, "
                            "not an int") from None
        if not 0 <= value <= 0xFF:
            raise ValueError(f"data item {index} is {value}, not 0 to 255")
        values.append(value)
    return bytes(values)


def _check_count(count: int) -> None:
    if not 1 <= count <= _MAX_COUNT:
        raise ValueError(f"count {count!r} is not 1 to {_MAX_COUNT}")


class Bus:
    """One bus transaction as a context manager.

    On entry it selects `adapter` (1 card, 2 Philips, 3 Custom) when one is
    given, initialises the library and opens the bus; on exit it closes it.
    """

    def __init__(self, adapter: Optional[int] = None) -> None:
        if adapter is not None and adapter not in (1, 2, 3):
            raise ValueError(f"adapter {adapter!r} is not 1, 2 or 3")
        self.adapter = adapter
        self._open = False
        self._counts_refused = False

    def __enter__(self) -> Bus:
        lib = library()
        if self.adapter is not None:
            lib.I2C_SelectInterface(self.adapter)
        lib.I2C_Init()
        # The card counts a refused byte among those sent, the parallel
        # adapters do not; an address call before the start tells them apart
        # (the card gives -1 for a bus not open, the parallel adapters 2).
        self._counts_refused = lib.I2C_Address(0) == -1
        result = lib.I2C_Start()
        # Open for close() below: a violation raised at the start must not
        # leave the bus and its semaphore held.
        self._open = result in (0, 1)
        try:
            _bus_call_done()
        except BaseException:
            self.close()
            raise
        if result == 1:
            self.close()
            raise BusNotOpened("the card flags a bus error", result)
        if result != 0:
            raise BusNotOpened("the bus could not be opened", result)
        return self

    def __exit__(self, *exception: object) -> Literal[False]:
        self.close()
        return False

    def close(self) -> None:
        """I2C_Stop, once."""
        if self._open:
            self._open = False
            library().I2C_Stop()
            _bus_call_done()

    def address(self, byte: int) -> None:
        """Sends an address byte (slave address in bits 7..1, bit 0 set to
        read), with a (repeated) start as needed; raises AddressRefused."""
        if not 0 <= byte <= 0xFF:
            raise ValueError(f"address byte {byte!r} is not 0 to 255")
        result = library().I2C_Address(byte)
        _bus_call_done()
        if result != 0:
            raise AddressRefused(byte, result)

    def write(self, data: Union[bytes, bytearray, memoryview, Sequence[int]]) -> None:
        """Writes `data` (bytes-like, or a sequence of ints 0..255) to the
        addressed slave; raises ByteRefused with the index of the refused
        byte. The card cannot tell a refusal of the very last byte. Other
        data raises TypeError (an int, a str, an iterator) or ValueError (an
        int outside 0..255), and nothing reaches the bus."""
        data = _data_bytes(data)
        if len(data) > _MAX_COUNT:
            raise ValueError(f"{len(data)} bytes are more than one transfer holds")
        if not data:
            return
        buffer = (ctypes.c_uint8 * len(data)).from_buffer_copy(data)
        sent = library().I2C_Send(len(data), buffer)
        _bus_call_done()
        if sent == len(data):
            return
        if sent < 0:
            raise ByteRefused(0, sent)
        index = sent - 1 if self._counts_refused and sent > 0 else sent
        raise ByteRefused(index, sent)

    def read(self, count: int) -> bytes:
        """Reads `count` bytes from the addressed slave, turning the
        direction of the last address as needed; returns bytes."""
        _check_count(count)
        buffer = (ctypes.c_uint8 * count)()
        result = library().I2C_Read(count, buffer)
        _bus_call_done()
        if result != count:
            raise BusError(f"reading {count} bytes failed", result)
        return bytes(buffer)

    def write_read(self, data: Union[bytes, bytearray, memoryview, Sequence[int]],
                   count: int) -> bytes:
        """write(data), then read(count): a repeated start with the read
        address between them. Both arguments are checked before the write,
        so a bad count does not leave a write done without its read."""
        data = _data_bytes(data)
        _check_count(count)
        self.write(data)
        return self.read(count)


# Last: the smbus2 interface is built on the loader and the data check above.
from .smbus import I2cFunc, SMBus, i2c_msg  # noqa: E402
from . import bench  # noqa: E402
