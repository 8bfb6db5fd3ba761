#!/usr/bin/env python3
"""--done, --restore, --delete and --edit through the built program: each on
a table of tasks (what the file holds after), numbers from a listing that
went stale refused with the file left alone, the calendar UID kept through
an edit, and every command naming the list it worked on."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import icalendar

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
from quillettest import Task, program_env, task_file  # noqa: E402

QUILLET = os.path.abspath(os.environ.get("QUILLET_BINARY") or sys.argv.pop(1))

# In the file's order; --list shows Dentist, Rent, Call and, recycled, Gone, Old.
TASKS = [Task("Rent", (10, 1, 2031, 9, 0, 0)),
         Task("Dentist", (5, 1, 2031, 14, 30, 0), for_whom="Sam", note="Bring the card"),
         Task("Old", (1, 12, 2030, 0, 0, 0), deleted="Y"),
         Task("Call", (20, 1, 2031, 8, 0, 0)),
         Task("Gone", (1, 11, 2030, 0, 0, 0), deleted="Y")]


def tasks_in(path):
    """The tasks of a task file as (title, for, (d, m, y, h, min, s), del,
    note), read here rather than by the program under test."""
    with open(path, "rb") as f:
        lines = f.read().decode("utf-8").split("\r\n")
    found, fields = [], {}
    for line in lines[lines.index("[Tasks]"):lines.index("[Alerts]")]:
        key, _, value = line.partition("=")
        if key == "act" and value == "addtask":
            found.append((fields["ttl"], fields["for"],
                          tuple(int(fields[k]) for k in ("day", "mon", "yea", "hou", "min", "sec")),
                          fields["del"], fields["des"].replace("|~", "\r\n")))
            fields = {}
        elif value or key in ("ttl", "for", "des", "del"):
            fields[key] = value
    return sorted(found)


def as_read(tasks):
    return sorted((t.title, t.for_whom, t.fields(), t.deleted, t.note.replace("\n", "\r\n"))
                  for t in tasks)


def changed(which, **fields):
    """TASKS with the task titled `which` changed: fields of Task, or gone=True."""
    out = []
    for t in TASKS:
        if t.title == which:
            if fields.get("gone"):
                continue
            t = Task(**{**t.__dict__, **fields})
        out.append(t)
    return out


class TaskCommands(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quillet-numbers-")
        self.env = program_env(self.dir)
        self.env["TZ"] = "Europe/Berlin"
        self.list = os.path.join(self.dir, "tasks.txt")
        self.write(TASKS)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def write(self, tasks):
        with open(self.list, "wb") as f:
            f.write(task_file(tasks))

    def quillet(self, *args, status=0):
        run = subprocess.run([QUILLET, *args], cwd=self.dir, env=self.env, capture_output=True,
                             timeout=60)
        self.assertEqual(run.returncode, status, (args, run.stdout, run.stderr))
        return run

    def test_each_command_changes_the_task_its_listing_numbered(self):
        path = self.list
        cases = [
            (["--list"], ["--done", "2"], 'Recycled 2 "Rent" in %s' % path,
             changed("Rent", deleted="Y")),
            (["--list", "--recycled"], ["--restore", "2"], 'Restored 2 "Old" in %s' % path,
             changed("Old", deleted="N")),
            (["--list", "--recycled"], ["--delete", "1"], 'Deleted 1 "Gone" for good from %s' % path,
             changed("Gone", gone=True)),
            (["--list"], ["--edit", "3", "--title", "Call mum", "--due", "2031-02-01 08:15"],
             'Changed 3 "Call mum" (title, due) in %s' % path,
             changed("Call", title="Call mum", due=(1, 2, 2031, 8, 15, 0))),
            # Only the fields given: an empty --for empties it, the due stays.
            (["--list"], ["--edit", "1", "--for", "", "--note", "Two\nlines"],
             'Changed 1 "Dentist" (for, note) in %s' % path,
             changed("Dentist", for_whom="", note="Two\nlines")),
            # A recycled task is edited where it is, and stays recycled.
            (["--list", "--recycled"], ["--edit", "2", "--title", "Older"],
             'Changed 2 "Older" (title) in %s' % path, changed("Old", title="Older")),
            # A date alone is 0:00 of that day, as --add reads it.
            (["--list"], ["--edit", "2", "--due", "2031-03-04"],
             'Changed 2 "Rent" (due) in %s' % path, changed("Rent", due=(4, 3, 2031, 0, 0, 0))),
        ]
        for listing, command, said, after in cases:
            with self.subTest(command=command):
                self.write(TASKS)
                self.quillet(*listing)
                run = self.quillet(*command)
                self.assertEqual(run.stdout.decode().splitlines(), [said])
                self.assertEqual(tasks_in(self.list), as_read(after))

    def test_the_commands_of_one_listing_go_on_naming_its_tasks(self):
        # After --done 1 the list moves up, yet 2 is still the Rent the user read.
        self.quillet("--list")
        self.quillet("--done", "1")
        self.quillet("--edit", "3", "--due", "2030-12-30")  # Call moves to the top
        self.quillet("--done", "2")
        self.assertEqual(tasks_in(self.list),
                         as_read([t if t.title not in ("Dentist", "Rent") else
                                  Task(**{**t.__dict__, "deleted": "Y"})
                                  for t in changed("Call", due=(30, 12, 2030, 0, 0, 0))]))
        # A number already acted on names nothing any more.
        run = self.quillet("--done", "1", status=1)
        self.assertIn(b"quillet --list", run.stderr)

    def test_a_number_that_names_no_listed_task_is_refused_and_the_file_left_alone(self):
        def add_earlier():
            self.quillet("--add", "Earlier", "--due", "2031-01-01")

        def edit_outside(which, **fields):
            def edit():
                self.write(changed(which, **fields))
            return edit

        cases = [
            # (listing, what happens after it, command, said)
            (None, None, ["--done", "1"], b"run 'quillet --list' first"),
            (["--list"], None, ["--done", "4"], b"had no task 4"),
            (["--list"], None, ["--delete", "1"], b"'quillet --done 1'"),
            (["--list"], None, ["--restore", "1"], b"not recycled"),
            (["--list", "--recycled"], None, ["--done", "1"], b"recycled already"),
            # The list changed since in a way that moves the task listed as 2.
            (["--list"], add_earlier, ["--done", "2"], b"no longer where"),
            (["--list"], edit_outside("Call", due=(1, 1, 2031, 0, 0, 0)), ["--edit", "2",
                                                                             "--title", "X"],
             b"no longer where"),
            # The task itself was changed elsewhere.
            (["--list"], edit_outside("Dentist", title="Dentist!"), ["--done", "1"],
             b"no longer where"),
            (["--list"], edit_outside("Rent", deleted="Y"), ["--done", "2"], b"no longer where"),
        ]
        for listing, meanwhile, command, said in cases:
            with self.subTest(command=command, meanwhile=meanwhile and meanwhile.__name__):
                self.write(TASKS)
                shutil.rmtree(os.path.join(self.dir, "state"), ignore_errors=True)
                if listing:
                    self.quillet(*listing)
                if meanwhile:
                    meanwhile()
                with open(self.list, "rb") as f:
                    before = f.read()
                run = self.quillet(*command, status=1)
                self.assertIn(said, run.stderr)
                self.assertIn(self.list.encode(), run.stderr)
                with open(self.list, "rb") as f:
                    self.assertEqual(f.read(), before)

    def test_a_change_elsewhere_that_moves_no_listed_task_stops_nothing(self):
        self.quillet("--list")
        self.write(changed("Call", note="Ask about Sunday"))
        self.quillet("--done", "1")
        self.assertEqual(tasks_in(self.list),
                         as_read([Task(**{**t.__dict__, "deleted": "Y"}) if t.title == "Dentist"
                                  else t for t in changed("Call", note="Ask about Sunday")]))

    def test_wrong_numbers_and_fields_are_mistakes_of_the_command_line(self):
        self.quillet("--list")
        for args in (["--done", "x"], ["--done", "0"], ["--restore", "-1"], ["--edit", "1"],
                     ["--edit", "1", "--due", "2031-02-30"], ["--title", "T"],
                     ["--edit", "1", "--title", " "], ["--done", "1", "--delete", "2"],
                     ["--done", "1", "--title", "T"]):
            with self.subTest(args=args):
                run = self.quillet(*args, status=2)
                self.assertTrue(run.stderr.startswith(b"quillet: "), run.stderr)
        self.assertEqual(tasks_in(self.list), as_read(TASKS))

    def test_a_task_keeps_its_calendar_uid_through_its_edits(self):
        def uids():
            run = self.quillet("--export-ics", "-")
            cal = icalendar.Calendar.from_ical(run.stdout)
            return {str(t["SUMMARY"]): str(t["UID"]) for t in cal.walk() if t.name == "VTODO"}

        first = uids()
        self.quillet("--list")
        # Title and due together: nothing of what a calendar knows it by is left.
        self.quillet("--edit", "2", "--title", "Pay the rent", "--due", "2031-02-10 10:00")
        self.quillet("--done", "1")
        self.quillet("--list", "--recycled")
        self.quillet("--restore", "1")
        after = uids()
        self.assertEqual(after["Pay the rent"], first["Rent"])
        self.assertEqual({k: v for k, v in after.items() if k != "Pay the rent"},
                         {k: v for k, v in first.items() if k != "Rent"})

    def test_every_command_names_its_list_once(self):
        ics = os.path.join(self.dir, "out.ics")
        project = os.path.join(self.dir, "project")
        os.mkdir(project)
        with open(os.path.join(project, "tasks.txt"), "wb") as f:
            f.write(task_file([]))
        mine = os.path.join(self.dir, "data", "quillet", "tasks.txt")
        os.makedirs(os.path.dirname(mine))
        for args, where, stream, folder in (
                (["--add", "Pay", "--due", "2031-01-01"], self.list, "stdout", self.dir),
                # A folder with its own tasks.txt: that list, and it says so.
                (["--add", "Pay", "--due", "2031-01-01"], os.path.join(project, "tasks.txt"),
                 "stdout", project),
                (["--add", "Pay", "--due", "2031-01-01"], mine, "stdout", self.env["HOME"] + "/data"),
                (["--export-ics", "-"], self.list, "stderr", self.dir),
                (["--export-ics", ics], self.list, "stderr", self.dir),
                (["--import-ics", ics], self.list, "stdout", self.dir)):
            with self.subTest(args=args, folder=folder):
                run = subprocess.run([QUILLET, *args], cwd=folder, env=self.env,
                                     capture_output=True, timeout=60)
                self.assertEqual(run.returncode, 0, run.stderr)
                said = getattr(run, stream).decode(errors="replace")
                self.assertEqual(said.count(where), 1, said)


if __name__ == "__main__":
    unittest.main()
