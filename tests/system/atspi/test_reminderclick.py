"""A reminder clicked opens the task list with its task selected and in
view, as a screen reader reads it: quillet --remind on the runner's private
session bus, with a stand-in notification service on the same bus."""

import datetime
import os
import shutil
import subprocess
import tempfile
import unittest

import pyatspi
from gi.repository import Gio, GLib

from quillet_atspi import (ScreenReaderTest, Task, children, find, program_env, states, titled,
                           task_file, wait_until, walk)

PATH = "/org/freedesktop/Notifications"
NAME = "org.freedesktop.Notifications"
INTERFACE = f"""<node><interface name="{NAME}">
  <method name="GetCapabilities"><arg type="as" direction="out"/></method>
  <method name="Notify">
    <arg type="s" direction="in"/><arg type="u" direction="in"/>
    <arg type="s" direction="in"/><arg type="s" direction="in"/>
    <arg type="s" direction="in"/><arg type="as" direction="in"/>
    <arg type="a{{sv}}" direction="in"/><arg type="i" direction="in"/>
    <arg type="u" direction="out"/>
  </method>
  <method name="CloseNotification"><arg type="u" direction="in"/></method>
  <method name="GetServerInformation">
    <arg type="s" direction="out"/><arg type="s" direction="out"/>
    <arg type="s" direction="out"/><arg type="s" direction="out"/>
  </method>
  <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
  <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
</interface></node>"""


class FakeNotifications:
    """The desktop's notification service, answered from the test's own
    main loop (which wait_until runs)."""

    def __init__(self):
        self.bus = Gio.bus_get_sync(Gio.BusType.SESSION)
        self.shown = []  # (id, summary, body)
        info = Gio.DBusNodeInfo.new_for_xml(INTERFACE).interfaces[0]
        self.registration = self.bus.register_object(PATH, info, self._call, None, None)
        self.owner = Gio.bus_own_name_on_connection(self.bus, NAME, Gio.BusNameOwnerFlags.NONE,
                                                    None, None)

    def _call(self, connection, sender, path, interface, method, params, invocation):
        if method == "GetCapabilities":
            invocation.return_value(GLib.Variant("(as)", (["actions", "body"],)))
        elif method == "Notify":
            args = params.unpack()
            self.shown.append((len(self.shown) + 1, args[3], args[4]))
            invocation.return_value(GLib.Variant("(u)", (len(self.shown),)))
        elif method == "GetServerInformation":
            invocation.return_value(GLib.Variant("(ssss)", ("fake", "tests", "1", "1.2")))
        else:
            invocation.return_value(None)

    def invoke(self, notification, action):
        self.bus.emit_signal(None, PATH, NAME, "ActionInvoked",
                             GLib.Variant("(us)", (notification, action)))

    def close(self):
        Gio.bus_unown_name(self.owner)
        self.bus.unregister_object(self.registration)


class ReminderClicked(ScreenReaderTest):

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="quillet-remind-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.service = FakeNotifications()
        self.addCleanup(self.service.close)
        self.processes = []
        self.addCleanup(self.stop_all)

    def stop_all(self):
        for pid in self.pids_of_windows() + [p.pid for p in self.processes]:
            try:
                os.kill(pid, 9)
            except ProcessLookupError:
                pass
        for p in self.processes:
            p.wait(10)
            p.stderr.close()

    @staticmethod
    def said_so_far(process):
        """What the process and the windows it started wrote to standard
        error so far, without waiting for more."""
        os.set_blocking(process.stderr.fileno(), False)
        said = process.stderr.read() or b""
        return said.decode(errors="replace")

    def pids_of_windows(self):
        return [app.get_process_id() for app in children(pyatspi.Registry.getDesktop(0))
                if app.childCount > 0]

    def test_its_default_action_selects_that_task_in_view(self):
        # GIVEN a long list, with three tasks alike but for their
        # descriptions due last, in a few seconds
        now = datetime.datetime.now().replace(microsecond=0)
        tasks = [Task(f"Earlier task {i:02}", now - datetime.timedelta(days=1, minutes=i), "Me")
                 for i in range(60)]
        due = now + datetime.timedelta(seconds=3)
        for what in ("about the car", "about the house", "about the boat"):
            tasks.append(Task("Call Bob", due, "Me", note=what))
        with open(os.path.join(self.folder, "tasks.txt"), "wb") as f:
            f.write(task_file(tasks))
        env = program_env(self.folder, lang="en_US.UTF-8")
        env.update({
            "DISPLAY": self.x.display,
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
        })
        reminder = subprocess.Popen([self.binary, "--remind"], cwd=self.folder, env=env,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.processes.append(reminder)
        self.assertTrue(wait_until(lambda: len(self.service.shown) == 3, 30),
                        f"not notified: {self.service.shown!r}")
        house = next(n for n, _, body in self.service.shown if body.endswith("about the house"))

        # WHEN the user clicks the second one
        self.service.invoke(house, "default")

        # THEN the list opens with that task selected, in view, its
        # description in the pane
        def shown_list():
            return next((w for app in children(pyatspi.Registry.getDesktop(0))
                         for w in children(app)
                         if titled(w.name, "Quillet") and pyatspi.STATE_SHOWING in states(w)),
                        None)
        main = wait_until(shown_list)
        said = self.said_so_far(reminder)
        if main is None and "could not connect to display" in said:
            # Xvfb now and then refuses a new client: the click once more.
            self.service.invoke(house, "default")
            main = wait_until(shown_list)
            said += self.said_so_far(reminder)
        self.assertIsNotNone(main, f"no task list came: {said}")
        tasks = wait_until(lambda: find(main, role=pyatspi.ROLE_LIST, name="Tasks"))
        self.assertIsNotNone(tasks)

        def selected():
            rows = [r for r in walk(tasks) if r.getRole() == pyatspi.ROLE_LIST_ITEM
                    and pyatspi.STATE_SELECTED in states(r)]
            return rows if rows else None

        rows = wait_until(selected)
        self.assertIsNotNone(rows, "no row selected")
        self.assertEqual(len(rows), 1)
        self.assertTrue(rows[0].name.startswith("Call Bob"), rows[0].name)
        self.assertIn(pyatspi.STATE_SHOWING, states(rows[0]))
        pane = find(main, name="Description")
        self.assertEqual(pane.queryText().getText(0, -1), "about the house")
        # The reminder stays for the session.
        self.assertIsNone(reminder.poll())


if __name__ == "__main__":
    unittest.main()
