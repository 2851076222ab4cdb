"""smbus2's SMBus over tarnwick_transfer: 7-bit addresses, one transaction a call.

    from tarnwick import SMBus, i2c_msg
    with SMBus(1) as bus:                      # 1 card, 2 Philips, 3 Custom, 0 Default
        raw = bus.read_word_data(0x48, 0)      # LM75: pointer 0, repeated START, 2 bytes
        write, read = i2c_msg.write(0x50, [0]), i2c_msg.read(0x50, 16)
        bus.i2c_rdwr(write, read)              # one transaction, repeated START

Each call is one tarnwick_transfer, with the messages Linux's i2c-core
makes when it emulates SMBus over a plain I2C adapter, so the bus lock is
taken and given back inside every call and nothing is held between calls
or for a `with` block. Failures raise OSError with the errno of the
transfer, as smbus2's ioctl calls do: ENXIO (6) when the address is not
acknowledged and EIO (5) for a data byte (Linux drivers differ there: some
give EREMOTEIO, 121), ETIMEDOUT, EAGAIN, EBUSY, EINVAL, EOPNOTSUPP; EBADMSG
for a wrong PEC, EPROTO for a block count above 32.

The library cannot read a length from the slave in the middle of a read
(I2C_M_RECV_LEN), so read_block_data and block_process_call read the count
byte and the largest block, 32 bytes (33 with PEC), in the one read of
the transaction, and keep what the count names. The slave sees the same
bytes as with a length-aware master up to the end of its block; the master
then goes on reading up to the 32nd byte before it stops acknowledging.
"""
from __future__ import annotations

import ctypes
import errno
import operator
import os
from enum import IntFlag
from types import TracebackType
from typing import Any, Iterator, List, Optional, Sequence, Tuple, Type, Union

from . import LibraryNotFound, _bus_call_done, _data_bytes, library

__all__ = ["SMBus", "i2c_msg", "I2cFunc", "I2C_M_RD", "I2C_SMBUS_BLOCK_MAX"]

#: What an SMBus call or i2c_msg.write takes as data.
Data = Union[bytes, bytearray, memoryview, Sequence[int]]

I2C_M_RD = 0x0001
I2C_M_TEN = 0x0010
I2C_M_RECV_LEN = 0x0400
I2C_M_NO_RD_ACK = 0x0800
I2C_M_IGNORE_NAK = 0x1000
I2C_M_REV_DIR_ADDR = 0x2000
I2C_M_NOSTART = 0x4000
I2C_M_STOP = 0x8000
I2C_SMBUS_BLOCK_MAX = 32
_MAX_LEN = 8192  # one message of tarnwick_transfer, as of i2c-dev


class I2cFunc(IntFlag):
    """The functionality bits of Linux's I2C_FUNCS, by their values."""
    I2C = 0x00000001
    ADDR_10BIT = 0x00000002
    PROTOCOL_MANGLING = 0x00000004
    SMBUS_PEC = 0x00000008
    NOSTART = 0x00000010
    SLAVE = 0x00000020
    SMBUS_BLOCK_PROC_CALL = 0x00008000
    SMBUS_QUICK = 0x00010000
    SMBUS_READ_BYTE = 0x00020000
    SMBUS_WRITE_BYTE = 0x00040000
    SMBUS_READ_BYTE_DATA = 0x00080000
    SMBUS_WRITE_BYTE_DATA = 0x00100000
    SMBUS_READ_WORD_DATA = 0x00200000
    SMBUS_WRITE_WORD_DATA = 0x00400000
    SMBUS_PROC_CALL = 0x00800000
    SMBUS_READ_BLOCK_DATA = 0x01000000
    SMBUS_WRITE_BLOCK_DATA = 0x02000000
    SMBUS_READ_I2C_BLOCK = 0x04000000
    SMBUS_WRITE_I2C_BLOCK = 0x08000000
    SMBUS_HOST_NOTIFY = 0x10000000
    SMBUS_BYTE = 0x00060000
    SMBUS_BYTE_DATA = 0x00180000
    SMBUS_WORD_DATA = 0x00600000
    SMBUS_BLOCK_DATA = 0x03000000
    SMBUS_I2C_BLOCK = 0x0C000000
    SMBUS_EMUL = 0x0EFF0008


# Every adapter makes plain I2C messages with repeated STARTs, so every
# SMBus call but Host Notify; the PEC is made here. Only the bit-banged
# adapters make NOSTART and IGNORE_NAK (the only protocol mangling the
# library has). Adapter 0 may be any of them: it gets what all three have.
_ALL_ADAPTERS = (I2cFunc.I2C | I2cFunc.SMBUS_PEC | I2cFunc.SMBUS_QUICK | I2cFunc.SMBUS_BYTE
                 | I2cFunc.SMBUS_BYTE_DATA | I2cFunc.SMBUS_WORD_DATA | I2cFunc.SMBUS_PROC_CALL
                 | I2cFunc.SMBUS_BLOCK_DATA | I2cFunc.SMBUS_BLOCK_PROC_CALL
                 | I2cFunc.SMBUS_I2C_BLOCK)
_BIT_BANGED = _ALL_ADAPTERS | I2cFunc.NOSTART | I2cFunc.PROTOCOL_MANGLING
_FUNCS = {0: _ALL_ADAPTERS, 1: _ALL_ADAPTERS, 2: _BIT_BANGED, 3: _BIT_BANGED}
_ADAPTER_NAMES = {0: "the Default adapter", 1: "the PCF8584 card (1)",
                  2: "the Philips adapter (2)", 3: "the Custom adapter (3)"}


class _Msg(ctypes.Structure):
    """struct tarnwick_msg, which has the layout of Linux's struct i2c_msg."""
    _fields_ = [("addr", ctypes.c_uint16), ("flags", ctypes.c_uint16),
                ("len", ctypes.c_uint16), ("buf", ctypes.POINTER(ctypes.c_uint8))]


class i2c_msg(ctypes.Structure):  # noqa: N801 - smbus2's name
    """One message of i2c_rdwr, as smbus2's i2c_msg: Linux's struct i2c_msg,
    `buf` a POINTER(c_char). Iterating gives its bytes as ints."""
    _fields_ = [("addr", ctypes.c_uint16), ("flags", ctypes.c_uint16),
                ("len", ctypes.c_uint16), ("buf", ctypes.POINTER(ctypes.c_char))]

    def __iter__(self) -> Iterator[int]:
        for index in range(self.len):
            yield int(self.buf[index][0])

    def __len__(self) -> int:
        return int(self.len)

    def __bytes__(self) -> bytes:
        return ctypes.string_at(self.buf, self.len) if self.len else b""

    def __repr__(self) -> str:
        return "i2c_msg(%d,%d,%r)" % (self.addr, self.flags, self.__bytes__())

    def __str__(self) -> str:
        return self.__bytes__().decode(errors="ignore")

    @staticmethod
    def read(address: int, length: int) -> "i2c_msg":
        """A message that reads `length` bytes (1 to 8192) from `address`."""
        _check_address(address)
        length = _check_int("length", length, 1, _MAX_LEN)
        return i2c_msg(addr=address, flags=I2C_M_RD, len=length,
                       buf=ctypes.create_string_buffer(length))

    @staticmethod
    def write(address: int, buf: Data) -> "i2c_msg":
        """A message that writes `buf` (bytes-like, or a sequence of ints
        0..255) to `address`."""
        _check_address(address)
        data = _data_bytes(buf)
        if len(data) > _MAX_LEN:
            raise ValueError(f"{len(data)} bytes are more than one message holds ({_MAX_LEN})")
        return i2c_msg(addr=address, flags=0, len=len(data),
                       buf=ctypes.create_string_buffer(data, len(data)))


def _check_int(what: str, value: object, low: int, high: int) -> int:
    try:
        number = operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"{what} must be an int, not {type(value).__name__}") from None
    if not low <= number <= high:
        raise ValueError(f"{what} {number} is not {low} to {high}")
    return number


def _check_address(address: object) -> int:
    try:
        number = operator.index(address)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"the address must be an int, not {type(address).__name__}") from None
    if not 0 <= number <= 0x7F:
        raise ValueError(f"address {number:#x} is not a 7-bit address (0x00 to 0x7f); "
                         "an 8-bit address byte is twice the 7-bit address")
    return number


def _block(data: Data) -> bytes:
    block = _data_bytes(data)
    if len(block) > I2C_SMBUS_BLOCK_MAX:
        raise ValueError(f"Data length cannot exceed {I2C_SMBUS_BLOCK_MAX} bytes")
    return block


# The SMBus PEC: CRC-8 with the polynomial x^8 + x^2 + x + 1, starting at 0,
# over every byte of the transaction, address bytes included.
def _crc8_table() -> List[int]:
    table = []
    for value in range(256):
        for _ in range(8):
            value = ((value << 1) ^ 0x07) if value & 0x80 else value << 1
        table.append(value & 0xFF)
    return table


_CRC8 = _crc8_table()


def _pec(crc: int, addr: int, flags: int, data: bytes) -> int:
    """The PEC running on from `crc` over one message: its address byte
    (7-bit address, read bit) and its bytes."""
    for byte in bytes([(addr << 1) | (flags & I2C_M_RD)]) + data:
        crc = _CRC8[crc ^ byte]
    return crc


_transfer_function = None


def _transfer() -> Any:
    global _transfer_function
    if _transfer_function is None:
        lib = library()
        try:
            function = lib.tarnwick_transfer
        except AttributeError:
            raise LibraryNotFound(f"{lib._name} has no tarnwick_transfer: it is older "
                                  "than Tarnwick 4.11") from None
        function.argtypes = [ctypes.c_int, ctypes.POINTER(_Msg), ctypes.c_int]
        function.restype = ctypes.c_int
        speed = lib.tarnwick_bus_speed
        speed.argtypes = [ctypes.c_int, ctypes.c_long]
        speed.restype = ctypes.c_long
        _transfer_function = function
    return _transfer_function


# What each errno of a transfer means on these adapters.
_MEANINGS = {
    errno.ENXIO: "{address} did not acknowledge its address",
    errno.EIO: "{address} did not acknowledge a byte (on the card: or a bus error)",
    errno.ETIMEDOUT: "a slave held SCL low past the stretch time-out, or the bus was not free",
    errno.EAGAIN: "the card lost arbitration to another master",
    errno.EBUSY: "another transaction held the bus lock for 100 ms",
    errno.EINVAL: "the library refused the messages (an address above 0x7f, a read of "
                  "0 bytes, a length above 8192, more than 42 messages, a misplaced NOSTART)",
    errno.ENODEV: "the Custom adapter has no SDA or SCL OUT line wired",
}

# The flags no adapter makes, then those only the bit-banged ones make.
_NEVER_MADE = ((I2C_M_TEN, "I2C_M_TEN (10-bit addresses)"), (I2C_M_RECV_LEN, "I2C_M_RECV_LEN"),
               (I2C_M_NO_RD_ACK, "I2C_M_NO_RD_ACK"), (I2C_M_REV_DIR_ADDR, "I2C_M_REV_DIR_ADDR"),
               (I2C_M_STOP, "I2C_M_STOP"))
_BIT_BANGED_ONLY = ((I2C_M_NOSTART, "I2C_M_NOSTART"), (I2C_M_IGNORE_NAK, "I2C_M_IGNORE_NAK"))


def _unsupported(messages: Sequence[Tuple[int, int, int]]) -> str:
    """What in `messages` (addr, flags, len) the adapter cannot make."""
    flags = 0
    for _, message_flags, _ in messages:
        flags |= message_flags
    for bit, name in _NEVER_MADE + _BIT_BANGED_ONLY:
        if flags & bit:
            return f"{name}, which only the Philips and Custom adapters make" \
                if (bit, name) in _BIT_BANGED_ONLY else f"{name}, which no adapter makes"
    if any(length == 0 for _, _, length in messages[:-1]):
        return "an empty message before the last (the card cannot repeat a START " \
               "straight after an address)"
    return "these messages"


def _error(code: int, adapter: int, messages: Sequence[Tuple[int, int, int]]) -> OSError:
    name = _ADAPTER_NAMES.get(adapter, f"adapter {adapter}")
    if code == errno.EOPNOTSUPP:
        detail = f"{name} cannot make {_unsupported(messages)}"
    else:
        address = f"0x{messages[0][0]:02x}" if messages else "the slave"
        detail = _MEANINGS.get(code, "the transfer failed").format(address=address)
    return OSError(code, f"{os.strerror(code)}: {detail}")


# One message as this module builds it: address, flags, and the bytes to
# write or a buffer of the length to read.
_Part = Tuple[int, int, bytearray]


class SMBus:
    """smbus2's SMBus on a Tarnwick adapter.

    `bus` is the adapter: 1 the PCF8584 card, 2 the Philips adapter, 3 the
    Custom adapter, 0 the Default of I2C.INI; None opens none (open() later).
    `force` is taken and kept, as no kernel driver can own an address here.
    """

    def __init__(self, bus: Optional[int] = None, force: bool = False) -> None:
        self.adapter: Optional[int] = None
        self.funcs: I2cFunc = I2cFunc(0)
        if bus is not None:
            self.open(bus)
        self.address: Optional[int] = None
        self.force: bool = force
        self._force_last: Optional[bool] = None
        self._pec = 0

    def __enter__(self) -> "SMBus":
        return self

    def __exit__(self, exc_type: Optional[Type[BaseException]],
                 exc_val: Optional[BaseException],
                 exc_tb: Optional[TracebackType]) -> None:
        self.close()

    def open(self, bus: int) -> None:
        """Selects adapter `bus` for the calls after it. No bus lock is
        taken: each call takes it for its own transaction."""
        if isinstance(bus, bool) or not isinstance(bus, int):
            raise TypeError(f"Unexpected type(bus)={type(bus)}: the adapter is an int, "
                            "1 card, 2 Philips, 3 Custom, 0 Default")
        if bus not in _FUNCS:
            raise ValueError(f"adapter {bus} is not 0 (Default), 1, 2 or 3")
        _transfer()
        # Reads the adapter's settings as its first transfer would, so a
        # configuration the adapter cannot run with shows here.
        speed = library().tarnwick_bus_speed(bus, 0)
        if speed < 0:
            detail = _MEANINGS.get(-speed, f"{_ADAPTER_NAMES[bus]} cannot be used")
            raise OSError(-speed, f"{os.strerror(-speed)}: {detail}")
        self.adapter = bus
        self.funcs = I2cFunc(_FUNCS[bus])

    def close(self) -> None:
        """Forgets the adapter; PEC goes off, as when smbus2 closes its file."""
        self.adapter = None
        self._pec = 0

    def _get_pec(self) -> int:
        return self._pec

    def enable_pec(self, enable: bool = True) -> None:
        """Packet Error Checking for the SMBus calls after it, made and
        checked here: a byte more on each write (its CRC-8), a byte more
        read and checked on each read; not on write_quick or the I2C block
        calls, as in Linux."""
        if not self.funcs & I2cFunc.SMBUS_PEC:
            raise IOError("SMBUS_PEC is not a feature")
        self._pec = int(enable)

    pec = property(_get_pec, enable_pec)
    """SMBus PEC: 0 off (the default), 1 on."""

    def _set_address(self, address: int, force: Optional[bool] = None) -> int:
        address = _check_address(address)
        self.address = address
        self._force_last = force if force is not None else self.force
        return address

    def _run(self, parts: List[_Part]) -> None:
        if self.adapter is None:
            raise OSError(errno.EBADF, f"{os.strerror(errno.EBADF)}: the bus is closed")
        messages = (_Msg * len(parts))()
        for message, (addr, flags, buffer) in zip(messages, parts):
            message.addr, message.flags, message.len = addr, flags, len(buffer)
            if buffer:
                message.buf = (ctypes.c_uint8 * len(buffer)).from_buffer(buffer)
        self._call(messages)

    def _call(self, messages: "ctypes.Array[_Msg]") -> None:
        assert self.adapter is not None
        result = _transfer()(self.adapter, messages, len(messages))
        _bus_call_done()
        if result == len(messages):
            return
        described = [(message.addr, message.flags, message.len) for message in messages]
        raise _error(-result if result < 0 else errno.EIO, self.adapter, described)

    def _smbus(self, address: int, write: bytes, read: int = 0, read_only: bool = False,
               pec: bool = True) -> bytearray:
        """One SMBus transaction as i2c-core emulates it: the write message
        (none when `read_only`), then a read of `read` bytes after a repeated
        START. With PEC on, a lone write gets its PEC appended and a read one
        byte more, checked against the PEC of all that went before it."""
        pec = pec and bool(self._pec)
        parts: List[_Part] = []
        if not read_only:
            parts.append((address, 0, bytearray(write)))
        if read:
            parts.append((address, I2C_M_RD, bytearray(read + (1 if pec else 0))))
        crc = 0
        if pec and not read_only:
            crc = _pec(0, address, 0, write)
            if not read:
                parts[0][2].append(crc)
        self._run(parts)
        if not read:
            return bytearray()
        data = parts[-1][2]
        if pec:
            self._check_pec(crc, address, data)
            return data[:-1]
        return data

    @staticmethod
    def _check_pec(crc: int, address: int, data: bytearray) -> None:
        expected = _pec(crc, address, I2C_M_RD, bytes(data[:-1]))
        if data[-1] != expected:
            raise OSError(errno.EBADMSG,
                          f"{os.strerror(errno.EBADMSG)}: PEC from 0x{address:02x} is "
                          f"0x{data[-1]:02x}, the bytes make 0x{expected:02x}")

    def _block_read(self, address: int, write: bytes) -> List[int]:
        """The write, then one read of the count byte and up to 32 bytes
        (and the PEC): the count the slave sends picks what is kept."""
        pec = bool(self._pec)
        extra = 1 if pec else 0
        parts: List[_Part] = [(address, 0, bytearray(write)),
                              (address, I2C_M_RD, bytearray(1 + I2C_SMBUS_BLOCK_MAX + extra))]
        self._run(parts)
        data = parts[1][2]
        count = data[0]
        if count > I2C_SMBUS_BLOCK_MAX:
            raise OSError(errno.EPROTO, f"{os.strerror(errno.EPROTO)}: 0x{address:02x} "
                          f"sent a block count of {count}, above {I2C_SMBUS_BLOCK_MAX}")
        if pec:
            # The PEC follows the block at once, where the slave ends it.
            data = data[:1 + count + 1]
            self._check_pec(_pec(0, address, 0, write), address, data)
        return list(data[1:1 + count])

    def write_quick(self, i2c_addr: int, force: Optional[bool] = None) -> None:
        """The address with the write bit, and STOP: an OSError when no slave
        acknowledges it."""
        address = self._set_address(i2c_addr, force)
        self._run([(address, 0, bytearray())])

    def read_byte(self, i2c_addr: int, force: Optional[bool] = None) -> int:
        address = self._set_address(i2c_addr, force)
        return self._smbus(address, b"", 1, read_only=True)[0]

    def write_byte(self, i2c_addr: int, value: int, force: Optional[bool] = None) -> None:
        value = _check_int("value", value, 0, 0xFF)
        address = self._set_address(i2c_addr, force)
        self._smbus(address, bytes([value]))

    def read_byte_data(self, i2c_addr: int, register: int, force: Optional[bool] = None) -> int:
        register = _check_int("register", register, 0, 0xFF)
        address = self._set_address(i2c_addr, force)
        return self._smbus(address, bytes([register]), 1)[0]

    def write_byte_data(self, i2c_addr: int, register: int, value: int,
                        force: Optional[bool] = None) -> None:
        register = _check_int("register", register, 0, 0xFF)
        value = _check_int("value", value, 0, 0xFF)
        address = self._set_address(i2c_addr, force)
        self._smbus(address, bytes([register, value]))

    def read_word_data(self, i2c_addr: int, register: int, force: Optional[bool] = None) -> int:
        """Two bytes from `register`, the first the low byte, as SMBus orders a word."""
        register = _check_int("register", register, 0, 0xFF)
        address = self._set_address(i2c_addr, force)
        data = self._smbus(address, bytes([register]), 2)
        return data[0] | data[1] << 8

    def write_word_data(self, i2c_addr: int, register: int, value: int,
                        force: Optional[bool] = None) -> None:
        register = _check_int("register", register, 0, 0xFF)
        value = _check_int("value", value, 0, 0xFFFF)
        address = self._set_address(i2c_addr, force)
        self._smbus(address, bytes([register, value & 0xFF, value >> 8]))

    def process_call(self, i2c_addr: int, register: int, value: int,
                     force: Optional[bool] = None) -> int:
        """A word written to `register`, a repeated START and a word read."""
        register = _check_int("register", register, 0, 0xFF)
        value = _check_int("value", value, 0, 0xFFFF)
        address = self._set_address(i2c_addr, force)
        data = self._smbus(address, bytes([register, value & 0xFF, value >> 8]), 2)
        return data[0] | data[1] << 8

    def read_block_data(self, i2c_addr: int, register: int,
                        force: Optional[bool] = None) -> List[int]:
        """The block the slave sends after its count byte (see the module's text)."""
        register = _check_int("register", register, 0, 0xFF)
        address = self._set_address(i2c_addr, force)
        return self._block_read(address, bytes([register]))

    def write_block_data(self, i2c_addr: int, register: int, data: Data,
                         force: Optional[bool] = None) -> None:
        """`register`, the count, then up to 32 bytes."""
        register = _check_int("register", register, 0, 0xFF)
        block = _block(data)
        address = self._set_address(i2c_addr, force)
        self._smbus(address, bytes([register, len(block)]) + block)

    def block_process_call(self, i2c_addr: int, register: int, data: Data,
                           force: Optional[bool] = None) -> List[int]:
        """A block written, a repeated START, and the block the slave sends back."""
        register = _check_int("register", register, 0, 0xFF)
        block = _block(data)
        address = self._set_address(i2c_addr, force)
        return self._block_read(address, bytes([register, len(block)]) + block)

    def read_i2c_block_data(self, i2c_addr: int, register: int, length: int,
                            force: Optional[bool] = None) -> List[int]:
        """`length` bytes (1 to 32) from `register`, after a repeated START."""
        register = _check_int("register", register, 0, 0xFF)
        length = _check_int("length", length, 1, I2C_SMBUS_BLOCK_MAX)
        address = self._set_address(i2c_addr, force)
        return list(self._smbus(address, bytes([register]), length, pec=False))

    def write_i2c_block_data(self, i2c_addr: int, register: int, data: Data,
                             force: Optional[bool] = None) -> None:
        """`register`, then up to 32 bytes, no count."""
        register = _check_int("register", register, 0, 0xFF)
        block = _block(data)
        address = self._set_address(i2c_addr, force)
        self._smbus(address, bytes([register]) + block, pec=False)

    def i2c_rdwr(self, *i2c_msgs: Any) -> None:
        """The messages as one transaction, a repeated START before each after
        the first. Takes any object with addr, flags, len and buf, as this
        module's i2c_msg and smbus2's: buf a ctypes pointer or array (reads
        land in it), or a buffer object (writable for a read)."""
        if self.adapter is None:
            raise OSError(errno.EBADF, f"{os.strerror(errno.EBADF)}: the bus is closed")
        messages = (_Msg * len(i2c_msgs))()
        keep = []  # the buffers made here live until the transfer is over
        for index, (message, given) in enumerate(zip(messages, i2c_msgs)):
            try:
                addr, flags, length, buf = given.addr, given.flags, given.len, given.buf
            except AttributeError:
                raise TypeError(f"message {index} ({type(given).__name__}) has no addr, flags, "
                                "len and buf, as i2c_msg has") from None
            message.addr = _check_int(f"message {index}'s addr", addr, 0, 0xFFFF)
            message.flags = _check_int(f"message {index}'s flags", flags, 0, 0xFFFF)
            message.len = _check_int(f"message {index}'s len", length, 0, 0xFFFF)
            pointer = _message_buffer(index, buf, message.len, bool(message.flags & I2C_M_RD))
            if pointer is not None:
                keep.append(pointer)
                message.buf = pointer
        self._call(messages)


def _message_buffer(index: int, buf: Any, length: int, reading: bool) -> Any:
    """A POINTER(c_uint8) to `length` bytes of `buf`, or None for no bytes."""
    if isinstance(buf, (ctypes._Pointer, ctypes.Array)):
        return ctypes.cast(buf, ctypes.POINTER(ctypes.c_uint8))
    if buf is None:
        return None
    try:
        view = memoryview(buf)
    except TypeError:
        raise TypeError(f"message {index}'s buf is {type(buf).__name__}: a ctypes pointer "
                        "or array, or a buffer object, was expected") from None
    with view:
        if view.nbytes < length:
            raise ValueError(f"message {index}'s buf holds {view.nbytes} bytes, "
                             f"its len is {length}")
        if length == 0:
            return None
        if not reading:
            return (ctypes.c_uint8 * length).from_buffer_copy(view.tobytes()[:length])
        if view.readonly:
            raise TypeError(f"message {index} reads, but its buf is read-only")
    return (ctypes.c_uint8 * length).from_buffer(buf)
