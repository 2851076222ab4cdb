#!/usr/bin/env python3
"""The sessions that scripts/test-vm runs on a real kernel, and their check.

  sessions.py prepare STAGE        writes STAGE/sessions/NAME/ for the guest
  sessions.py check RESULTS BUILD  runs each session again on the bench of
                                   BUILD (Backend = sim, the same status
                                   register as QEMU's parallel ports), sets
                                   the two runs side by side and prints
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

    print(f"{len(passed)} passed, {len(failed)} failed")
    return 0 if not failed else 1


def main(argv):
    if len(argv) == 3 and argv[1] == "prepare":
        prepare(argv[2])
        return 0
    if len(argv) == 4 and argv[1] == "check":
        return check(argv[2], argv[3])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
