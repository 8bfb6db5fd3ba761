#!/usr/bin/env python3
"""The calendar sync through the built program: two lists A (Berlin) and B
(New York) on one collection with a phone beside them, each scenario on
Radicale and on Xandikos (QUILLET_SYNC_SERVER names one), Quillet talking
to the server through the fault proxy."""
import datetime
import json
import os
import sys
import tempfile
import threading
import unittest
from zoneinfo import ZoneInfo

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import synctest as st  # noqa: E402
from synctest import Fault, Task  # noqa: E402

UTC = datetime.timezone.utc
BERLIN, NEW_YORK = "Europe/Berlin", "America/New_York"


def many(count, prefix="Task"):
    """count tasks of distinct titles and dues a minute apart, some with a
    person and a note."""
    start = datetime.datetime(2027, 1, 1, 8, 0)
    return [Task("%s %04d" % (prefix, i), start + datetime.timedelta(minutes=i),
                 "Sam" if i % 7 == 0 else "", note="line one\nline two" if i % 11 == 0 else "")
            for i in range(count)]


THREE = [Task("Pay rent", datetime.datetime(2027, 1, 5, 9, 30), "Sam"),
         Task("Dentist", datetime.datetime(2027, 2, 1, 14, 0), note="Bring the card"),
         Task("Call mum", datetime.datetime(2027, 1, 10, 18, 0))]

# Every property a phone sets that Quillet does not hold.
PHONE_ONLY = [
    "PRIORITY:1", "CATEGORIES:home,errands", "RRULE:FREQ=WEEKLY;BYDAY=MO",
    "RELATED-TO;RELTYPE=PARENT:parent-uid", "X-APPLE-SORT-ORDER:42", "X-TASKS-ORG-ID:7",
    "DUE;TZID=Asia/Tokyo:20270105T090000",
    "BEGIN:VALARM", "ACTION:DISPLAY", "TRIGGER:-PT15M", "DESCRIPTION:Soon", "END:VALARM",
]
# What an upload may change about a to-do besides the fields it carries.
BOOKKEEPING = {"SEQUENCE", "LAST-MODIFIED", "DTSTAMP"}


class Scenarios(st.SyncCase):
    # --- first syncs ---

    def test_first_syncs_of_1001_cut_after_500_down_into_an_empty_list_and_both_full(self):
        # One upload of 1001 serves all the first syncs: a server stores them
        # slowly (Radicale checks each new UID against the whole collection).
        tasks = many(1001)
        self.a.write(tasks)
        full = st.Side(self.root, "c", BERLIN)
        full.write(tasks)
        self.link(self.a, self.b, full)
        self.proxy.inject(Fault("drop", "PUT", after=500, times=None))
        cut = self.sync(self.a, status=1)
        self.assertTrue(cut.stderr.strip(), "a failed sync says why")
        self.assertEqual(len(self.phone.items()), 500)
        self.proxy.clear()
        counts = self.sync(self.a)
        self.assertEqual(counts.conflicts, 0)
        items = self.phone.items()  # fails on two resources of one UID
        self.assertEqual(sorted(i.fields()["title"] for i in items.values()),
                         [t.title for t in tasks])
        self.assertEqual(self.sync(self.b).received, 1001)
        self.assert_agree(self.a, self.b)
        self.assertEqual(set(self.a.exported()), set(items))
        self.assertEqual(set(self.b.exported()), set(items))
        # A list that already holds the same tasks pairs them: no write, no double.
        self.proxy.reset()
        counts = self.sync(full)
        self.assertEqual(self.writes(), 0, "uploaded tasks the server had")
        self.assertEqual((counts.sent, counts.conflicts), (0, 0))
        self.assertEqual(len(self.phone.items()), 1001)
        self.assert_agree(full)
        self.assert_quiet(self.a, self.b, full)

    def test_first_sync_down_of_what_the_phone_wrote(self):
        self.phone.put_many([("ph-%d" % i, "Phone %03d" % i, ["DUE:2027010%dT%02d0000Z" % (
            1 + i % 9, i % 24)]) for i in range(120)])
        self.link(self.b)
        self.assertEqual(self.sync(self.b).received, 120)
        self.assert_agree(self.b)
        self.assertEqual(self.writes(), 0)

    # --- edits on two sides ---

    def test_edits_on_two_sides_merge_per_field(self):
        later = datetime.datetime(2027, 3, 3, 7, 45)

        def phone_due(item):
            self.phone.edit(item, ["DUE:20270303T064500Z"])  # 07:45 in Berlin

        def phone_title(title):
            return lambda item: self.phone.edit(item, ["SUMMARY:" + title])

        cases = [
            # name, A's edit (of Pay rent), phone's edit, A's expected
            # (title, due in Berlin, recycled), conflicts expected
            ("title here, due there", dict(title="Pay the rent"), phone_due,
             ("Pay the rent", later, False), []),
            ("the same title on both sides", dict(title="Pay the rent"),
             phone_title("Pay the rent"), ("Pay the rent", datetime.datetime(2027, 1, 5, 9, 30),
                                           False), []),
            ("both edit the title", dict(title="Pay the rent"), phone_title("Rent!"),
             ("Pay the rent", datetime.datetime(2027, 1, 5, 9, 30), False),
             [("title", "Rent!")]),
            ("recycled here, title there", dict(deleted="Y"), phone_title("Rent!"),
             ("Rent!", datetime.datetime(2027, 1, 5, 9, 30), True), []),
            ("due here, completed there", dict(due=later),
             lambda item: self.phone.edit(item, ["STATUS:COMPLETED"]),
             ("Pay rent", later, True), []),
        ]
        for name, mine, theirs, (title, due, recycled), marked in cases:
            with self.subTest(name):
                self.setUp()
                self.linked_with(THREE)
                theirs(self.phone.find("Pay rent"))
                self.a.edit("Pay rent", **mine)
                counts = self.sync(self.a)
                self.assertEqual(counts.conflicts, len(marked))
                self.sync(self.b)
                self.sync(self.a)
                task = self.a.task(title)
                self.assertEqual(task["due"], due.replace(tzinfo=ZoneInfo(BERLIN)))
                self.assertEqual(task["recycled"], recycled)
                self.assertEqual(st.conflicts(task["note"]), marked)
                # The conflict stands on every side, not only where it was met.
                self.assertEqual(st.conflicts(self.phone.find(title).fields()["note"]), marked)
                self.assertEqual(st.conflicts(self.b.task(title)["note"]), marked)
                self.assert_agree(self.a, self.b)
                self.assertEqual(len(self.phone.items()), 3)
                self.assert_quiet(self.a, self.b)

    def test_an_edit_beats_a_delete_on_either_side(self):
        cases = [("deleted for good here, edited there", "here"),
                 ("deleted there, edited here", "there")]
        for name, where in cases:
            with self.subTest(name):
                self.setUp()
                self.linked_with(THREE)
                item = self.phone.find("Dentist")
                if where == "here":
                    self.phone.edit(item, ["SUMMARY:Dentist at 3"])
                    # Delete for good takes a number of the recycled listing.
                    self.a.run("--done", str(self.number(self.a, "Dentist")))
                    self.a.run("--delete", str(self.number(self.a, "Dentist", recycled=True)))
                    self.assertNotIn("Dentist", self.a.tasks())
                    expected = "Dentist at 3"
                else:
                    self.phone.delete(item)
                    self.a.edit("Dentist", title="Dentist at 3")
                    expected = "Dentist at 3"
                self.sync(self.a)
                self.sync(self.b)
                self.sync(self.a)
                self.assertFalse(self.a.task(expected)["recycled"])
                self.assertEqual(self.phone.find(expected).uid, item.uid)
                self.assert_agree(self.a, self.b)
                self.assert_quiet(self.a, self.b)

    @staticmethod
    def number(side, title, recycled=False):
        """The task's number in a fresh --list (or --list --recycled)."""
        extra = ["--recycled"] if recycled else []
        listed = json.loads(side.run("--list", "--json", *extra).stdout)
        return [t["title"] for t in listed].index(title) + 1

    def test_deleted_on_the_server_and_unchanged_here_goes_to_recycled(self):
        self.linked_with(THREE)
        self.phone.delete(self.phone.find("Call mum"))
        self.sync(self.a)
        self.assertTrue(self.a.task("Call mum")["recycled"])
        self.assertNotIn("Call mum", [i.fields()["title"] for i in self.phone.items().values()])

    def test_tasks_txt_edited_by_hand_updates_the_same_to_do(self):
        both = dict(title="Pay the rent", due=datetime.datetime(2027, 1, 6, 10, 0))
        cases = [("title only", dict(title="Pay the rent"), False),
                 ("title and due", both, False),
                 # The add's own save must not make the edit look new.
                 ("title and due, then a task added", both, True),
                 ("person and note", dict(for_whom="Ann", note="Transfer\nby Friday"), False)]
        for name, changes, then_add in cases:
            with self.subTest(name):
                self.setUp()
                self.linked_with(THREE)
                before = self.phone.find("Pay rent")
                self.a.edit("Pay rent", **changes)
                if then_add:
                    self.a.add("Water the plants")
                self.sync(self.a)
                after = self.phone.find(changes.get("title", "Pay rent"))
                self.assertEqual((after.uid, after.href), (before.uid, before.href))
                self.assertEqual(len(self.phone.items()), 4 if then_add else 3)
                self.assertEqual(self.proxy.count("DELETE"), 0)
                # An upload patches: never a second alarm.
                self.assertLessEqual(len([c for c in after.todo.subcomponents
                                          if c.name == "VALARM"]), 1)
                self.sync(self.b)
                self.assert_agree(self.a, self.b)
                self.assert_quiet(self.a, self.b)

    # --- faults ---

    def test_a_412_at_upload_merges_instead_of_overwriting(self):
        self.linked_with(THREE)
        self.a.edit("Pay rent", title="Pay the rent")
        # The phone moves the due just before A's upload reaches the server.
        self.proxy.inject(Fault("before", "PUT", action=lambda request: self.phone.edit(
            self.phone.find("Pay rent"), ["DUE:20270303T064500Z"])))
        self.sync(self.a)
        self.assertIn(412, [s.status for s in self.proxy.seen if s.method == "PUT"])
        item = self.phone.find("Pay the rent")
        self.assertEqual(item.lines("DUE"), ["DUE:20270303T064500Z"])
        self.assertEqual(st.conflicts(item.fields()["note"]), [])
        self.sync(self.b)
        self.assert_agree(self.a, self.b)
        self.assert_quiet(self.a, self.b)

    def test_interrupted_uploads_converge_without_duplicates(self):
        cases = [
            ("a response lost after the server applied a PUT", 5, Fault("lose", "PUT", after=2)),
            ("the server busy", 5, Fault("status", "PUT", status=503, after=1, times=2)),
            ("no ETag in the upload's answer", 5, Fault("strip-etag", "PUT", times=None)),
        ]
        for name, count, fault in cases:
            with self.subTest(name):
                self.setUp()
                tasks = many(count)
                self.a.write(tasks)
                self.link(self.a, self.b)
                self.proxy.inject(fault)
                first = self.a.run("--sync", status=None)
                self.proxy.clear()
                if first.returncode != 0:
                    self.assertTrue(first.stderr.strip(), "a failed sync says why")
                    self.sync(self.a)
                items = self.phone.items()
                self.assertEqual(len(items), count)
                self.assertEqual(len({i.fields()["title"] for i in items.values()}), count)
                self.sync(self.b)
                self.assert_agree(self.a, self.b)
                for side in (self.a, self.b):
                    self.assertFalse(any(st.conflicts(t["note"]) for t in side.tasks().values()))
                self.assert_quiet(self.a, self.b)

    def test_a_lost_sync_token_falls_back_to_a_full_listing(self):
        self.linked_with(THREE)
        self.phone.edit(self.phone.find("Dentist"), ["SUMMARY:Dentist moved"])
        self.proxy.inject(Fault("status", "REPORT", body=rb"sync-token>[^<]", status=403,
                                answer=b'<?xml version="1.0"?><D:error xmlns:D="DAV:">'
                                       b'<D:valid-sync-token/></D:error>'))
        counts = self.sync(self.a)
        self.assertEqual(counts.received, 1)
        self.assertIn("Dentist moved", self.a.tasks())
        self.assertEqual(self.writes(), 0)
        self.assert_quiet(self.a)

    def test_the_server_renaming_an_href_keeps_the_task(self):
        self.linked_with(THREE)
        item = self.phone.find("Dentist")
        uids = set(self.a.exported())
        self.phone.move(item, self.collection + "renamed-by-server.ics")
        self.sync(self.a)
        self.assertEqual(set(self.a.exported()), uids)
        self.assertFalse(self.a.task("Dentist")["recycled"])
        self.a.edit("Dentist", title="Dentist at 3")
        self.sync(self.a)
        moved = self.phone.find("Dentist at 3")
        self.assertEqual((moved.uid, moved.href), (item.uid, self.collection + "renamed-by-server.ics"))
        self.assertEqual(len(self.phone.items()), 3)

    # --- what the phone wrote ---

    def test_phone_only_properties_stay_byte_for_byte_through_an_edit(self):
        self.phone.put("phone-1", "Water the plants", PHONE_ONLY)
        self.link(self.a)
        self.sync(self.a)
        before = self.phone.find("Water the plants")
        self.a.edit("Water the plants", title="Water the roses", note="The red ones")
        self.sync(self.a)
        after = self.phone.find("Water the roses")
        kept = [line for line in st.todo_lines(before.text)
                if st.prop_name(line) not in BOOKKEEPING | {"SUMMARY", "DESCRIPTION"}]
        now = [line for line in st.todo_lines(after.text)
               if st.prop_name(line) not in BOOKKEEPING | {"SUMMARY", "DESCRIPTION"}]
        self.assertEqual(sorted(now), sorted(kept))
        self.assertEqual(len([c for c in after.todo.subcomponents if c.name == "VALARM"]), 1)
        self.assertGreater(int(after.todo.get("SEQUENCE", 0)), int(before.todo.get("SEQUENCE", 0)))
        self.assert_quiet(self.a)

    def test_a_to_do_the_list_cannot_hold_stays_untouched_on_the_server(self):
        self.phone.put("no-due", "Some day", ["PRIORITY:9"])
        self.phone.put("dated", "Dated", ["DUE:20270105T120000Z"])
        before = self.phone.items()["no-due"]
        self.link(self.a)
        self.sync(self.a)
        self.assertEqual(sorted(self.a.tasks()), ["Dated"])
        self.a.edit("Dated", title="Dated, edited")
        self.sync(self.a)
        after = self.phone.items()["no-due"]
        self.assertEqual((after.etag, after.text), (before.etag, before.text))
        self.assert_quiet(self.a)

    def test_time_zones_of_three_sides_meet_at_the_same_moments(self):
        # Each the phone's form and the moment it means in the list's zone.
        dues = [
            ("Tokyo", "DUE;TZID=Asia/Tokyo:20270105T090000",
             lambda zone: datetime.datetime(2027, 1, 5, 0, 0, tzinfo=UTC)),
            ("Utc", "DUE:20270105T120000Z", lambda zone: datetime.datetime(2027, 1, 5, 12, 0, tzinfo=UTC)),
            ("Floating", "DUE:20270105T090000",
             lambda zone: datetime.datetime(2027, 1, 5, 9, 0, tzinfo=ZoneInfo(zone))),
            ("Date only", "DUE;VALUE=DATE:20270105",
             lambda zone: datetime.datetime(2027, 1, 5, 0, 0, tzinfo=ZoneInfo(zone))),
            # 2:30 does not exist in New York that night: the clocks skip to 3:00.
            ("In the gap", "DUE;TZID=America/New_York:20270314T023000",
             lambda zone: datetime.datetime(2027, 3, 14, 7, 30, tzinfo=UTC)),
        ]
        self.phone.put_many([("tz-%d" % i, title, [line]) for i, (title, line, _) in enumerate(dues)])
        self.a.write([Task("From Berlin", datetime.datetime(2027, 7, 1, 14, 0))])
        self.link(self.a, self.b)
        self.sync(self.a)
        self.sync(self.b)
        self.sync(self.a)
        for side in (self.a, self.b):
            tasks = side.tasks()
            for title, line, moment in dues:
                with self.subTest(side=side.name, due=title):
                    self.assertEqual(tasks[title]["due"], moment(side.zone))
            self.assertEqual(tasks["From Berlin"]["due"],
                             datetime.datetime(2027, 7, 1, 12, 0, tzinfo=UTC))
        # Nothing the phone wrote was rewritten into another form.
        items = self.phone.items()
        for i, (title, line, _) in enumerate(dues):
            self.assertEqual(items["tz-%d" % i].lines("DUE"), [line], title)
        self.assert_quiet(self.a, self.b)

    # --- the list's own safety ---

    def test_the_mass_delete_guard_stops_either_way(self):
        cases = [("tasks.txt emptied", lambda: self.a.write([])),
                 ("the server's list emptied",
                  lambda: [self.phone.delete(i) for i in self.phone.items().values()])]
        for name, empty in cases:
            with self.subTest(name):
                self.setUp()
                self.linked_with(many(20))
                empty()
                before = (self.a.file_bytes(), len(self.phone.items()))
                run = self.sync(self.a, status=1)
                self.assertTrue(run.stderr.strip())
                self.assertEqual((self.a.file_bytes(), len(self.phone.items())), before)
                self.assertEqual(self.writes(), 0)

    def test_a_save_during_a_sync_loses_nothing(self):
        self.linked_with(many(30))
        for i in range(30):
            self.a.edit("Task %04d" % i, note="edited")
        # Each request held back a little, so that the adds land mid-sync.
        self.proxy.inject(Fault("delay", seconds=0.05, times=None))
        added, refused, stop = [], [], threading.Event()

        def adder():
            while not stop.is_set() and len(added) < 40:
                title = "Added %02d" % len(added)
                run = self.a.run("--add", title, "--due", "2027-01-15 10:00", status=None)
                if run.returncode != 0:
                    refused.append(run.stderr.decode())
                    return
                added.append(title)
        sync = self.a.popen("--sync")
        thread = threading.Thread(target=adder)
        thread.start()
        try:
            out, err = sync.communicate(timeout=st.SYNC_TIMEOUT)
        finally:
            stop.set()
            thread.join()
        self.assertEqual(refused, [], "a save was refused while the sync ran")
        self.assertEqual(sync.returncode, 0, err.decode())
        tasks = self.a.tasks()
        for title in added:
            self.assertIn(title, tasks)
        self.assertTrue(all(tasks["Task %04d" % i]["note"] == "edited" for i in range(30)))
        self.proxy.clear()
        self.sync(self.a)
        self.sync(self.b)
        self.assert_agree(self.a, self.b)


class OnRadicale(Scenarios, unittest.TestCase):
    SERVER = st.Radicale


class OnXandikos(Scenarios, unittest.TestCase):
    SERVER = st.Xandikos


class SetupAndPassword(unittest.TestCase):
    """Set-up by discovery from the server's root, and the password paths,
    on a server that asks for one."""

    @classmethod
    def setUpClass(cls):
        reason = st.sync_skip_reason()
        if reason:
            raise unittest.SkipTest(reason)
        cls.server = st.RadicaleWithPassword().start()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="quillet-sync-")
        self.addCleanup(st.shutil.rmtree, self.root, True)
        self.side = st.Side(self.root, "a")
        self.side.write(THREE)
        # A calendar of its own for each test, found by its name.
        self.collection = self.server.new_collection()
        self.calendar = self.collection.rstrip("/").rsplit("/", 1)[-1]

    def config_text(self):
        out = b""
        for folder, _, files in os.walk(self.root):
            for name in files:
                with open(os.path.join(folder, name), "rb") as f:
                    out += f.read()
        return out

    def password_command(self, password):
        """A command printing the password, from a file outside the list's home."""
        folder = tempfile.mkdtemp(prefix="quillet-secret-")
        self.addCleanup(st.shutil.rmtree, folder, True)
        path = os.path.join(folder, "password")
        with open(path, "w") as f:
            f.write(password)
        return path, "cat " + path

    def assert_not_said(self, run):
        self.assertNotIn(self.server.password.encode(), run.stdout + run.stderr)

    def test_setup_by_discovery_and_sync_with_a_password_command(self):
        _, command = self.password_command(self.server.password)
        run = self.side.setup(self.server.root, "--user", self.server.user, "--calendar",
                              self.calendar, "--password-command", command)
        self.assertIn(self.calendar, run.stdout.decode())
        self.assert_not_said(run)
        self.assertEqual(self.side.sync().sent, 3)
        self.assertEqual(len(st.Phone(self.server, self.collection).items()), 3)
        # Never in a file Quillet writes.
        self.assertNotIn(self.server.password.encode(), self.config_text())

    def test_refusals_say_why_and_write_nothing(self):
        _, wrong = self.password_command("wrong")
        cases = [
            ("a wrong password", [self.server.root, "--user", self.server.user, "--calendar",
                                  self.calendar, "--password-command", wrong]),
            ("plain http off loopback", ["http://192.0.2.1/dav/", "--user", "x",
                                         "--password-command", wrong]),
            ("no password and no terminal to ask on", [self.server.root, "--user",
                                                      self.server.user]),
        ]
        for name, args in cases:
            with self.subTest(name):
                before = self.side.file_bytes()
                run = self.side.setup(*args, status=1, timeout=60)
                self.assertTrue(run.stderr.strip())
                self.assert_not_said(run)
                self.assertEqual(self.side.file_bytes(), before)

    def test_a_password_that_stopped_working_fails_the_sync_with_its_reason(self):
        path, command = self.password_command(self.server.password)
        self.side.setup(self.server.root + self.collection.lstrip("/"), "--user", self.server.user,
                        "--password-command", command)
        self.side.sync()
        with open(path, "w") as f:
            f.write("changed")
        before = self.side.file_bytes()
        run = self.side.sync(status=1)
        self.assertTrue(run.stderr.strip())
        self.assertNotIn(b"changed", run.stdout + run.stderr)
        self.assertEqual(self.side.file_bytes(), before)


def load_tests(loader, tests, pattern):
    return st.parts(loader, {"radicale": OnRadicale, "xandikos": OnXandikos,
                             "password": SetupAndPassword})


if __name__ == "__main__":
    st.main()
