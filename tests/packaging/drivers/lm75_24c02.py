"""Reads an LM75 temperature sensor and keeps a note in a 24C02 EEPROM and
in a 24C32 (two-byte word addresses), over Linux's i2c-dev through smbus2.

    python3 lm75_24c02.py [BUS] [NOTE]
"""
import sys
import time

from smbus2 import SMBus, i2c_msg

LM75_ADDRESS = 0x48
EEPROM_ADDRESS = 0x50
EEPROM32_ADDRESS = 0x54


class LM75:
    TEMPERATURE = 0x00
    CONFIGURATION = 0x01
    T_HYST = 0x02
    T_OS = 0x03

    def __init__(self, bus, address=LM75_ADDRESS):
        self.bus = bus
        self.address = address

    def _read_celsius(self, register):
        # The LM75 sends the high byte first; SMBus words come low byte first.
        word = self.bus.read_word_data(self.address, register)
        raw = ((word & 0xFF) << 8) | (word >> 8)
        if raw & 0x8000:
            raw -= 0x10000
        return (raw >> 7) / 2.0

    def _write_celsius(self, register, celsius):
        raw = (int(round(celsius * 2)) << 7) & 0xFFFF
        self.bus.write_word_data(self.address, register, ((raw & 0xFF) << 8) | (raw >> 8))

    def temperature(self):
        return self._read_celsius(self.TEMPERATURE)

    def set_alarm(self, over, hysteresis):
        self._write_celsius(self.T_OS, over)
        self._write_celsius(self.T_HYST, hysteresis)

    def alarm(self):
        return self._read_celsius(self.T_OS), self._read_celsius(self.T_HYST)

    def shutdown(self, off):
        config = self.bus.read_byte_data(self.address, self.CONFIGURATION)
        config = (config | 0x01) if off else (config & ~0x01)
        self.bus.write_byte_data(self.address, self.CONFIGURATION, config)


class EEPROM24C02:
    SIZE = 256
    PAGE = 8
    WRITE_TIMEOUT = 0.05  # seconds; the datasheet's tWR is 5 ms

    def __init__(self, bus, address=EEPROM_ADDRESS):
        self.bus = bus
        self.address = address

    def read(self, offset, length):
        if offset < 0 or offset + length > self.SIZE:
            raise ValueError("outside the EEPROM")
        # Set the word address, then read everything with a repeated start.
        write = i2c_msg.write(self.address, self._word_address(offset))
        read = i2c_msg.read(self.address, length)
        self.bus.i2c_rdwr(write, read)
        return bytes(read)

    def write(self, offset, data):
        if offset < 0 or offset + len(data) > self.SIZE:
            raise ValueError("outside the EEPROM")
        while data:
            room = self.PAGE - offset % self.PAGE
            chunk, data = data[:room], data[room:]
            self._write_page(offset, list(chunk))
            self._wait_for_write_cycle()
            offset += len(chunk)

    def _word_address(self, offset):
        return [offset]

    def _write_page(self, offset, chunk):
        self.bus.write_i2c_block_data(self.address, offset, chunk)

    def _wait_for_write_cycle(self):
        # The chip does not acknowledge its address until the page is written.
        deadline = time.monotonic() + self.WRITE_TIMEOUT
        while True:
            try:
                self.bus.write_quick(self.address)
                return
            except OSError:
                if time.monotonic() > deadline:
                    raise


class EEPROM24C32(EEPROM24C02):
    """The 24C32 takes a two-byte word address, high byte first."""
    SIZE = 4096
    PAGE = 32

    def __init__(self, bus, address=EEPROM32_ADDRESS):
        super().__init__(bus, address)

    def _word_address(self, offset):
        return [offset >> 8, offset & 0xFF]

    def _write_page(self, offset, chunk):
        self.bus.i2c_rdwr(i2c_msg.write(self.address, self._word_address(offset) + chunk))


def main():
    bus_number = int(sys.argv[1]) if len(sys.argv) > 1 else 1
    note = (sys.argv[2] if len(sys.argv) > 2 else "Hello from an smbus2 driver").encode()
    with SMBus(bus_number) as bus:
        sensor = LM75(bus)
        print("temperature %.1f C" % sensor.temperature())
        sensor.set_alarm(80.0, -5.5)
        print("alarm at %.1f C, clear at %.1f C" % sensor.alarm())
        sensor.shutdown(True)
        print("configuration 0x%02x" % bus.read_byte_data(LM75_ADDRESS, LM75.CONFIGURATION))
        eeprom = EEPROM24C02(bus)
        eeprom.write(0x13, note)
        print("note: %s" % eeprom.read(0x13, len(note)).decode())
        large = EEPROM24C32(bus)
        large.write(0x0100 - len(note) // 2, note)
        print("24C32 note: %s" % large.read(0x0100 - len(note) // 2, len(note)).decode())
        try:
            bus.read_byte(0x57)
        except OSError as error:
            print("nothing at 0x57 (errno %d)" % error.errno)


if __name__ == "__main__":
    main()
