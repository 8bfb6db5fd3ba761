"""What the Python tests of the whole program share: task files written here
line by line in the program's layout (so that no test trusts the writer it
may be checking), and the environment of a run kept inside the test's own
folder.

A test file finds this module from its own place, run by ctest or by hand:

    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                    os.pardir, "support"))
"""
import dataclasses
import datetime
import os

HEADER = ["; Quillet", "; ----------", "; Tasks and settings", "; DO NOT MODIFY THIS FILE", "",
          "[Tasks]", ""]

# The day the C++ tests pin, at noon: rules colour and announce alike.
TEST_DAY = "@2026-12-08 12:00:00"
FAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1"


@dataclasses.dataclass
class Task:
    """One task as the file holds it. due: a datetime, a date (at 0:00:00), or
    the six fields (day, month, year, hour, minute, second) as a file may hold
    them, out of range too. deleted: "Y" recycled, "N" current, or whatever
    else a file holds. note: the description, line breaks as typed."""
    title: str
    due: object
    for_whom: str = ""
    deleted: str = "N"
    note: str = ""

    def fields(self):
        if isinstance(self.due, tuple):
            return self.due
        d = self.due
        if not isinstance(d, datetime.datetime):
            d = datetime.datetime(d.year, d.month, d.day)
        return d.day, d.month, d.year, d.hour, d.minute, d.second


@dataclasses.dataclass
class Rule:
    """An alert rule: tasks due within `interval` units coloured `colour`
    (red + 256 * green + 65536 * blue), announced at start when popup."""
    interval: int
    colour: int
    popup: bool = True
    unit: str = "d"


def task_file(tasks=(), rules=()):
    """The bytes of a tasks.txt holding these tasks and rules."""
    lines = list(HEADER)
    for t in tasks:
        lines += ["ttl=" + t.title, "for=" + t.for_whom]
        lines += ["%s=%d" % kv for kv in zip(("day", "mon", "yea", "hou", "min", "sec"), t.fields())]
        lines += ["del=" + t.deleted, "des=" + t.note.replace("\n", "|~"), "act=addtask", ""]
    lines += ["[Alerts]", ""]
    for r in rules:
        lines += ["val=%d" % r.interval, "unt=" + r.unit, "clr=%d" % r.colour,
                  "alr=" + ("on" if r.popup else "off"), "act=addalert", ""]
    lines += ["", ""]
    return "\r\n".join(lines).encode("utf-8")


def program_env(folder, lang="C.UTF-8", faketime=None):
    """The environment for a run of the program: this process's, with HOME and
    every XDG base folder inside `folder`, so that nothing of the user's own
    is read or written; no display, no NO_COLOR, no fake clock handed down.
    The runtime folder is made private, as a session makes it; the program
    makes the others. faketime: a moment the program's clock starts at
    (libfaketime's "@YYYY-MM-DD hh:mm:ss"), where libfaketime is installed."""
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "NO_COLOR", "QT_QPA_PLATFORM", "QT_ACCESSIBILITY",
                 "LD_PRELOAD", "FAKETIME", "FAKETIME_DONT_FAKE_MONOTONIC"):
        env.pop(name, None)
    runtime = os.path.join(folder, "runtime")
    os.makedirs(runtime, 0o700, exist_ok=True)
    env.update(HOME=folder, XDG_RUNTIME_DIR=runtime,
               XDG_DATA_HOME=os.path.join(folder, "data"),
               XDG_CONFIG_HOME=os.path.join(folder, "config"),
               XDG_STATE_HOME=os.path.join(folder, "state"),
               XDG_CACHE_HOME=os.path.join(folder, "cache"),
               LANG=lang, LC_ALL=lang)
    if faketime and os.path.exists(FAKETIME):
        env.update(LD_PRELOAD=FAKETIME, FAKETIME=faketime, FAKETIME_DONT_FAKE_MONOTONIC="1")
        # A sanitizer build wants its runtime first; faketime only wraps the clock.
        asan = env.get("ASAN_OPTIONS", "")
        env["ASAN_OPTIONS"] = (asan + ":" if asan else "") + "verify_asan_link_order=0"
    return env
