#!/usr/bin/env python3
"""The iCalendar commands through the built program, read back by readers
of other makers: Python's icalendar, and a real CalDAV server (radicale)
on loopback."""
import datetime
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request

import icalendar

QUILLET = os.path.abspath(os.environ.get("QUILLET_BINARY") or sys.argv.pop(1))
ZONE = "Europe/Berlin"


def task_file(tasks, rules=()):
    """A task file in the program's layout, written here line by line."""
    lines = ["; Quillet", "; ----------", "; Tasks and settings", "; DO NOT MODIFY THIS FILE",
             "", "[Tasks]", ""]
    for t in tasks:
        lines += ["ttl=" + t["title"], "for=" + t.get("for", ""), "day=%d" % t["due"].day,
                  "mon=%d" % t["due"].month, "yea=%d" % t["due"].year, "hou=%d" % t["due"].hour,
                  "min=%d" % t["due"].minute, "sec=%d" % t["due"].second,
                  "del=" + t.get("del", "N"), "des=" + t.get("note", "").replace("\n", "|~"),
                  "act=addtask", ""]
    lines += ["[Alerts]", ""]
    for interval, colour in rules:
        lines += ["val=%d" % interval, "unt=d", "clr=%d" % colour, "alr=on", "act=addalert", ""]
    lines += [""]
    return "\r\n".join(lines).encode("utf-8")


TASKS = [
    {"title": "Pay rent", "for": "Sam", "due": datetime.datetime(2026, 12, 24, 9, 30)},
    {"title": "Dentist", "note": "Bring the card\nand the letter",
     "due": datetime.datetime(2027, 7, 1, 14, 0, 5)},  # summer time
    {"title": "Old plan", "for": "Ann", "del": "Y", "due": datetime.datetime(2026, 11, 2)},
    {"title": "Café, naïve; \"quoted\"", "due": datetime.datetime(2026, 12, 9, 23, 59, 59)},
]


class Ics(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quillet-ics-")
        self.env = dict(os.environ, HOME=self.dir, XDG_DATA_HOME=os.path.join(self.dir, "data"),
                        TZ=ZONE, LANG="C.UTF-8", LC_ALL="C.UTF-8")
        self.env.pop("DISPLAY", None)
        self.env.pop("NO_COLOR", None)
        self.list = os.path.join(self.dir, "tasks.txt")
        with open(self.list, "wb") as f:
            f.write(task_file(TASKS, [(3, 255)]))

    def tearDown(self):
        shutil.rmtree(self.dir)

    def quillet(self, *args, status=0):
        run = subprocess.run([QUILLET, *args], cwd=self.dir, env=self.env, capture_output=True,
                             timeout=60)
        self.assertEqual(run.returncode, status, run.stderr.decode())
        return run.stdout

    def export(self, *args):
        return icalendar.Calendar.from_ical(self.quillet("--export-ics", "-", *args))

    def todos(self, calendar):
        return [c for c in calendar.walk() if c.name == "VTODO"]

    def listed(self, *args):
        every = []
        for extra in ([], ["--recycled"]):
            for t in json.loads(self.quillet("--list", "--json", *extra, *args)):
                every.append({k: t[k] for k in ("title", "for", "due", "note", "recycled")})
        return sorted(every, key=lambda t: t["title"])

    def test_each_field_as_an_independent_reader_reads_it(self):
        todos = self.todos(self.export())
        self.assertEqual(len(todos), len(TASKS))
        for todo, task in zip(sorted(todos, key=lambda t: str(t["SUMMARY"])),
                              sorted(TASKS, key=lambda t: t["title"])):
            with self.subTest(task["title"]):
                self.assertEqual(str(todo["SUMMARY"]), task["title"])
                self.assertEqual(str(todo.get("DESCRIPTION", "")), task.get("note", ""))
                self.assertEqual(str(todo.get("CONTACT", "")), task.get("for", ""))
                due = todo.decoded("DUE")
                self.assertIsNotNone(due.tzinfo, "a due moment with its zone")
                self.assertEqual(todo["DUE"].params["TZID"], ZONE)
                # The same wall time in the zone: Quillet keeps local time.
                self.assertEqual(due.replace(tzinfo=None), task["due"])
                offset = due.utcoffset()
                self.assertEqual(offset, datetime.timedelta(hours=2 if task["due"].month == 7 else 1))
                self.assertEqual(str(todo["STATUS"]),
                                 "CANCELLED" if task.get("del") == "Y" else "NEEDS-ACTION")
                alarms = [c for c in todo.subcomponents if c.name == "VALARM"]
                self.assertEqual(len(alarms), 1)
                self.assertEqual(alarms[0].decoded("TRIGGER"), datetime.timedelta(0))
                self.assertEqual(alarms[0]["TRIGGER"].params.get("RELATED"), "END")
                self.assertEqual(str(alarms[0]["ACTION"]), "DISPLAY")
                self.assertTrue(str(todo["UID"]))
                self.assertIn("DTSTAMP", todo)
        self.assertEqual(len({str(t["UID"]) for t in todos}), len(todos))
        self.assertEqual(len([c for c in self.export().walk() if c.name == "VTIMEZONE"]), 1)

    def test_import_of_an_export_into_an_empty_list_gives_the_same_tasks(self):
        path = os.path.join(self.dir, "out.ics")
        self.quillet("--export-ics", path)
        other = os.path.join(self.dir, "other", "tasks.txt")
        os.mkdir(os.path.dirname(other))
        said = self.quillet("--import-ics", path, "--file", other).decode()
        self.assertIn("4 added, 0 updated", said)
        self.assertEqual(self.listed("--file", other), self.listed())
        # Imported again, the same to-dos update their tasks.
        said = self.quillet("--import-ics", path, "--file", other).decode()
        self.assertIn("0 added, 4 updated", said)
        self.assertEqual(self.listed("--file", other), self.listed())
        # And the imported list exports the calendar's own UIDs.
        with open(path, "rb") as f:
            first = {str(t["UID"]) for t in self.todos(icalendar.Calendar.from_ical(f.read()))}
        again = {str(t["UID"]) for t in self.todos(self.export("--file", other))}
        self.assertEqual(again, first)

    def test_uids_stay_through_edits_sorting_recycling_and_restarts(self):
        before = {str(t["SUMMARY"]): str(t["UID"]) for t in self.todos(self.export())}
        # GIVEN the file edited elsewhere: one task renamed, one moved to
        # another day, one restored, the order reversed
        edited = [dict(t) for t in reversed(TASKS)]
        edited[-1]["title"] = "Pay the rent"
        edited[-2]["due"] = datetime.datetime(2027, 8, 1, 10, 0)
        edited[-3]["del"] = "N"
        with open(self.list, "wb") as f:
            f.write(task_file(edited, [(3, 255)]))
        # AND a task added from the terminal
        self.quillet("--add", "New one", "--due", "2027-01-01")
        after = {str(t["SUMMARY"]): str(t["UID"]) for t in self.todos(self.export())}
        self.assertEqual(after["Pay the rent"], before["Pay rent"])
        self.assertEqual(after["Dentist"], before["Dentist"])
        self.assertEqual(after["Old plan"], before["Old plan"])
        self.assertEqual(after["Café, naïve; \"quoted\""], before["Café, naïve; \"quoted\""])
        self.assertNotIn(after["New one"], before.values())
        # The task file's bytes are the program's own: nothing of the UIDs.
        with open(self.list, "rb") as f:
            self.assertNotIn(b"uid", f.read().lower())

    def test_an_export_goes_through_a_caldav_server_unchanged(self):
        if not shutil.which("radicale") and subprocess.run(
                [sys.executable, "-c", "import radicale"], capture_output=True).returncode != 0:
            self.skipTest("radicale is not installed")
        calendar = self.export()
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        storage = os.path.join(self.dir, "caldav")
        # Bounded: the server ends by itself if this test does not end it.
        server = subprocess.Popen(
            ["timeout", "120", sys.executable, "-m", "radicale", "--server-hosts",
             "127.0.0.1:%d" % port, "--config", "", "--auth-type", "none", "--rights-type",
             "owner_only", "--storage-filesystem-folder", storage, "--logging-level", "warning"],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=self.env)
        try:
            base = "http://127.0.0.1:%d/quillet/" % port
            auth = {"Authorization": "Basic cXVpbGxldDp4"}  # quillet:x, any password
            # Straight to loopback, whatever proxy the environment names.
            opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))

            def call(method, url, body=None, headers=()):
                request = urllib.request.Request(url, data=body, method=method,
                                                 headers=dict(auth, **dict(headers)))
                with opener.open(request, timeout=10) as answer:
                    return answer.read()

            deadline = time.monotonic() + 20
            while True:
                try:
                    call("OPTIONS", base)
                    break
                except urllib.error.HTTPError:
                    break  # it answers
                except (urllib.error.URLError, ConnectionError):
                    if server.poll() is not None:
                        self.fail("radicale ended: " + server.stderr.read().decode())
                    self.assertLess(time.monotonic(), deadline, "radicale did not answer")
                    time.sleep(0.1)
            collection = base + "tasks/"
            call("MKCALENDAR", collection)
            zone = [c for c in calendar.walk() if c.name == "VTIMEZONE"][0]
            sent = {}
            for todo in self.todos(calendar):
                # One to-do a resource, as CalDAV stores them.
                one = icalendar.Calendar()
                one.add("version", "2.0")
                one.add("prodid", str(calendar["PRODID"]))
                one.add_component(zone)
                one.add_component(todo)
                uid = str(todo["UID"])
                sent[uid] = todo
                call("PUT", collection + uid + ".ics", one.to_ical(),
                     {"Content-Type": "text/calendar; charset=utf-8"})
            for uid, todo in sent.items():
                with self.subTest(uid=uid):
                    back = icalendar.Calendar.from_ical(call("GET", collection + uid + ".ics"))
                    got = self.todos(back)
                    self.assertEqual(len(got), 1)
                    for name in ("UID", "SUMMARY", "DESCRIPTION", "CONTACT", "STATUS", "DUE",
                                 "DTSTAMP"):
                        if name in todo:
                            self.assertEqual(got[0].decoded(name), todo.decoded(name), name)
                    self.assertEqual(got[0]["DUE"].params.get("TZID"), ZONE)
                    alarm = [c for c in got[0].subcomponents if c.name == "VALARM"]
                    self.assertEqual([a.decoded("TRIGGER") for a in alarm], [datetime.timedelta(0)])
            # And the calendar as a whole imports into an empty list as it left.
            whole = os.path.join(self.dir, "back.ics")
            with open(whole, "wb") as f:
                f.write(call("GET", collection))
            other = os.path.join(self.dir, "from-server")
            os.mkdir(other)
            self.quillet("--import-ics", whole, "--file", other + "/")
            self.assertEqual(self.listed("--file", other + "/"), self.listed())
        finally:
            server.terminate()
            server.wait(timeout=10)
            server.stderr.close()


if __name__ == "__main__":
    unittest.main()
