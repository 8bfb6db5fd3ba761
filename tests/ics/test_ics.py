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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
from quillettest import Rule, Task, program_env, task_file  # noqa: E402

QUILLET = os.path.abspath(os.environ.get("QUILLET_BINARY") or sys.argv.pop(1))
ZONE = "Europe/Berlin"


def written(tasks):
    """The tasks as the shared writer takes them: each a dict of title, for,
    due (a datetime) or fields (the six as a file may hold them), del, note."""
    return [Task(t["title"], t.get("fields") or t["due"], t.get("for", ""), t.get("del", "N"),
                 t.get("note", "")) for t in tasks]


TASKS = [
    {"title": "Pay rent", "for": "Sam", "due": datetime.datetime(2026, 12, 24, 9, 30)},
    {"title": "Dentist", "note": "Bring the card\nand the letter",
     "due": datetime.datetime(2027, 7, 1, 14, 0, 5)},  # summer time
    {"title": "Old plan", "for": "Ann", "del": "Y", "due": datetime.datetime(2026, 11, 2)},
    {"title": "Café, naïve; \"quoted\"", "due": datetime.datetime(2026, 12, 9, 23, 59, 59)},
]


# Calendars as other programs write them.
BERLIN = """BEGIN:VTIMEZONE
TZID:Europe/Berlin
X-LIC-LOCATION:Europe/Berlin
BEGIN:DAYLIGHT
TZOFFSETFROM:+0100
TZOFFSETTO:+0200
TZNAME:CEST
DTSTART:19700329T020000
RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU
END:DAYLIGHT
BEGIN:STANDARD
TZOFFSETFROM:+0200
TZOFFSETTO:+0100
TZNAME:CET
DTSTART:19701025T030000
RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU
END:STANDARD
END:VTIMEZONE
"""


def vcalendar(prodid, *todos, zone=BERLIN):
    body = "".join("BEGIN:VTODO\nDTSTAMP:20261201T100000Z\n%sEND:VTODO\n" % t for t in todos)
    text = "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:%s\n%s%sEND:VCALENDAR\n" % (prodid, zone, body)
    return text.replace("\n", "\r\n")


# A zone by a name only the calendar defines, as Outlook writes it.
OUTLOOK_ZONE = """BEGIN:VTIMEZONE
TZID:W. Europe Standard Time
BEGIN:STANDARD
DTSTART:16010101T030000
TZOFFSETFROM:+0200
TZOFFSETTO:+0100
RRULE:FREQ=YEARLY;INTERVAL=1;BYDAY=-1SU;BYMONTH=10
END:STANDARD
BEGIN:DAYLIGHT
DTSTART:16010101T020000
TZOFFSETFROM:+0100
TZOFFSETTO:+0200
RRULE:FREQ=YEARLY;INTERVAL=1;BYDAY=-1SU;BYMONTH=3
END:DAYLIGHT
END:VTIMEZONE
"""

OUTLOOK = "-//Microsoft Corporation//Outlook 16.0 MIMEDIR//EN"
THUNDERBIRD = "-//Mozilla.org/NONSGML Mozilla Calendar V1.1//EN"
NEXTCLOUD = "-//Nextcloud Tasks v0.15.0"
TODOMAN = "-//todoman//NONSGML 4.4.0//EN"
APPLE = "-//Apple Inc.//iOS 17.1//EN"
TASKS_ORG = "+//IDN tasks.org//android-130401//EN"


def task(title, due, recycled=False, who="", note=""):
    return {"title": title, "for": who, "due": due, "note": note, "recycled": recycled}


IMPORTS = [
    ("several VCALENDARs, as cat of a sync folder gives them",
     vcalendar(NEXTCLOUD, "UID:nc-1\nSUMMARY:First\nDUE;TZID=Europe/Berlin:20261224T093000\n") +
     vcalendar(NEXTCLOUD, "UID:nc-2\nSUMMARY:Second\nDUE;TZID=Europe/Berlin:20270701T140000\n") +
     vcalendar(TASKS_ORG, "UID:to-3\nSUMMARY:Third\nDUE;VALUE=DATE:20261230\n", zone=""),
     "3 added", [task("First", "2026-12-24T09:30:00"), task("Second", "2027-07-01T14:00:00"),
                 task("Third", "2026-12-30T00:00:00")]),
    ("done in each of the three ways, and one half done",
     vcalendar(THUNDERBIRD,
               "UID:tb-1\nSUMMARY:Status\nSTATUS:COMPLETED\nDUE;TZID=Europe/Berlin:20261210T090000\n",
               "UID:tb-2\nSUMMARY:Half\nSTATUS:IN-PROCESS\nPERCENT-COMPLETE:50\n"
               "DUE;TZID=Europe/Berlin:20261211T090000\n") +
     vcalendar(TODOMAN, "UID:tm-1\nSUMMARY:Completed date\nCOMPLETED:20261205T100000Z\n"
                        "DUE;TZID=Europe/Berlin:20261212T090000\n") +
     vcalendar(APPLE, "UID:ap-1\nSUMMARY:Percent\nPERCENT-COMPLETE:100\nDUE;VALUE=DATE:20261213\n",
               zone=""),
     "4 added", [task("Status", "2026-12-10T09:00:00", True), task("Half", "2026-12-11T09:00:00"),
                 task("Completed date", "2026-12-12T09:00:00", True),
                 task("Percent", "2026-12-13T00:00:00", True)]),
    ("a recurring to-do with two changed instances",
     vcalendar(THUNDERBIRD,
               "UID:rec-1\nSUMMARY:Water the plants\nDUE;TZID=Europe/Berlin:20261214T080000\n"
               "RRULE:FREQ=WEEKLY\n",
               "UID:rec-1\nRECURRENCE-ID;TZID=Europe/Berlin:20261221T080000\n"
               "SUMMARY:Water the plants (moved)\nDUE;TZID=Europe/Berlin:20261222T080000\n",
               "UID:rec-1\nRECURRENCE-ID;TZID=Europe/Berlin:20261228T080000\n"
               "SUMMARY:Water the plants\nSTATUS:COMPLETED\nDUE;TZID=Europe/Berlin:20261228T080000\n",
               "UID:once\nSUMMARY:Once\nDUE;TZID=Europe/Berlin:20261215T080000\n"),
     "2 added, 0 updated, 1 recurring to-dos taken as single tasks",
     [task("Water the plants", "2026-12-14T08:00:00"), task("Once", "2026-12-15T08:00:00")]),
    ("due in the gap the clocks skip, in the zone, floating and in UTC",
     vcalendar(THUNDERBIRD,
               "UID:gap-1\nSUMMARY:Zoned\nDUE;TZID=Europe/Berlin:20270328T023000\n",
               "UID:gap-2\nSUMMARY:Floating\nDUE:20270328T021500\n",
               "UID:gap-3\nSUMMARY:Utc\nDUE:20270328T013000Z\n"),
     "3 added", [task("Zoned", "2027-03-28T03:30:00"), task("Floating", "2027-03-28T03:15:00"),
                 task("Utc", "2027-03-28T03:30:00")]),
    ("in a zone only the calendar's VTIMEZONE defines, the gap too",
     vcalendar(OUTLOOK,
               "UID:ol-1\nSUMMARY:Winter\nDUE;TZID=W. Europe Standard Time:20261224T093000\n",
               "UID:ol-2\nSUMMARY:Summer\nDUE;TZID=W. Europe Standard Time:20270701T140000\n",
               "UID:ol-3\nSUMMARY:Skipped\nDUE;TZID=W. Europe Standard Time:20270328T023000\n",
               zone=OUTLOOK_ZONE),
     "3 added", [task("Winter", "2026-12-24T09:30:00"), task("Summer", "2027-07-01T14:00:00"),
                 task("Skipped", "2027-03-28T03:30:00")]),
    ("far years, past libical's own and past its time zone rules",
     vcalendar(TODOMAN, "UID:far-1\nSUMMARY:Summer 2040\nDUE:20400701T120000Z\n",
               "UID:far-2\nSUMMARY:Year 3001\nDUE;TZID=Europe/Berlin:30010701T140000\n",
               "UID:far-3\nSUMMARY:Last minute\nDUE;TZID=Europe/Berlin:99991230T235900\n"),
     "3 added", [task("Summer 2040", "2040-07-01T14:00:00"), task("Year 3001", "3001-07-01T14:00:00"),
                 task("Last minute", "9999-12-30T23:59:00")]),
    ("blanks at both ends of the texts",
     vcalendar(TASKS_ORG, "UID:sp-1\nSUMMARY:  Pay rent  \nCONTACT: Sam\t\n"
                          "DESCRIPTION:  indented\\n  and the next  \n"
                          "DUE;TZID=Europe/Berlin:20261224T093000\n"),
     # Blanks that end a line of the task file are not kept by the file itself.
     "1 added", [task("  Pay rent", "2026-12-24T09:30:00", who=" Sam\t",
                      note="  indented\n  and the next")]),
]


class Ics(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quillet-ics-")
        self.env = program_env(self.dir)
        self.env["TZ"] = ZONE
        self.list = os.path.join(self.dir, "tasks.txt")
        with open(self.list, "wb") as f:
            f.write(task_file(written(TASKS), [Rule(3, 255)]))

    def tearDown(self):
        shutil.rmtree(self.dir)

    def quillet(self, *args, status=0, timeout=60):
        run = subprocess.run([QUILLET, *args], cwd=self.dir, env=self.env, capture_output=True,
                             timeout=timeout)
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

    def test_in_a_zone_libical_does_not_know_each_task_goes_out_at_its_moment_in_utc(self):
        # Zones TZ gives by their rule alone: east, west by hours and
        # minutes, and east with summer time; (winter, summer) hours ahead of UTC.
        zones = [("XYZ-3", (3, 3)), ("ABC+5:30", (-5.5, -5.5)),
                 ("XYZ-3ABC,M3.5.0,M10.5.0", (3, 4))]
        for zone, (winter, summer) in zones:
            with self.subTest(zone):
                self.env["TZ"] = zone
                calendar = self.export()
                self.assertEqual([c for c in calendar.walk() if c.name == "VTIMEZONE"], [])
                todos = self.todos(calendar)
                self.assertEqual(len(todos), len(TASKS))
                for todo in todos:
                    task = next(t for t in TASKS if t["title"] == str(todo["SUMMARY"]))
                    ahead = summer if task["due"].month == 7 else winter
                    self.assertNotIn("TZID", todo["DUE"].params)
                    self.assertEqual(todo.decoded("DUE"),
                                     (task["due"] - datetime.timedelta(hours=ahead)).replace(
                                         tzinfo=datetime.timezone.utc), task["title"])
                # And in the same zone it comes back as it left.
                path = os.path.join(self.dir, "out.ics")
                self.quillet("--export-ics", path)
                other = tempfile.mkdtemp(dir=self.dir) + "/"
                self.quillet("--import-ics", path, "--file", other)
                self.assertEqual(self.listed("--file", other), self.listed())

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

    def test_calendars_of_other_programs_import_as_those_programs_mean_them(self):
        for name, text, said, expected in IMPORTS:
            with self.subTest(name):
                other = tempfile.mkdtemp(dir=self.dir) + "/"
                path = os.path.join(other, "in.ics")
                with open(path, "w", newline="") as f:
                    f.write(text)
                self.assertIn(said, self.quillet("--import-ics", path, "--file", other).decode())
                want = sorted(expected, key=lambda t: t["title"])
                self.assertEqual(self.listed("--file", other), want)
                # The second reader: the list exported again, read by Python's icalendar.
                todos = sorted(self.todos(self.export("--file", other)),
                               key=lambda t: str(t["SUMMARY"]))
                self.assertEqual(len(todos), len(want))
                for todo, t in zip(todos, want):
                    self.assertEqual(str(todo["SUMMARY"]), t["title"])
                    self.assertEqual(str(todo.get("CONTACT", "")), t["for"])
                    self.assertEqual(str(todo.get("DESCRIPTION", "")), t["note"])
                    self.assertEqual(todo["DUE"].params["TZID"], ZONE)
                    self.assertEqual(todo.decoded("DUE").replace(tzinfo=None).isoformat(), t["due"])
                    self.assertEqual(str(todo["STATUS"]),
                                     "CANCELLED" if t["recycled"] else "NEEDS-ACTION")

    def test_every_due_moment_add_accepts_goes_out_and_comes_back(self):
        os.remove(self.list)
        typed = ["0001-01-02 00:00", "1969-07-20 21:17", "2027-03-28 01:59", "2027-03-28 03:00",
                 "2027-10-31 02:30", "2038-01-19 04:14", "2040-07-01 14:00", "3001-07-01 14:00",
                 "9999-12-30 23:59"]
        for due in typed:
            self.quillet("--add", "Due " + due, "--due", due)
        path = os.path.join(self.dir, "out.ics")
        self.quillet("--export-ics", path)
        with open(path, "rb") as f:
            todos = self.todos(icalendar.Calendar.from_ical(f.read()))
        self.assertEqual(sorted(t.decoded("DUE").replace(tzinfo=None).isoformat(" ")[:16]
                                for t in todos), typed)
        other = os.path.join(self.dir, "other") + "/"
        os.mkdir(other)
        self.assertIn("%d added" % len(typed), self.quillet("--import-ics", path, "--file", other).decode())
        self.assertEqual(self.listed("--file", other), self.listed())
        self.assertEqual([t["due"] for t in self.listed()],
                         sorted(d.replace(" ", "T") + ":00" for d in typed))

    def test_every_reader_takes_the_due_moment_the_list_counts_days_to(self):
        # (day, month, year, hour, minute, second) as a file may hold them.
        rows = [((24, 12, 2026, 25, 0, 0), "2026-12-24T01:00:00"),
                ((24, 12, 2026, -1, 0, 0), "2026-12-24T23:00:00"),
                ((24, 12, 2026, 0, 0, -1), "2026-12-24T23:59:59"),
                ((32, 12, 2026, 9, 0, 0), "2027-01-01T09:00:00"),
                ((1, 7, 3001, 14, 0, 0), "3001-07-01T14:00:00"),
                # A time the clocks skip: the moment every calendar reads.
                ((28, 3, 2027, 2, 30, 0), "2027-03-28T03:30:00")]
        # Moments no calendar reader takes go out as the nearest one every reader takes.
        odd = [((1, 1, 0, 0, 0, 0), "0001-01-02T00:00:00"),
               ((31, 12, 32767, 9, 0, 0), "9999-12-30T23:59:59")]
        with open(self.list, "wb") as f:
            f.write(task_file([Task(due, fields) for fields, due in rows + odd]))
        todos = self.todos(self.export())
        self.assertEqual({str(t["SUMMARY"]): t.decoded("DUE").replace(tzinfo=None).isoformat()
                          for t in todos}, {due: due for _, due in rows + odd})
        for t in json.loads(self.quillet("--list", "--json")):
            if t["title"] in dict((d, 0) for _, d in rows):
                self.assertEqual(t["due"], t["title"])
                left = (datetime.date.fromisoformat(t["due"][:10]) - datetime.date.today()).days
                self.assertEqual(t["daysLeft"], left, t["title"])

    def test_one_long_line_imports_in_time_linear_in_its_size(self):
        figures = []
        for megabytes in (1, 2, 4, 8):
            note = "x" * (megabytes << 20)
            path = os.path.join(self.dir, "long.ics")
            with open(path, "w", newline="") as f:
                f.write(vcalendar(TODOMAN, "UID:long\nSUMMARY:Long\nDESCRIPTION:%s\n"
                                           "DUE;TZID=Europe/Berlin:20261224T093000\n" % note))
            other = tempfile.mkdtemp(dir=self.dir) + "/"
            start = time.monotonic()
            # The limit is a hang guard, ten times a quiet machine's figure for 8 MB.
            said = self.quillet("--import-ics", path, "--file", other, timeout=10).decode()
            figures.append("%d MB %.2f s" % (megabytes, time.monotonic() - start))
            self.assertIn("1 with a text too long skipped", said)
        print("import of one long line: " + ", ".join(figures), file=sys.stderr)

    def test_uids_stay_through_edits_sorting_recycling_and_restarts(self):
        before = {str(t["SUMMARY"]): str(t["UID"]) for t in self.todos(self.export())}
        # GIVEN the file edited elsewhere: one task renamed, one moved to
        # another day, one restored, the order reversed
        edited = [dict(t) for t in reversed(TASKS)]
        edited[-1]["title"] = "Pay the rent"
        edited[-2]["due"] = datetime.datetime(2027, 8, 1, 10, 0)
        edited[-3]["del"] = "N"
        with open(self.list, "wb") as f:
            f.write(task_file(written(edited), [Rule(3, 255)]))
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
