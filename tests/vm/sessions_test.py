#!/usr/bin/env python3
"""Checks of tests/vm/sessions.py's trace comparison, and of the two
programs the guest runs, on the bench. BUILD_DIR names the build tree."""
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sessions  # noqa: E402

BUILD = os.path.abspath(os.environ.get("BUILD_DIR", "build/default"))


def parse(text):
    return [(op, int(port, 16), int(value, 16)) for op, port, value in
            (line.split() for line in text.strip().splitlines())]


def session(backend, reachable=(0x378,)):
    return sessions.Session("t", "root", backend, "sondrel", 2, 0x378, reachable=reachable)


# The Philips adapter's init on the bench: data high, then the clock high
# from the control register's value, then the adapter check.
BENCH = """W 0378 7F
R 037A 0C
W 037A 0C
R 0379 D8
R 0379 D8
W 0378 80
R 037A 0C
W 037A 04"""

DIRECT_GUEST = BENCH.replace("R 037A 0C", "R 037A CC").replace("W 037A 0C", "W 037A CC") \
    .replace("W 037A 04", "W 037A C4")


# The same with SDA on control bit 5, the data direction (a Custom wiring).
DIRECTION_BENCH = BENCH.replace("W 037A 0C", "W 037A 2C").replace(
    "R 037A 0C\nW 037A 04", "R 037A 2C\nW 037A 24")


class TraceComparison(unittest.TestCase):
    CASES = [
        # (what, backend, reachable, guest trace, problem expected)
        ("ppdev reads back the four output bits", "ppdev", (0x378,), BENCH, None),
        ("direct reads back bits 6 and 7 set", "direct", (0x378,), DIRECT_GUEST, None),
        ("a control read through direct without bits 6, 7", "direct", (0x378,),
         DIRECT_GUEST.replace("R 037A CC", "R 037A 4C", 1), "bits 6, 7 not set"),
        ("a control read through ppdev with high bits", "ppdev", (0x378,),
         BENCH.replace("R 037A 0C", "R 037A CC", 1), "bits 4, 6, 7 not clear"),
        ("ppdev keeps the direction bit that was written", "ppdev", (0x378,),
         DIRECTION_BENCH, None),
        ("ppdev loses the direction bit that was written", "ppdev", (0x378,),
         DIRECTION_BENCH.replace("R 037A 2C\nW 037A 24", "R 037A 0C\nW 037A 04"),
         "control register: expected 2C"),
        ("a control read that is not the value written", "ppdev", (0x378,),
         BENCH.replace("R 037A 0C\nW 037A 04", "R 037A 08\nW 037A 00"), "expected 0C"),
        ("another value written to the data register", "ppdev", (0x378,),
         BENCH.replace("W 0378 80", "W 0378 00"), "another value written"),
        ("a control write that keeps a bit the read did not show", "direct", (0x378,),
         DIRECT_GUEST.replace("W 037A C4", "W 037A CC"), "another value written"),
        ("another port", "ppdev", (0x378,), BENCH.replace("R 0379 D8", "R 037A 0C", 1),
         "another port or direction"),
        ("an access missing", "ppdev", (0x378,), "\n".join(BENCH.splitlines()[:-1]),
         "7 accesses in the guest, 8 on the bench"),
        ("a status that is not QEMU's", "ppdev", (0x378,),
         BENCH.replace("R 0379 D8", "R 0379 D9"), "status register: expected D8"),
        ("a refused backend reads FF everywhere", "direct", (),
         BENCH.replace("R 037A 0C", "R 037A FF"), "nothing answers"),
    ]

    def test_cases(self):
        for what, backend, reachable, guest, expected in self.CASES:
            with self.subTest(what):
                bench = DIRECTION_BENCH if "direction bit" in what else BENCH
                problems = sessions.compare_traces(session(backend, reachable), parse(guest),
                                                   parse(bench))
                if expected is None:
                    self.assertEqual(problems, [])
                else:
                    self.assertTrue(any(expected in p for p in problems), problems)

    def test_bench_answering_where_the_guest_has_nothing(self):
        problems = sessions.compare_traces(session("direct", ()), parse("W 0378 7F\nR 037A FF"),
                                           parse("W 0378 7F\nR 037A 0C"))
        self.assertTrue(any("the bench answers" in p for p in problems), problems)


class GuestPrograms(unittest.TestCase):
    def run_program(self, args, ini, folder):
        path = os.path.join(folder, "I2C.INI")
        with open(path, "w") as out:
            out.write(ini)
        env = dict(os.environ, I2C_INI=path, TARNWICK_SEM_PREFIX=f"vm-test-{os.getpid()}-")
        return subprocess.run([os.path.join(BUILD, "bin", args[0])] + args[1:], cwd=folder,
                              env=env, capture_output=True, text=True, timeout=120)

    def test_one_transaction_on_the_bench(self):
        with tempfile.TemporaryDirectory() as folder:
            cases = [  # (interface, Devices, EEPROM Write Time, what the transaction prints)
                ("2", "24C02@A0", 0, "address A0: 0\nsend 2: 2\nread 1: 1 (FF)\nstop: 0\n"),
                ("1", "24C02@A0", 0, "address A0: 0\nsend 2: 2\nread 1: 1 (FF)\nstop: 0\n"),
                ("2", "", 0, "address A0: 3\nsend 2: 0\nread 1: -1 (00)\nstop: 0\n"),
                # The Philips adapter's restart is a full STOP, which commits
                # the written byte: the part is in its write cycle at A1.
                ("2", "24C02@A0", 5000, "address A0: 0\nsend 2: 2\nread 1: -1 (00)\nstop: 0\n"),
            ]
            for interface, devices, write_time, expected in cases:
                with self.subTest(interface=interface, devices=devices, write_time=write_time):
                    done = self.run_program(["bus_transaction", interface],
                                            f"[Simulation]\nDevices = {devices}\n"
                                            f"EEPROM Write Time = {write_time}\nWall Clock = 0\n"
                                            "[I2C para]\nNops = 1\n", folder)
                    self.assertEqual(done.returncode, 0, done.stderr)
                    self.assertTrue(done.stdout.endswith(expected), done.stdout)
                    self.assertIn(f"select {interface}: 0\ninit: 0\nstart: 0\n", done.stdout)

    def test_bad_arguments(self):
        with tempfile.TemporaryDirectory() as folder:
            for args in (["bus_transaction", "4"], ["bus_transaction", "2", "2"],
                         ["port_access_time", "80"], ["port_access_time", "379", "0"],
                         ["port_access_time", "37Z"]):
                with self.subTest(args=args):
                    done = self.run_program(args, "", folder)
                    self.assertEqual(done.returncode, 2, done.stdout + done.stderr)
                    self.assertIn("usage:", done.stderr)


class I2cdevCheck(unittest.TestCase):
    """check_i2cdev on results made as the guest leaves them: all as
    expected passes; each fault fails its own line and no other."""

    def results(self, folder, fault=None):
        root = os.path.join(folder, "i2cdev")
        for number, step in enumerate(sessions.STEPS, 1):
            files = {"stdout": step.stdout, "stderr": step.stderr, "status": f"{step.status}\n"}
            self.write(sessions.step_folder(root, number, step), files)
        for d in sessions.DAEMONS:
            said = "" if d.detached else f"tarnwick-i2cdev: /dev/i2c-{d.number} on adapter 2\n"
            self.write(os.path.join(root, "daemons", d.name),
                       {"status": "0\n", "after": "gone\n", "stderr": said, "held": "open\n",
                        "at_return": d.node_mode + "\n"})
        # The Philips adapter's first accesses through direct on QEMU's port.
        self.write(os.path.join(root, "daemons", "philips-0378"), {"trace": DIRECT_GUEST})
        if fault:
            path, text = fault
            self.write(os.path.join(root, os.path.dirname(path)), {os.path.basename(path): text})
        return folder

    @staticmethod
    def write(folder, files):
        os.makedirs(folder, exist_ok=True)
        for name, text in files.items():
            with open(os.path.join(folder, name), "w") as out:
                out.write(text)

    def verdicts(self, fault=None):
        got = []
        with tempfile.TemporaryDirectory() as folder:
            sessions.check_i2cdev(self.results(folder, fault),
                                  lambda what, problems: got.append((what, problems)))
        return got

    def test_as_expected_passes(self):
        got = self.verdicts()
        self.assertEqual(len(got), len(sessions.STEPS) + len(sessions.DAEMONS) + 1)
        self.assertEqual([problems for _, problems in got if problems], [])

    def test_each_fault_fails_its_line(self):
        detect = next(n for n, s in enumerate(sessions.STEPS, 1) if s.name == "bench-i2cdetect")
        steps = f"steps/{detect:02d}-bench-i2cdetect/"
        cases = [  # (fault: file and its text, the line that fails, its problem)
            ((steps + "stdout", sessions.i2cdetect_grid({0x50})), "bench-i2cdetect", "stdout"),
            ((steps + "status", "1\n"), "bench-i2cdetect", "exit status 1"),
            ((steps + "stderr", "Error: Read failed\n"), "bench-i2cdetect", "stderr"),
            (("daemons/bench/after", "present\n"), "daemon bench", "the node after"),
            (("daemons/bench/status", "still running\n"), "daemon bench", "after SIGTERM"),
            (("daemons/bench/held", "could not open\n"), "daemon bench", "had the node open"),
            (("daemons/philips-0378/at_return", "stat: can't stat '/dev/i2c-21'\n"),
             "daemon philips-0378", "not ready"),
            (("daemons/philips-0378/trace", DIRECT_GUEST.replace("R 0379 D8", "R 0379 58")),
             "reads of QEMU's port", "status register"),
            (("daemons/philips-0378/trace", ""), "reads of QEMU's port", "no port access"),
        ]
        for fault, line, problem in cases:
            with self.subTest(fault=fault[0], line=line):
                failed = [(what, problems) for what, problems in self.verdicts(fault) if problems]
                self.assertEqual(len(failed), 1, failed)
                self.assertIn(line, failed[0][0])
                self.assertTrue(any(problem in p for p in failed[0][1]), failed[0][1])


if __name__ == "__main__":
    unittest.main()
