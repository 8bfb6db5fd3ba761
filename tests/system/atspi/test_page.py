#!/usr/bin/python3
"""The start-up window as a screen reader reads it: through AT-SPI, the
accessibility bus Orca uses, under Xvfb.

    run-atspi-test test_page.py [quillet binary]

The program is the argument, else $QUILLET_BINARY.

Checks that the window is named by its title, that every announced task is
an element of its own named with its title, for whom, due text and days
left (in due order, nothing else listed), that the focus starts on
something named, and that Down moves it to the next task and says so.
Exits 77 (skipped) when Xvfb, xdotool or pyatspi is missing.
"""
import datetime
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir,
                                "support"))
import quillettest  # noqa: E402

SKIP = 77

try:
    import pyatspi
    from gi.repository import GLib
except ImportError:
    print("pyatspi is not installed (python3-pyatspi): skipped")
    sys.exit(SKIP)

MONTHS = ["January", "February", "March", "April", "May", "June", "July",
          "August", "September", "October", "November", "December"]


def due_text(day, hour, minute, second):
    """The due text as the page writes it under US English."""
    h12 = hour % 12 or 12
    return "%s %02d/%02d at %d:%02d:%02d %s" % (
        MONTHS[day.month - 1], day.day, day.year % 100, h12, minute, second,
        "AM" if hour < 12 else "PM")


def plain(markup):
    return re.sub(r"<[^>]*>", "", markup).replace("&amp;", "&").strip()


class Task:
    def __init__(self, title, for_whom, days, hour=9, minute=5, deleted="N"):
        self.title, self.for_whom, self.days = title, for_whom, days
        self.hour, self.minute, self.deleted = hour, minute, deleted
        self.due = datetime.date.today() + datetime.timedelta(days=days)

    def written(self):
        return quillettest.Task(self.title, datetime.datetime.combine(
            self.due, datetime.time(self.hour, self.minute)), self.for_whom, self.deleted,
            "Notes for " + self.title + "\nsecond line")

    def expected_name(self):
        name = plain(self.title)
        if self.for_whom.strip():
            name += ", for " + plain(self.for_whom)
        name += ", due " + due_text(self.due, self.hour, self.minute, 0)
        if self.days > 0:
            left = "%d days left" % self.days
        else:
            left = "Today!" if self.days == 0 else "Late!"
        return name + ", " + left


# Announced: due within 30 days or overdue, current. The rest is not.
TASKS = [Task("Task %02d due in %d days" % (i, (i * 7) % 45 - 10), ["Me", "Anna", ""][i % 3],
              (i * 7) % 45 - 10, hour=(8 + i) % 24, minute=(i * 13) % 60)
         for i in range(40)]
TASKS += [Task("Send the <i>report</i>", "Office", 3),
          Task("Fish & chips", "Sam", 0),
          Task("Recycled, not shown", "Me", 1, deleted="Y")]
RULE_INTERVAL = 30


def task_file():
    return quillettest.task_file([t.written() for t in TASKS],
                                 [quillettest.Rule(RULE_INTERVAL, 255)])


def announced():
    shown = [t for t in TASKS if t.deleted != "Y" and t.days <= RULE_INTERVAL]
    # In due order; the file order breaks ties, as the stable sort does.
    return [t.expected_name() for t in sorted(shown, key=lambda t: (t.due, t.hour, t.minute))]


def pump():
    """Lets pyatspi deliver the events that have come."""
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)


def wait_for(condition, seconds, what):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        pump()
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


def find_window(title):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is None:
            continue
        for j in range(app.childCount):
            window = app.getChildAtIndex(j)
            if window is not None and window.name == title:
                return window
    return None


def descendants(node):
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is None:
            continue
        yield child
        yield from descendants(child)


def focused_element(window):
    """The deepest element that says it has the focus."""
    found = None
    for node in descendants(window):
        if node.getState().contains(pyatspi.STATE_FOCUSED):
            found = node
    return found


def start_xvfb():
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x800x24",
                             "-nolisten", "tcp"], pass_fds=[write],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as f:
        number = f.readline().strip()
    if not number:
        raise AssertionError("Xvfb did not start")
    return xvfb, ":" + number


def start_program(binary, folder, env):
    """Starts the program; a start that cannot reach the display is tried once more."""
    for attempt in range(2):
        log = open(os.path.join(folder, "program.log"), "w+")
        program = subprocess.Popen([binary], cwd=folder, env=env, stdout=log, stderr=log)
        try:
            program.wait(timeout=0.5)
        except subprocess.TimeoutExpired:
            return program
        log.seek(0)
        said = log.read()
        if "could not connect to display" not in said or attempt == 1:
            raise AssertionError("the program ended at once: " + said)
    return None


def main():
    binary = sys.argv[1] if len(sys.argv) == 2 else os.environ.get("QUILLET_BINARY", "")
    if len(sys.argv) > 2 or not binary:
        print(__doc__)
        return 2
    for tool in ("Xvfb", "xdotool"):
        if not shutil.which(tool):
            print(tool + " is not installed: skipped")
            return SKIP
    binary = os.path.abspath(binary)
    folder = tempfile.mkdtemp(prefix="atspi-page-")
    with open(os.path.join(folder, "tasks.txt"), "wb") as f:
        f.write(task_file())

    xvfb, display = start_xvfb()
    program = None
    try:
        env = quillettest.program_env(folder, lang="en_US.UTF-8")
        env.update(DISPLAY=display, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        heard = []
        pyatspi.Registry.registerEventListener(
            lambda e: heard.append(e.source.name) if e.detail1 else None,
            "object:state-changed:focused")
        program = start_program(binary, folder, env)

        window = wait_for(lambda: find_window("Quillet Alert!"), 20,
                          'a window named "Quillet Alert!" on the accessibility bus')
        print("window:", window.getRoleName(), repr(window.name))

        lists = [n for n in descendants(window) if n.getRole() == pyatspi.ROLE_LIST]
        assert len(lists) == 1, "expected one list of tasks, found %d" % len(lists)
        page = lists[0]
        print("list:", repr(page.name), page.childCount, "items")
        names = [page.getChildAtIndex(i).name for i in range(page.childCount)]
        expected = announced()
        missing = [n for n in expected if n not in names]
        extra = [n for n in names if n not in expected]
        assert not missing, "announced tasks not found by name:\n  " + "\n  ".join(missing)
        assert not extra, "elements that are no announced task:\n  " + "\n  ".join(extra)
        assert names == expected, "tasks out of due order:\n  " + "\n  ".join(names)
        for i in range(page.childCount):
            assert page.getChildAtIndex(i).getRole() == pyatspi.ROLE_LIST_ITEM

        focus = wait_for(lambda: focused_element(window), 5, "an element with the focus")
        print("focus:", focus.getRoleName(), repr(focus.name))
        assert focus.name, "the focus starts on an element without a name"
        assert focus.name == expected[0], "the focus starts on %r, not the first task" % focus.name

        # Down moves the focus to the next task, as a screen reader follows it.
        window_id = subprocess.run(["xdotool", "search", "--name", "^Quillet Alert!$"],
                                   env=env, capture_output=True, text=True).stdout.split()
        assert window_id, "xdotool does not find the window"
        subprocess.run(["xdotool", "windowfocus", "--sync", window_id[0], "key", "Down"],
                       env=env, check=True)
        moved = wait_for(lambda: (lambda f: f if f is not None and f.name == expected[1] else None)(
            focused_element(window)), 5, "the focus on the second task after Down")
        print("after Down:", repr(moved.name))
        wait_for(lambda: expected[1] in heard, 5, "a focus event naming the second task")
        print("ok: %d announced tasks read by name" % len(expected))
        return 0
    finally:
        if program is not None:
            program.kill()
            program.wait()
        xvfb.kill()
        xvfb.wait()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
