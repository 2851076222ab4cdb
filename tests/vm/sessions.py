#!/usr/bin/env python3
"""The sessions that scripts/test-vm runs on a real kernel, and their check.

  sessions.py prepare STAGE        writes STAGE/sessions/NAME/ and
                                   STAGE/i2cdev/ for the guest
  sessions.py check RESULTS BUILD  runs each session again on the bench of
                                   BUILD (Backend = sim, the same status
                                   register as QEMU's parallel ports), sets
                                   the two runs side by side, checks what
                                   Debian's I2C programs printed against
                                   tarnwick-i2cdev, and prints
                                   "N passed, M failed"

The guest runs each session as its user and leaves its stdout, stderr,
exit status, elapsed time and port trace in the session's folder.
"""
import os
import re
import subprocess
import sys
import tempfile
from dataclasses import dataclass, field

# QEMU's emulated parallel port: its status register reads this fixed value
# (busy, acknowledge, select and error lines), and writes to its control
# register read back with bits 6 and 7 set. The bench's status register
# takes bits 4 to 6 from "Adapter Status" and shows SDA in bit 7 (high:
# nothing on the bus pulls it) and SCL in bit 3.
QEMU_STATUS = 0xD8
BENCH_ADAPTER_STATUS = QEMU_STATUS & 0x70
# Ports where the bench has nothing, for a part that QEMU's PC lacks or
# that a refused backend cannot reach: they read FF there as here.
BENCH_NOWHERE = 0xF000

ROOT, IN_LP, PLAIN = "root", "tw-lp", "tw-plain"

PHILIPS_CONSOLE = "select 2\nstart\naddress 160\nwrite 0,1\nread 1\nsearch\nclose\n"
CARD_CONSOLE = "start\nclose\nmode 1\nquit\n"
CUSTOM_CONSOLE = "start\naddress 160\nwrite 0,1\nread 1\nclose\n"
REFUSED_CONSOLE = "start\naddress 160\nmode 1\nquit\n"
# A Custom adapter that drives SDA with control bit 5, the bit that turns a
# bidirectional port's data lines around, and SCL with bit 3 of the same
# register: each line write reads the register back and keeps the other.
DIRECTION_BIT_WIRING = ("[I2C para Gen]\nBase = 378\nNops = 2\n"
                        "SDA OUT Port = 37A\nSDA OUT Bit = 20\nSDA OUT Pol = 0\n"
                        "SCL OUT Port = 37A\nSCL OUT Bit = 8\nSCL OUT Pol = 0\n"
                        "SDA IN Port = 379\nSDA IN Bit = 80\nSDA IN Pol = 1\n")


@dataclass
class Session:
    name: str
    user: str
    backend: str          # direct or ppdev
    command: str          # sondrel or bus_transaction
    default: int          # Default of [I2C Device]
    base: int             # Base of [I2C para]
    console_input: str = ""
    parport: str = ""     # ppdev: the device
    reachable: tuple = () # parallel-port bases the backend really reaches
    refusal: str = ""     # the one "tarnwick:" line's start, if any
    fragments: tuple = () # texts that standard output must hold
    limit: int = 120      # seconds the session may take in the guest
    extra_ini: str = ""
    held: bool = False    # another console holds the port meanwhile


def philips(name, user, backend, base, parport=""):
    reach = (base,)
    return [
        Session(name + "-transaction", user, backend, "bus_transaction 2", 2, base,
                parport=parport, reachable=reach,
                fragments=("init: 0\nstart: 0\naddress A0: 3\nsend 2: 0\nread 1: -1",)),
        Session(name + "-console", user, backend, "sondrel", 1, base, PHILIPS_CONSOLE,
                parport=parport, reachable=reach,
                fragments=("0 slaves on bus\n", "Bus closed\n")),
    ]


SESSIONS = (
    philips("direct-0378", ROOT, "direct", 0x378)
    + philips("direct-E010", ROOT, "direct", 0xE010)
    + [
        # No card at 0x300: every read gives FF, so the status shows a bus
        # error at START and each wait for a finished byte runs out.
        Session("direct-card-absent", ROOT, "direct", "sondrel", 1, 0x378, CARD_CONSOLE,
                reachable=(0x378, 0xE010), limit=60,
                fragments=("ERROR : Interface is busy.", "Hexadecimal mode\n")),
        # A Custom adapter without its section reaches port 0, which the
        # direct backend leaves alone.
        Session("direct-chipset-port", ROOT, "direct", "sondrel", 3, 0x378, CUSTOM_CONSOLE,
                reachable=(0x378, 0xE010),
                refusal="tarnwick: I/O port 0000 belongs to the PC's own chipset (ports 0000 "
                        "to 00FF), where no I2C adapter sits; the direct backend does not "
                        "touch them",
                fragments=("Bus opened\n",)),
    ]
    + [
        Session("direct-direction-bit", ROOT, "direct", "sondrel", 3, 0x378, CUSTOM_CONSOLE,
                reachable=(0x378,), extra_ini=DIRECTION_BIT_WIRING,
                fragments=("Bus opened\n", "Bus closed\n")),
        Session("ppdev-direction-bit", IN_LP, "ppdev", "sondrel", 3, 0x378, CUSTOM_CONSOLE,
                parport="/dev/parport0", reachable=(0x378,), extra_ini=DIRECTION_BIT_WIRING,
                fragments=("Bus opened\n", "Bus closed\n")),
    ]
    + philips("ppdev-parport0", IN_LP, "ppdev", 0x378, "/dev/parport0")
    + philips("ppdev-parport1", IN_LP, "ppdev", 0xE010, "/dev/parport1")
    + [
        # While another console has the port, a second one is refused it;
        # once the first has ended, a third gets it.
        Session("ppdev-port-held", IN_LP, "ppdev", "sondrel", 2, 0x378, REFUSED_CONSOLE,
                parport="/dev/parport0", held=True,
                refusal="tarnwick: cannot claim parallel port /dev/parport0 for this process "
                        "alone (No such device or address); another program or a kernel "
                        "driver (such as lp) has it",
                fragments=("Hexadecimal mode\n",)),
        Session("refused-direct", PLAIN, "direct", "sondrel", 2, 0x378, REFUSED_CONSOLE,
                refusal="tarnwick: cannot reach I/O port 0378 directly (ioperm: Operation "
                        "not permitted); run as root (or with CAP_SYS_RAWIO) on an x86 PC",
                fragments=("Hexadecimal mode\n",)),
        Session("refused-ppdev", PLAIN, "ppdev", "sondrel", 2, 0x378, REFUSED_CONSOLE,
                parport="/dev/parport0",
                refusal="tarnwick: cannot open parallel port /dev/parport0 (Permission "
                        "denied); check key Parport in section \"Port IO\"",
                fragments=("Hexadecimal mode\n",)),
    ]
)


def device_ini(s):
    """The sections the guest and the bench share: adapters and timing."""
    return (f"[I2C Device]\nDefault = {s.default}\n"
            "[I2C Card]\nNops = 0\n"
            f"[I2C para]\nBase = {s.base:X}\nNops = 2\n" + s.extra_ini)


def guest_ini(s, folder):
    text = device_ini(s) + f"[Port IO]\nBackend = {s.backend}\nTrace = {folder}/trace\n"
    if s.backend == "ppdev":
        text += f"Parport = {s.parport}\nParport Base = {s.base:X}\n"
    return text


def bench_ini(s, trace):
    # The bench's parallel port answers where the guest's backend really
    # reaches one; its card sits where QEMU's PC has none.
    parport = s.reachable[0] if s.reachable else BENCH_NOWHERE
    return (device_ini(s) + f"[Port IO]\nBackend = sim\nTrace = {trace}\n"
            "[Simulation]\nDevices =\n"
            f"Adapter Status = {BENCH_ADAPTER_STATUS:X}\n"
            f"Card Base = {BENCH_NOWHERE + 0x100:X}\nParport Base = {parport:X}\n")


# The console that holds the port waits on a FIFO, so that it keeps the
# port however slowly the guest runs, until the session's console is done.
HOLD_SCRIPT = """cd "$1"
printf '[I2C Device]\\nDefault = 2\\n[Port IO]\\nBackend = ppdev\\nParport = %s\\n' "$2" >holder.ini
mkfifo hold
I2C_INI=$PWD/holder.ini /opt/tarnwick/bin/sondrel <hold >holder.out 2>holder.err &
exec 3>hold
until grep -q ppdev "/proc/sys/dev/parport/${2##*/}/devices/active"; do usleep 100000; done
/opt/tarnwick/bin/sondrel <input
status=$?
echo quit >&3
exec 3>&-
wait
I2C_INI=$PWD/holder.ini /opt/tarnwick/bin/sondrel </dev/null >after.out 2>after.err
exit $status
"""


def prepare(stage):
    root = os.path.join(stage, "sessions")
    for number, s in enumerate(SESSIONS, 1):
        folder_name = f"{number:02d}-{s.name}"
        folder = os.path.join(root, folder_name)
        os.makedirs(folder)
        guest_folder = "/sessions/" + folder_name
        files = {"I2C.INI": guest_ini(s, guest_folder), "input": s.console_input,
                 "user": s.user + "\n", "command": "/opt/tarnwick/bin/" + s.command + "\n",
                 "limit": f"{s.limit}\n"}
        if s.held:
            files["hold.sh"] = HOLD_SCRIPT
            files["command"] = f"/bin/sh {guest_folder}/hold.sh {guest_folder} {s.parport}\n"
        for name, text in files.items():
            with open(os.path.join(folder, name), "w") as out:
                out.write(text)


# ---- comparison -----------------------------------------------------------

ACCESS = re.compile(r"^([RW]) ([0-9A-F]{4}) ([0-9A-F]{2})$")


def accesses(path):
    found = []
    if not os.path.exists(path):
        return found
    with open(path) as trace:
        for line in trace:
            m = ACCESS.match(line.rstrip("\n"))
            if m:
                found.append((m.group(1), int(m.group(2), 16), int(m.group(3), 16)))
    return found


class PortModel:
    """What QEMU's parallel ports give back through one backend."""

    def __init__(self, s):
        self.s = s
        self.last_written = {}

    def register(self, port):
        """(base, register) when the backend reaches a parallel port there."""
        for base in self.s.reachable:
            if 0 <= port - base <= 2:
                return base, port - base
        return None, None

    def write(self, port, value):
        self.last_written[port] = value

    def check_read(self, port, value):
        """None when `value` is what the port gives, else why not."""
        base, reg = self.register(port)
        if base is None:
            return None if value == 0xFF else "nothing answers there: expected FF"
        if reg == 1:
            return None if value == QEMU_STATUS else f"status register: expected {QEMU_STATUS:02X}"
        written = self.last_written.get(port)
        if reg == 0:
            if written is None or value == written:
                return None
            return f"data register: expected {written:02X}, the value last written"
        # Control register. QEMU keeps bits 6 and 7 set; the kernel's
        # parport_pc driver answers ppdev from its copy of the four output
        # bits (strobe, auto feed, init, select), and the backend adds bit 5,
        # the data direction, which it sets itself.
        if self.s.backend == "direct":
            if written is None:
                return None if value & 0xC0 == 0xC0 else "control register: bits 6, 7 not set"
            expected = written | 0xC0
        else:
            if written is None:
                return None if value & 0xD0 == 0 else "control register: bits 4, 6, 7 not clear"
            expected = written & 0x2F
        return None if value == expected else f"control register: expected {expected:02X}"


def compare_traces(s, guest, bench):
    """Problems found setting the guest's trace beside the bench's."""
    problems = []
    if len(guest) != len(bench):
        problems.append(f"{len(guest)} accesses in the guest, {len(bench)} on the bench")
    model = PortModel(s)
    guest_read, bench_read = {}, {}
    for index, (g, b) in enumerate(zip(guest, bench)):
        (gop, gport, gvalue), (bop, bport, bvalue) = g, b
        where = f"access {index + 1}: guest {gop} {gport:04X} {gvalue:02X}, bench {bop} {bport:04X} {bvalue:02X}"
        if gop != bop or gport != bport:
            problems.append(where + ": another port or direction")
            break
        if gop == "W":
            # An adapter writes back what it read with its own bits
            # changed, so the values may differ only where the reads did.
            read_difference = guest_read.get(gport, 0) ^ bench_read.get(gport, 0)
            if gvalue ^ bvalue != read_difference:
                problems.append(where + ": another value written")
            model.write(gport, gvalue)
        else:
            guest_read[gport], bench_read[gport] = gvalue, bvalue
            why = model.check_read(gport, gvalue)
            if why:
                problems.append(where + ": " + why)
            base, reg = model.register(gport)
            if base is None and bvalue != 0xFF:
                problems.append(where + ": the bench answers where the guest has nothing")
            if reg == 1 and (gvalue ^ bvalue) & 0xF0:
                problems.append(where + ": SDA or the adapter sense differ")
        if len(problems) >= 5:
            break
    return problems


def run_on_bench(s, build, folder):
    trace = os.path.join(folder, "trace")
    ini = os.path.join(folder, "I2C.INI")
    with open(ini, "w") as out:
        out.write(bench_ini(s, trace))
    program = os.path.join(build, "bin", s.command.split()[0])
    env = dict(os.environ, I2C_INI=ini)
    # Bus locks of its own: the bench run neither waits for nor blocks a
    # real user of the bus or a test running beside it.
    env["TARNWICK_SEM_PREFIX"] = f"test-vm-{os.getpid()}-"
    done = subprocess.run([program] + s.command.split()[1:], input=s.console_input.encode(),
                          capture_output=True, cwd=folder, env=env, timeout=300)
    return done.stdout.decode(errors="replace"), done.stderr.decode(errors="replace"), trace


def nops_for(read_ns, clock_hz):
    """Nops that gives the Philips adapter about `clock_hz` on its clock
    line: each bit takes 7 port accesses and 3 delays of Nops reads."""
    return max(0, round((1e9 / clock_hz / read_ns - 7) / 3))


def read(path):
    try:
        with open(path, errors="replace") as f:
            return f.read()
    except OSError:
        return ""


def split_stderr(text):
    lines = text.splitlines()
    return [l for l in lines if l.startswith("tarnwick:")], [l for l in lines if not l.startswith("tarnwick:")]


def check(results, build):
    passed, failed = [], []

    def verdict(what, problems):
        (failed if problems else passed).append(what)
        print(("FAIL " if problems else "ok   ") + what)
        for problem in problems:
            print("       " + problem)

    root = os.path.join(results, "sessions")
    build = os.path.abspath(build)
    with tempfile.TemporaryDirectory(prefix="tarnwick-vm-bench-") as scratch:
        for number, s in enumerate(SESSIONS, 1):
            folder = os.path.join(root, f"{number:02d}-{s.name}")
            label = f"{s.name} ({s.backend} as {s.user})"
            if not os.path.isdir(folder):
                verdict(label + ": ran in the guest", ["no results came back"])
                continue
            status = read(os.path.join(folder, "status")).strip()
            elapsed = read(os.path.join(folder, "elapsed")).strip()
            out, err = read(os.path.join(folder, "stdout")), read(os.path.join(folder, "stderr"))
            verdict(f"{label}: ended with status 0 in {elapsed} s (limit {s.limit} s)",
                    [] if status == "0" else [f"exit status {status}", *err.splitlines()[:5]])

            bench_folder = os.path.join(scratch, s.name)
            os.makedirs(bench_folder)
            try:
                bench_out, bench_err, bench_trace = run_on_bench(s, build, bench_folder)
            except (OSError, subprocess.SubprocessError) as error:
                verdict(f"{label}: ran on the bench", [str(error)])
                continue

            problems = [f"missing: {f!r}" for f in s.fragments if f not in out]
            if out != bench_out:
                problems.append("standard output differs from the bench's:")
                problems += ["  guest: " + l for l in out.splitlines()[-6:]]
                problems += ["  bench: " + l for l in bench_out.splitlines()[-6:]]
            verdict(f"{label}: standard output as on the bench ({len(out.splitlines())} lines)",
                    problems)

            said, boxes = split_stderr(err)
            bench_said, bench_boxes = split_stderr(bench_err)
            problems = []
            if s.refusal:
                if len(said) != 1 or not said[0].startswith(s.refusal):
                    problems.append(f"expected one line starting {s.refusal!r}")
                    problems += ["  got: " + l for l in said]
            elif said:
                problems += ["unexpected: " + l for l in said]
            if bench_said:
                problems += ["the bench said: " + l for l in bench_said]
            if boxes != bench_boxes:
                problems.append(f"message boxes {boxes} differ from the bench's {bench_boxes}")
            what = "one line: " + s.refusal[10:50] + "..." if s.refusal else "nothing but the bench's message boxes"
            verdict(f"{label}: standard error says {what}", problems)

            if s.held:
                problems = []
                for run in ("holder", "after"):
                    said_there = split_stderr(read(os.path.join(folder, run + ".err")))[0]
                    problems += [f"{run}: {line}" for line in said_there]
                    if "Sondrel" not in read(os.path.join(folder, run + ".out")):
                        problems.append(f"{run}: the console did not start")
                verdict(f"{label}: the console before it and the one after it had the port",
                        problems)

            guest = accesses(os.path.join(folder, "trace"))
            bench = accesses(bench_trace)
            problems = compare_traces(s, guest, bench)
            if not guest:
                problems.append("no port access traced")
            verdict(f"{label}: port trace as on the bench ({len(guest)} accesses)", problems)

    timing = read(os.path.join(root, "timing", "stdout"))
    medians = re.findall(r"^port ([0-9A-F]{4}): median (\d+) ns per read", timing, re.M)
    for port, ns in medians:
        print(f"     one read of port {port} in the guest: {ns} ns; the Philips adapter there "
              f"wants Nops = {nops_for(int(ns), 100e3):X} for about 100 kHz, "
              f"{nops_for(int(ns), 10e3):X} for about 10 kHz")
    verdict("the guest measured one real port access", [] if len(medians) == 2 else [timing.strip() or "no figures"])
    check_i2cdev(results, verdict)

    print(f"{len(passed)} passed, {len(failed)} failed")
    return 0 if not failed else 1


# ---- tarnwick-i2cdev: Debian's I2C programs against /dev/i2c-N -------------
# The guest loads the kernel's CUSE, starts the daemon on the bench and on
# the Philips adapter at QEMU's port 0378 (where no slave answers: every
# address is refused there, as on a bare adapter), runs each step as its
# user as the sessions above, then ends both daemons with SIGTERM.

BENCH_BUS, PORT_BUS = 20, 21
IN_I2C = "tw-i2c"
I2C_TOOLS = "/usr/sbin/"   # Debian's, not busybox's applets of the same names
# The bench's parts: the default four and an accelerometer, so that a
# daemon that missed its I2C.INI (and made the default bench) shows.
BENCH_PARTS = {0x50: "24C02@A0", 0x48: "LM75@90", 0x20: "PCF8574@40", 0x68: "DS1307@D0",
               0x1D: "MMA8452Q@3A"}
PAGE = b"Tarnwick"          # written to the 24C02 at 10, one page of 8


@dataclass
class Daemon:
    name: str
    number: int
    options: str    # beyond -f -n NUMBER
    ini: str
    node_mode: str  # stat -c '%a %U %G' of the node once it is set up
    detached: bool = False  # without -f: it goes to the background itself


DAEMONS = (
    Daemon("bench", BENCH_BUS, "-i 2 -m 0660 -g i2c",
           "[I2C Device]\nDefault = 2\n[Port IO]\nBackend = sim\n"
           f"[Simulation]\nDevices = {' '.join(BENCH_PARTS.values())}\n", "660 root i2c"),
    Daemon("philips-0378", PORT_BUS, "-i 2",
           "[I2C Device]\nDefault = 2\n[I2C para]\nBase = 378\nNops = 2\n"
           "[Port IO]\nBackend = direct\nTrace = /i2cdev/daemons/philips-0378/trace\n",
           "600 root root", detached=True),
)


def i2cdetect_grid(present, first=0x08, last=0x77):
    """i2cdetect -y's table: the addresses that answered, -- elsewhere."""
    lines = ["     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f"]
    for row in range(0, 0x80, 16):
        cells = ["  " if not first <= a <= last else f"{a:02x}" if a in present else "--"
                 for a in range(row, row + 16)]
        lines.append(f"{row:02x}: " + "".join(cell + " " for cell in cells))
    return "\n".join(lines) + "\n"


# i2cdetect -F's rows, and what the daemon's I2C_FUNCS gives: every SMBus
# transaction that plain messages make, not those whose length the slave
# gives.
FUNCTIONALITY = (("I2C", True), ("SMBus Quick Command", True), ("SMBus Send Byte", True),
                 ("SMBus Receive Byte", True), ("SMBus Write Byte", True),
                 ("SMBus Read Byte", True), ("SMBus Write Word", True), ("SMBus Read Word", True),
                 ("SMBus Process Call", True), ("SMBus Block Write", True),
                 ("SMBus Block Read", False), ("SMBus Block Process Call", False),
                 ("SMBus PEC", True), ("I2C Block Write", True), ("I2C Block Read", True))


def functionality_table(number):
    return (f"Functionalities implemented by /dev/i2c-{number}:\n"
            + "".join(f"{name:<32} {'yes' if has else 'no'}\n" for name, has in FUNCTIONALITY))


def i2cdump_table(memory):
    """i2cdump -y BUS ADDRESS b's table of 256 bytes."""
    def shown(b):
        return "." if b in (0x00, 0xFF) else "?" if b < 32 or b >= 127 else chr(b)
    lines = ["     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef"]
    for row in range(0, 256, 16):
        chunk = memory[row:row + 16]
        lines.append(f"{row:02x}: " + "".join(f"{b:02x} " for b in chunk) + "   "
                     + "".join(shown(b) for b in chunk))
    return "\n".join(lines) + "\n"


# tests/vm/i2cdev_smbus2.py's lines: each transaction's result on the bench
# and on the bare port. One I2C_RDWR moves at most 128 KiB of the caller's
# memory each way through CUSE (32 pages, the kernel's bound for a CUSE
# ioctl, with the header and the message table): 16 messages of 8192
# bytes are refused by the kernel before the daemon sees them.
SMBUS2 = (
    ("LM75 temperature word", "0019", "OSError ENXIO"),
    ("PCF8574 latch after A5", "a5", "OSError ENXIO"),
    ("24C02 page at 10 by I2C_RDWR", PAGE.decode(), "OSError ENXIO"),
    ("24C02 page at 10 by I2C block read", PAGE.decode(), "OSError ENXIO"),
    ("24C02 at 10 by write(2) and read(2)", PAGE.decode(), "OSError ENXIO"),
    ("nobody at 11", "OSError ENXIO", "OSError ENXIO"),
    ("I2C_RDWR of 42 messages", PAGE.decode() + " and 33 bytes more", "OSError ENXIO"),
    ("I2C_RDWR of 43 messages", "OSError EINVAL", "OSError EINVAL"),
    ("I2C_RDWR of 15 x 8192 bytes", "OSError ENXIO", "OSError ENXIO"),
    ("I2C_RDWR of 16 x 8192 bytes", "OSError ENOMEM", "OSError ENOMEM"),
)


def smbus2_lines(column):
    return "".join(f"{row[0]}: {row[column]}\n" for row in SMBUS2)


@dataclass
class Step:
    name: str
    user: str
    command: str
    stdout: str = ""
    stderr: str = ""
    status: int = 0
    before_cuse: bool = False  # run before the kernel's CUSE module is loaded


def step_folder(root, number, step):
    return os.path.join(root, "before-cuse" if step.before_cuse else "steps",
                        f"{number:02d}-{step.name}")


EEPROM_AFTER = bytes(0x10 * [0xFF]) + PAGE + bytes((256 - 0x10 - len(PAGE)) * [0xFF])
REFUSED_ADDRESS = "No such device or address"   # ENXIO: no acknowledge

I2CDEV = "/opt/tarnwick/bin/tarnwick-i2cdev"

STEPS = (
    Step("no-cuse", ROOT, f"{I2CDEV} -n 30", status=1, before_cuse=True,
         stderr="tarnwick-i2cdev: /dev/cuse is missing: load the kernel's CUSE module "
                "(modprobe cuse)\n"),
    Step("cuse-refused", PLAIN, f"{I2CDEV} -n 30", status=1,
         stderr="tarnwick-i2cdev: no rights to open /dev/cuse: run as root\n"),
    Step("nodes", ROOT, f"stat -c '%a %U %G' /dev/i2c-{BENCH_BUS} /dev/i2c-{PORT_BUS}",
         "".join(d.node_mode + "\n" for d in DAEMONS)),
    Step("bench-functionality", IN_I2C, f"{I2C_TOOLS}i2cdetect -F {BENCH_BUS}",
         functionality_table(BENCH_BUS)),
    Step("bench-i2cdetect", IN_I2C, f"{I2C_TOOLS}i2cdetect -y {BENCH_BUS}",
         i2cdetect_grid(BENCH_PARTS)),
    # LM75: 25.0 degC, the word's bytes swapped by SMBus's low-byte-first order.
    Step("bench-lm75-i2cget", IN_I2C, f"{I2C_TOOLS}i2cget -y {BENCH_BUS} 0x48 0x00 w", "0x0019\n"),
    Step("bench-pcf8574-i2cset", IN_I2C, f"{I2C_TOOLS}i2cset -y {BENCH_BUS} 0x20 0x5a"),
    Step("bench-pcf8574-i2cget", IN_I2C, f"{I2C_TOOLS}i2cget -y {BENCH_BUS} 0x20", "0x5a\n"),
    Step("bench-24c02-i2ctransfer", IN_I2C,
         f"{I2C_TOOLS}i2ctransfer -y {BENCH_BUS} w{1 + len(PAGE)}@0x50 0x10 "
         + " ".join(f"0x{b:02x}" for b in PAGE)),
    Step("bench-24c02-i2cdump", IN_I2C, f"{I2C_TOOLS}i2cdump -y {BENCH_BUS} 0x50 b",
         i2cdump_table(EEPROM_AFTER)),
    Step("bench-24c02-i2ctransfer-read", IN_I2C,
         f"{I2C_TOOLS}i2ctransfer -y {BENCH_BUS} w1@0x50 0x10 r{len(PAGE)}",
         " ".join(f"0x{b:02x}" for b in PAGE) + "\n"),
    Step("bench-smbus2", IN_I2C, f"/usr/bin/python3 /i2cdev/smbus2_check.py {BENCH_BUS}",
         smbus2_lines(1)),
    Step("bench-refused", PLAIN, f"{I2C_TOOLS}i2cdetect -y {BENCH_BUS}",
         stderr=f"Error: Could not open file `/dev/i2c-{BENCH_BUS}': Permission denied\n"
                "Run as root?\n", status=1),
    Step("bench-number-taken", ROOT, f"{I2CDEV} -n {BENCH_BUS}",
         stderr=f"tarnwick-i2cdev: /dev/i2c-{BENCH_BUS} exists already\n", status=1),
    Step("port-i2cdetect", ROOT, f"{I2C_TOOLS}i2cdetect -y {PORT_BUS}", i2cdetect_grid(())),
    Step("port-i2cget", ROOT, f"{I2C_TOOLS}i2cget -y {PORT_BUS} 0x48 0x00 w",
         stderr="Error: Read failed\n", status=2),
    Step("port-i2ctransfer", ROOT, f"{I2C_TOOLS}i2ctransfer -y {PORT_BUS} w1@0x50 0x00 r1",
         stderr=f"Error: Sending messages failed: {REFUSED_ADDRESS}\n", status=1),
    Step("port-smbus2", ROOT, f"/usr/bin/python3 /i2cdev/smbus2_check.py {PORT_BUS}",
         smbus2_lines(2)),
)


def prepare_i2cdev(stage):
    """Writes STAGE/i2cdev/: the daemons' folders, the steps' folders (as
    the sessions' ones, for the same loop) and the smbus2 script."""
    root = os.path.join(stage, "i2cdev")
    for d in DAEMONS:
        folder = os.path.join(root, "daemons", d.name)
        os.makedirs(folder)
        files = {"I2C.INI": d.ini,
                 "options": ("" if d.detached else "-f ") + f"-n {d.number} {d.options}\n",
                 "node": f"/dev/i2c-{d.number}\n", "node_mode": d.node_mode + "\n"}
        if d.detached:
            files["detached"] = ""
        for name, text in files.items():
            with open(os.path.join(folder, name), "w") as out:
                out.write(text)
    for number, step in enumerate(STEPS, 1):
        folder = step_folder(root, number, step)
        os.makedirs(folder)
        files = {"I2C.INI": "", "input": "", "user": step.user + "\n",
                 "command": step.command + "\n", "limit": "120\n"}
        for name, text in files.items():
            with open(os.path.join(folder, name), "w") as out:
                out.write(text)
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "i2cdev_smbus2.py")) as script, \
            open(os.path.join(root, "smbus2_check.py"), "w") as out:
        out.write(script.read())


def check_i2cdev(results, verdict):
    root = os.path.join(results, "i2cdev")
    for number, step in enumerate(STEPS, 1):
        folder = step_folder(root, number, step)
        label = f"i2cdev {step.name} (as {step.user}): {step.command}"
        if not os.path.isdir(folder):
            verdict(label, ["no results came back"])
            continue
        problems = []
        status = read(os.path.join(folder, "status")).strip()
        if status != str(step.status):
            problems.append(f"exit status {status}, expected {step.status}")
        for stream, expected in (("stdout", step.stdout), ("stderr", step.stderr)):
            got = read(os.path.join(folder, stream))
            if got != expected:
                problems.append(f"{stream} differs:")
                problems += ["  got:      " + line for line in got.splitlines()[:20]]
                problems += ["  expected: " + line for line in expected.splitlines()[:20]]
        verdict(label, problems)
    for d in DAEMONS:
        folder = os.path.join(root, "daemons", d.name)
        label = f"i2cdev daemon {d.name} (/dev/i2c-{d.number})"
        problems = []
        # A detached daemon's status is its launch's, once it has ended.
        status = read(os.path.join(folder, "status")).strip()
        if status != "0":
            problems.append(f"exit status after SIGTERM: {status or 'none'}")
        after = read(os.path.join(folder, "after")).strip()
        if after != "gone":
            problems.append(f"the node after the daemon ended: {after or 'not looked at'}")
        said = read(os.path.join(folder, "stderr"))
        if said != ("" if d.detached else f"tarnwick-i2cdev: /dev/i2c-{d.number} on adapter 2\n"):
            problems += ["standard error: " + line for line in said.splitlines()[:5]]
        if d.detached and read(os.path.join(folder, "at_return")).strip() != d.node_mode:
            problems.append("when the launch returned, the node was not ready: "
                            + (read(os.path.join(folder, "at_return")).strip() or "not looked at"))
        held = "" if d.detached else " while a program had it open"
        if held and read(os.path.join(folder, "held")).strip() != "open":
            problems.append("no program had the node open at SIGTERM")
        ready = ", its node ready when the launch returned" if d.detached else ""
        verdict(label + f"{ready}: ended on SIGTERM{held} with status 0, its node gone, "
                "standard error as expected", problems)
    # The daemon on QEMU's port: the real reads, as that port gives them.
    port = Session("i2cdev", ROOT, "direct", "tarnwick-i2cdev", 2, 0x378, reachable=(0x378,))
    trace = accesses(os.path.join(root, "daemons", "philips-0378", "trace"))
    model, problems = PortModel(port), []
    for op, where, value in trace:
        if op == "W":
            model.write(where, value)
        elif (why := model.check_read(where, value)):
            problems.append(f"R {where:04X} {value:02X}: {why}")
            if len(problems) >= 5:
                break
    if not trace:
        problems.append("no port access traced")
    verdict(f"i2cdev daemon philips-0378: reads of QEMU's port as it gives them "
            f"({len(trace)} accesses)", problems)


def main(argv):
    if len(argv) == 3 and argv[1] == "prepare":
        prepare(argv[2])
        prepare_i2cdev(argv[2])
        return 0
    if len(argv) == 4 and argv[1] == "check":
        return check(argv[2], argv[3])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
