#!/usr/bin/env python3
"""A sync killed at random points (before a chosen request reaches the
server, or after a chosen time, the local save included) and the next sync
converging: no duplicate, no conflict, no edit lost, then nothing to do.
QUILLET_KILL_RUNS runs per server (25: 50 over both), QUILLET_KILL_SEED
repeats a run."""
import datetime
import os
import random
import signal
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import synctest as st  # noqa: E402
from synctest import Fault, Task  # noqa: E402

RUNS = int(os.environ.get("QUILLET_KILL_RUNS", "25"))
SEED = int(os.environ.get("QUILLET_KILL_SEED", str(int(time.time()))))


def tasks(count):
    start = datetime.datetime(2027, 1, 1, 8, 0)
    return [Task("Task %02d" % i, start + datetime.timedelta(hours=i)) for i in range(count)]


class Killed(st.SyncCase):
    def kill(self, process):
        if process.poll() is None:
            os.killpg(process.pid, signal.SIGKILL)

    def test_a_killed_sync_converges_on_the_next(self):
        rng = random.Random(SEED)
        print("QUILLET_KILL_SEED=%d" % SEED, file=sys.stderr)
        killed = 0
        for run in range(RUNS):
            with self.subTest(run=run):
                self.setUp()
                self.phone.put_many([("phone-%d" % i, "Phone %d" % i, ["DUE:2027020%dT100000Z" % (
                    i + 1)]) for i in range(4)])
                self.a.write(tasks(12))
                self.link(self.a, self.b)
                expected = {"Task %02d" % i for i in range(12)} | {"Phone %d" % i for i in range(4)}
                later = run % 2 == 1
                if later:
                    # A later sync: edits on both sides since the last one.
                    self.a.sync()
                    self.b.sync()
                    self.a.edit("Task 03", title="Task 03 edited")
                    self.a.edit("Task 04", note="a note")
                    self.a.add("Added here")
                    self.phone.edit(self.phone.find("Task 05"), ["SUMMARY:Task 05 phoned"])
                    self.phone.put("phone-new", "Phone new", ["DUE:20270301T100000Z"])
                    expected = (expected - {"Task 03", "Task 05"}) | {
                        "Task 03 edited", "Task 05 phoned", "Added here", "Phone new"}
                process = self.a.popen("--sync")
                if rng.random() < 0.6:
                    # Before the k-th request is forwarded.
                    self.proxy.inject(Fault("before", after=rng.randint(0, 20),
                                            action=lambda request, p=process: self.kill(p)))
                    process.wait(timeout=st.SYNC_TIMEOUT)
                else:
                    # At a moment within a sync's usual time, the local save included.
                    try:
                        process.wait(timeout=rng.uniform(0.0, 1.5))
                    except st.subprocess.TimeoutExpired:
                        self.kill(process)
                        process.wait()
                process.stdout.close()
                process.stderr.close()
                killed += process.returncode == -signal.SIGKILL
                self.proxy.clear()
                # The list the kill left is whole, and the next sync mends the rest.
                self.a.listed()
                self.a.sync()
                self.b.sync()
                self.a.sync()
                self.assertEqual(set(self.a.tasks()), expected)
                self.assert_agree(self.a, self.b)
                for side in (self.a, self.b):
                    self.assertFalse([t for t in side.tasks().values() if st.conflicts(t["note"])])
                self.assert_quiet(self.a, self.b)
        print("%d of %d syncs killed before they ended" % (killed, RUNS), file=sys.stderr)


class OnRadicale(Killed, unittest.TestCase):
    SERVER = st.Radicale


class OnXandikos(Killed, unittest.TestCase):
    SERVER = st.Xandikos


def load_tests(loader, tests, pattern):
    return st.parts(loader, {"radicale": OnRadicale, "xandikos": OnXandikos})


if __name__ == "__main__":
    st.main()
