"""pytest fixtures that give a driver under test a fresh bench bus per test.

Installed with pip, the package registers this plugin and pytest loads it
by itself; from a source tree or a CMake install, name it in conftest.py:

    pytest_plugins = ["tarnwick.pytest_plugin"]

    def test_alarm_above_30(tarnwick_bench, tarnwick_bus):
        tarnwick_bench.set_temperature(0x48, 31.5)
        assert MyLm75(tarnwick_bus, 0x48).too_hot()

tarnwick_bench is the tarnwick.bench module on a bench powered up afresh
for the test from an I2C.INI of its own in the test's tmp_path (adapters
without port delays, section "Simulation" from tarnwick_bench_settings),
strict: the first protocol or timing violation raises bench.Violation.
tarnwick_bus is a tarnwick.SMBus on adapter tarnwick_adapter (2, the
Philips adapter, unless a test module or conftest.py overrides the
fixture, or parametrizes it over 1, 2 and 3). tarnwick_bench_settings is a
dict of keys for section "Simulation" (empty), to override the same way:

    @pytest.fixture
    def tarnwick_bench_settings():
        return {"Devices": "24C32@A0 LM75@90", "Timing Check": "standard"}

A pytest process whose first bus access is a bench fixture's takes bus locks
of its own (TARNWICK_SEM_PREFIX, unless it is set already) and removes them
when it ends, so processes run side by side (pytest-xdist) never wait on
each other or on a real bus's lock. The
bench, like the port layer that runs it, is the process's own; section
"Port IO" is read once per process, at its first port access.

Run as root, the library trusts no I2C.INI below a folder that others can
write, such as /tmp: give pytest a --basetemp (or TMPDIR) in a folder only
root can write.
"""
from __future__ import annotations

import ctypes
import ctypes.util
import os
import stat
from pathlib import Path
from types import ModuleType
from typing import Dict, Iterator, Optional

import pytest

import tarnwick
from tarnwick import SMBus, bench

_SEMAPHORES = ("I2CSEMA0", "I2CSEMA1", "I2CSEMA2")
_prefix_made: Optional[str] = None

# Every adapter without port delays: the Custom one wired as the Philips
# adapter is (data in bit 7 of 379, data out bit 7 of 378, clock out bit 3
# of 37A).
_ADAPTERS = """[Port IO]
Backend = sim

[I2C Card]
Nops = 0

[I2C para]
Nops = 0

[I2C para Gen]
Nops = 0
SDA IN Port = 379
SDA IN Bit = 80
SDA IN Pol = 1
SDA OUT Port = 378
SDA OUT Bit = 80
SDA OUT Pol = 1
SCL OUT Port = 37A
SCL OUT Bit = 8
SCL OUT Pol = 0

"""


def _semaphore_key(name: str) -> int:
    """The System V key the library gives a bus semaphore: FNV-1a over the
    prefixed name, top bit clear, 0 (IPC_PRIVATE) made 1."""
    value = 2166136261
    for byte in name.encode():
        value = ((value ^ byte) * 16777619) & 0xFFFFFFFF
    value &= 0x7FFFFFFF
    return value or 1


def _remove_semaphores(prefix: str) -> None:
    libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
    ipc_rmid = 0
    for name in _SEMAPHORES:
        identifier = libc.semget(_semaphore_key(prefix + name), 0, 0)
        if identifier >= 0:
            libc.semctl(identifier, 0, ipc_rmid)


def _own_bus_locks() -> None:
    """Bus locks of this process's own, from before the library loads (it
    opens them then): only a run that uses the bench gets them, so a run
    that drives a real bus keeps sharing its lock with other programs."""
    global _prefix_made
    if "TARNWICK_SEM_PREFIX" not in os.environ and tarnwick._library is None:
        _prefix_made = f"tarnwick-pytest-{os.getpid()}-"
        os.environ["TARNWICK_SEM_PREFIX"] = _prefix_made


def pytest_unconfigure(config: pytest.Config) -> None:
    if _prefix_made is not None:
        _remove_semaphores(_prefix_made)


def _others_can_write(folder: Path) -> Optional[Path]:
    """The first folder from / to `folder` that others than its owner can
    write, where root's library would refuse a configuration file."""
    for step in reversed([folder, *folder.parents]):
        if os.stat(step).st_mode & (stat.S_IWGRP | stat.S_IWOTH):
            return step
    return None


@pytest.fixture
def tarnwick_bench_settings() -> Dict[str, str]:
    """Keys for section "Simulation" of the test's I2C.INI."""
    return {}


@pytest.fixture
def tarnwick_adapter() -> int:
    """The adapter tarnwick_bus opens: 1 card, 2 Philips, 3 Custom."""
    return 2


@pytest.fixture
def tarnwick_bench(tmp_path: Path, monkeypatch: pytest.MonkeyPatch,
                   tarnwick_bench_settings: Dict[str, str]) -> Iterator[ModuleType]:
    """tarnwick.bench, on a bench powered up afresh for this test, strict."""
    if os.geteuid() == 0:
        open_folder = _others_can_write(tmp_path.resolve())
        if open_folder is not None:
            pytest.fail(f"{open_folder} is writable by others, so the library run as root "
                        "would not trust an I2C.INI below it: give pytest a --basetemp "
                        "(or TMPDIR) in a folder only root can write", pytrace=False)
    ini = tmp_path / "I2C.INI"
    keys = "".join(f"{key} = {value}\n" for key, value in tarnwick_bench_settings.items())
    ini.write_text(_ADAPTERS + "[Simulation]\n" + keys)
    monkeypatch.setenv("I2C_INI", str(ini))
    _own_bus_locks()
    bench.restart()
    bench.set_strict()
    try:
        yield bench
    finally:
        bench.set_strict(False)


@pytest.fixture
def tarnwick_bus(tarnwick_bench: ModuleType, tarnwick_adapter: int) -> Iterator[SMBus]:
    """A tarnwick.SMBus on the test's bench."""
    with SMBus(tarnwick_adapter) as bus:
        yield bus
