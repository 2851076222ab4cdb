#!/usr/bin/env python3
"""Debian's smbus2, unchanged, against tarnwick-i2cdev's /dev/i2c-BUS in
the guest of scripts/test-vm: one line per transaction, its result or the
errno name of the OSError it raised.  Usage: i2cdev_smbus2.py BUS"""
import errno
import fcntl
import os
import sys

from smbus2 import SMBus, i2c_msg
from smbus2.smbus2 import I2C_SLAVE

EEPROM, SENSOR, PORT, NOBODY = 0x50, 0x48, 0x20, 0x11
LARGEST = 8192  # bytes of one message


def text(values):
    return bytes(values).decode("ascii", "replace")


def latch(bus):
    bus.write_byte(PORT, 0xA5)
    return f"{bus.read_byte(PORT):02x}"


def page_by_rdwr(bus):
    pointer, page = i2c_msg.write(EEPROM, [0x10]), i2c_msg.read(EEPROM, 8)
    bus.i2c_rdwr(pointer, page)
    return text(list(page))


def bytes_one_by_one(count):
    """The pointer, then `count` - 1 reads of one byte each."""
    def transaction(bus):
        reads = [i2c_msg.read(EEPROM, 1) for _ in range(count - 1)]
        bus.i2c_rdwr(i2c_msg.write(EEPROM, [0x10]), *reads)
        got = [list(r)[0] for r in reads]
        return f"{text(got[:8])} and {len(got) - 8} bytes more"
    return transaction


def largest_writes(count):
    """`count` messages of the largest size to an address nobody has: the
    caller's memory crosses into the daemon before the bus refuses it."""
    def transaction(bus):
        bus.i2c_rdwr(*[i2c_msg.write(NOBODY, bytes(LARGEST)) for _ in range(count)])
        return "sent"
    return transaction


def read_and_write(bus):
    """Plain read(2) and write(2) on the node, the address set by I2C_SLAVE."""
    fd = os.open(f"/dev/i2c-{bus_number}", os.O_RDWR)
    try:
        fcntl.ioctl(fd, I2C_SLAVE, EEPROM)
        os.write(fd, bytes([0x10]))
        return text(os.read(fd, 8))
    finally:
        os.close(fd)


TRANSACTIONS = (
    ("LM75 temperature word", lambda bus: f"{bus.read_word_data(SENSOR, 0):04x}"),
    ("PCF8574 latch after A5", latch),
    ("24C02 page at 10 by I2C_RDWR", page_by_rdwr),
    ("24C02 page at 10 by I2C block read",
     lambda bus: text(bus.read_i2c_block_data(EEPROM, 0x10, 8))),
    ("24C02 at 10 by write(2) and read(2)", read_and_write),
    ("nobody at 11", lambda bus: f"{bus.read_byte(NOBODY):02x}"),
    ("I2C_RDWR of 42 messages", bytes_one_by_one(42)),
    ("I2C_RDWR of 43 messages", bytes_one_by_one(43)),
    ("I2C_RDWR of 15 x 8192 bytes", largest_writes(15)),
    ("I2C_RDWR of 16 x 8192 bytes", largest_writes(16)),
)

bus_number = int(sys.argv[1])


def main():
    with SMBus(bus_number) as bus:
        for what, transaction in TRANSACTIONS:
            try:
                result = transaction(bus)
            except OSError as error:
                result = "OSError " + errno.errorcode.get(error.errno, str(error.errno))
            print(f"{what}: {result}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
