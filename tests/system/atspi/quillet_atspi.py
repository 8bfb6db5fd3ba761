"""Quillet as a screen reader sees it: the program under its own X server,
read through the accessibility bus (AT-SPI) with pyatspi.

The runner (run-atspi-test) puts each test file on a private session bus;
this module starts Xvfb, the accessibility bus and the program, and offers
what a test needs: the program's accessible tree, keys typed through
xdotool, and the events the program sends.
"""

import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import warnings

import pyatspi
from gi.repository import GLib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir,
                                "support"))
# The shared task file writer, offered to the test files with the rest.
from quillettest import Rule, Task, program_env, task_file  # noqa: E402,F401

# pyatspi calls libatspi's older names; their warnings say nothing of the program.
warnings.filterwarnings("ignore", category=DeprecationWarning, module="pyatspi")

# The longest any single wait may take: a hang guard, not a timing limit.
WAIT_SECONDS = 10.0

# Roles of the controls a user types into or chooses from.
INPUT_ROLES = {
    pyatspi.ROLE_TEXT,
    pyatspi.ROLE_ENTRY,
    pyatspi.ROLE_PASSWORD_TEXT,
    pyatspi.ROLE_COMBO_BOX,
    pyatspi.ROLE_CHECK_BOX,
    pyatspi.ROLE_SPIN_BUTTON,
}


def pump(seconds=0.0):
    """Lets libatspi deliver what has arrived, for about `seconds`."""
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while True:
        while context.pending():
            context.iteration(False)
        if time.monotonic() >= end:
            return
        time.sleep(0.01)


def wait_until(condition, seconds=WAIT_SECONDS):
    """The first true value of condition() within `seconds`, else None.
    Events are delivered between the tries."""
    end = time.monotonic() + seconds
    while True:
        pump()
        try:
            value = condition()
        except Exception:  # an object that went away meanwhile
            value = None
        if value:
            return value
        if time.monotonic() >= end:
            return None
        time.sleep(0.02)


def children(acc):
    for i in range(acc.childCount):
        child = acc.getChildAtIndex(i)
        if child is not None:
            yield child


def walk(acc):
    """acc and everything below it, depth first."""
    yield acc
    for child in children(acc):
        yield from walk(child)


def titled(shown, title):
    """Whether a window's name is `title`: the main window names a list not
    the user's own after it ("Quillet — /tmp/x/tasks.txt")."""
    return shown == title or shown.startswith(title + " — ")


def states(acc):
    return set(acc.getState().getStates())


def find(root, role=None, name=None, where=None):
    """The first accessible below root with this role and name, or None."""
    for acc in walk(root):
        if role is not None and acc.getRole() != role:
            continue
        if name is not None and acc.name != name:
            continue
        if where is not None and not where(acc):
            continue
        return acc
    return None


def dump(acc, depth=0, out=None):
    """The tree as lines: [role] 'name' and the states that matter here."""
    out = [] if out is None else out
    shown = {pyatspi.STATE_FOCUSED: "focused", pyatspi.STATE_SELECTED: "selected",
             pyatspi.STATE_CHECKED: "checked"}
    marks = [text for state, text in shown.items() if state in states(acc)]
    out.append("  " * depth + f"[{acc.getRoleName()}] {acc.name!r}"
               + (f" ({', '.join(marks)})" if marks else ""))
    for child in children(acc):
        dump(child, depth + 1, out)
    return out


class EventLog:
    """The events of the given kinds ("object:state-changed:focused", ...),
    with their source's name and role read as they arrive: a row's object
    may be gone by the time a test looks."""

    def __init__(self, *kinds):
        self.kinds = kinds
        self.events = []
        pyatspi.Registry.registerEventListener(self._record, *kinds)

    def _record(self, event):
        try:
            name, role = event.source.name, event.source.getRole()
        except Exception:
            name, role = None, None
        self.events.append((event.type, event.detail1, role, name))

    def clear(self):
        pump()
        self.events.clear()

    def wait_for(self, kind, name=None, detail1=None, role=None):
        """The first logged event of this kind (and source name / detail /
        role), waiting for it at most WAIT_SECONDS."""
        def match():
            for e in self.events:
                if (e[0] == kind and (name is None or e[3] == name)
                        and (detail1 is None or e[1] == detail1)
                        and (role is None or e[2] == role)):
                    return e
            return None
        return wait_until(match)

    def close(self):
        pyatspi.Registry.deregisterEventListener(self._record, *self.kinds)


class XServer:
    """Xvfb on a display of its own choosing."""

    def __init__(self):
        read, write = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x800x24",
             "-nolisten", "tcp"], pass_fds=(write,),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        end = time.monotonic() + WAIT_SECONDS
        with os.fdopen(read, "rb", buffering=0) as pipe:
            while not number.endswith(b"\n"):
                left = end - time.monotonic()
                if left <= 0 or not select.select([pipe], [], [], left)[0]:
                    break
                chunk = pipe.read(16)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            self.stop()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number.decode().strip()

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(WAIT_SECONDS)


class Program:
    """Quillet started in a folder of its own on the test's X server."""

    def __init__(self, binary, display, tasks, args=("--show-all",)):
        self.folder = tempfile.mkdtemp(prefix="quillet-atspi-")
        with open(os.path.join(self.folder, "tasks.txt"), "wb") as f:
            f.write(tasks)
        self.env = program_env(self.folder, lang="en_US.UTF-8")
        self.env.update({
            "DISPLAY": display,
            # What a screen reader's session sets: Qt joins the bus at once.
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
        })
        self.process = None
        said = b""
        # Xvfb now and then refuses a new client: such a start is tried once more.
        for _ in range(2):
            self.process = subprocess.Popen(
                [binary, *args], cwd=self.folder, env=self.env,
                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            try:
                _, said = self.process.communicate(timeout=0.5)
            except subprocess.TimeoutExpired:
                break
            if b"could not connect to display" not in said:
                break
        self.application = wait_until(self._find_application)
        if self.application is None:
            self.stop()
            raise RuntimeError("the program did not appear on the accessibility bus: "
                               + said.decode(errors="replace"))

    def _find_application(self):
        # The windowed program replaces the one started (exec): same process.
        for app in children(pyatspi.Registry.getDesktop(0)):
            if app.get_process_id() == self.process.pid and app.childCount > 0:
                return app
        return None

    def choose(self, menu_key, item, item_key, window_title="Quillet"):
        """Chooses a menu entry by its access keys, as alt+menu_key, then
        item_key, once the menu shows its item. Alt is let go only then: a
        release that reaches the menu bar before the menu takes the keyboard
        closes it again. Under Xvfb without a window manager a busy machine
        now and then makes Qt take the main window's focus back while the
        menu opens, which closes it too; the menu is then opened once more."""
        for attempt in range(3):
            self.keys(window_title=window_title)
            self._xdotool("keydown", "alt")
            try:
                self._xdotool("key", menu_key)
                shown = wait_until(lambda: self._showing_item(item), WAIT_SECONDS / 3)
            finally:
                self._xdotool("keyup", "alt")
            if shown:
                pump(0.1)  # and still open a moment later
                if self._showing_item(item):
                    self._xdotool("key", item_key)
                    return
        raise AssertionError(f"the menu holding {item!r} did not stay open")

    def _showing_item(self, name):
        return find(self.application, role=pyatspi.ROLE_MENU_ITEM, name=name,
                    where=lambda acc: pyatspi.STATE_SHOWING in states(acc))

    def _xdotool(self, *args):
        subprocess.run(["xdotool", *args], env=self.env, timeout=WAIT_SECONDS, check=True)

    def window(self, name, active=False):
        """The program's top-level window with this name, once it is shown
        (and, if asked, active)."""
        wanted = {pyatspi.STATE_SHOWING} | ({pyatspi.STATE_ACTIVE} if active else set())
        return wait_until(lambda: next(
            (w for w in children(self.application)
             if titled(w.name, name) and wanted <= states(w)), None))

    def keys(self, *names, window_title="Quillet"):
        """Types keys (xdotool names) into the window with this title, or
        with window_title None wherever the keyboard is."""
        if window_title is not None and not self.window(window_title, active=True):
            # Without a window manager the program activates its windows
            # itself; one that stays inactive is focused from here.
            found = subprocess.run(
                ["xdotool", "search", "--sync", "--onlyvisible", "--name",
                 f"^{re.escape(window_title)}( — .*)?$"], env=self.env, capture_output=True,
                timeout=WAIT_SECONDS, check=True)
            self._xdotool("windowfocus", "--sync", found.stdout.split()[0].decode())
            if not self.window(window_title, active=True):
                raise AssertionError(f"{window_title!r} did not become active")
        for name in names:
            self._xdotool("key", "--clearmodifiers", name)
            pump(0.05)

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(WAIT_SECONDS)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(WAIT_SECONDS)
        if self.process and self.process.stderr:
            self.process.stderr.close()
        shutil.rmtree(self.folder, ignore_errors=True)


class ScreenReaderTest(unittest.TestCase):
    """One X server for the test class; a program per test, started with
    start(). QUILLET_BINARY names the program."""

    # Event kinds the tests listen to; Qt learns of listeners when it joins
    # the bus, so they are registered before any program starts.
    EVENTS = ("focus:", "object:state-changed:focused",
              "object:state-changed:selected", "object:state-changed:checked")

    @classmethod
    def setUpClass(cls):
        cls.binary = os.environ.get("QUILLET_BINARY", "")
        if not os.access(cls.binary, os.X_OK):
            raise unittest.SkipTest(f"no program at QUILLET_BINARY ({cls.binary!r})")
        for tool in ("Xvfb", "xdotool"):
            if shutil.which(tool) is None:
                raise unittest.SkipTest(f"{tool} is not installed")
        # Asking for the desktop starts the accessibility bus, which Qt
        # looks for when the program starts.
        pyatspi.Registry.getDesktop(0)
        cls.log = EventLog(*cls.EVENTS)
        cls.x = XServer()

    @classmethod
    def tearDownClass(cls):
        cls.log.close()
        cls.x.stop()

    def start(self, tasks=b"", args=("--show-all",)):
        program = Program(self.binary, self.x.display, tasks or task_file(), args)
        self.addCleanup(program.stop)
        self.log.clear()
        return program

    def assertNamed(self, root, expected):
        """Every input below root has a name, and the names of the given
        roles are exactly `expected` (role -> sorted list of names)."""
        unnamed = [acc.getRoleName() for acc in walk(root)
                   if acc.getRole() in INPUT_ROLES and not acc.name.strip()]
        self.assertEqual(unnamed, [], "inputs without a name:\n" + "\n".join(dump(root)))
        for role, names in expected.items():
            found = sorted(acc.name for acc in walk(root) if acc.getRole() == role)
            self.assertEqual(found, sorted(names), f"names of {role}:\n" + "\n".join(dump(root)))
