"""lm75_24c02.py's classes tested as their author would test them, on a
fresh bench bus per test (the fixtures of tarnwick.pytest_plugin)."""
import os

import pytest
import tarnwick

from lm75_24c02 import EEPROM24C02, LM75


@pytest.mark.parametrize("celsius", [31.5, -0.5])
def test_the_driver_reads_the_temperature_the_bench_sets(tarnwick_bench, tarnwick_bus, celsius):
    tarnwick_bench.set_temperature(0x48, celsius)
    assert LM75(tarnwick_bus).temperature() == celsius


def test_each_test_starts_on_a_fresh_bench(tarnwick_bench, tarnwick_bus):
    assert LM75(tarnwick_bus).temperature() == 25.0
    assert EEPROM24C02(tarnwick_bus).read(0x10, 2) == b"\xff\xff"


def test_a_note_lands_in_the_eeprom_image(tarnwick_bench, tarnwick_bus, tmp_path):
    EEPROM24C02(tarnwick_bus).write(0x0E, b"note")
    tarnwick_bench.save_eeprom(0x50, tmp_path / "image.txt", text=True)
    assert "00: ff ff ff ff ff ff ff ff ff ff ff ff ff ff 6e 6f    ..............no\n" \
        "10: 74 65 ff" in (tmp_path / "image.txt").read_text()


@pytest.mark.parametrize("tarnwick_adapter", [1, 3])
def test_the_card_and_the_custom_adapter_reach_the_bench_too(tarnwick_bench, tarnwick_bus):
    tarnwick_bench.set_inputs(0x20, 0x0F)
    assert tarnwick_bus.read_byte(0x20) == 0x0F


def test_the_run_takes_bus_locks_of_its_own(tarnwick_bench):
    # Started without a prefix, the plugin made one for this process.
    prefix = os.environ["TARNWICK_SEM_PREFIX"]
    assert prefix == f"tarnwick-pytest-{os.getpid()}-"
    print("bus locks", prefix)


@pytest.mark.parametrize("tarnwick_bench_settings", [{"Timing Check": "standard"}])
def test_a_driver_too_fast_for_a_standard_mode_bus_fails(tarnwick_bench, tarnwick_bus):
    speed = tarnwick.library().tarnwick_bus_speed
    speed(2, 400000)
    try:
        with pytest.raises(tarnwick_bench.Violation, match="of standard mode"):
            LM75(tarnwick_bus).temperature()
    finally:
        speed(2, 100000)
