#!/usr/bin/env python3
"""What the built program says when a start goes wrong, as a user in a
terminal meets it: the first line on standard error and the exit status;
--help and --version as GNU programs print them."""
import datetime
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
from quillettest import Task, program_env, task_file  # noqa: E402

QUILLET = os.path.abspath(os.environ.get("QUILLET_BINARY") or sys.argv.pop(1))
HELP_HINT = "Try 'quillet --help' for more information."
SLOTS = 1001


class Messages(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quillet-messages-")
        self.folder = os.path.join(self.dir, "here")
        os.mkdir(self.folder)
        self.env = program_env(self.dir)
        self.user_list = os.path.join(self.dir, "data", "quillet", "tasks.txt")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def run_quillet(self, *args):
        return subprocess.run([QUILLET, *args], cwd=self.folder, env=self.env,
                              capture_output=True, timeout=60)

    def plant(self, path, data):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def test_each_mistake_is_told_in_its_own_words(self):
        full = [Task("T%d" % i, datetime.date(2027, 1, 1)) for i in range(SLOTS)]
        cases = [
            # (name, files to plant, argv, first line, status, usage hint)
            ("unknown long option", {}, ["--bogus"],
             "quillet: unknown option '--bogus'", 2, True),
            ("unknown option with a value", {}, ["--bogus=3"],
             "quillet: unknown option '--bogus'", 2, True),
            ("unknown short option", {}, ["-x"], "quillet: unknown option '-x'", 2, True),
            ("value missing", {}, ["--add", "T", "--due"], "quillet: --due needs WHEN", 2, True),
            ("value given to a switch", {}, ["--list=yes"],
             "quillet: --list takes no value", 2, True),
            ("a day the month lacks", {}, ["--add", "T", "--due", "2026-02-30"],
             "quillet: --due '2026-02-30': February 2026 has no day 30; "
             "its days go from 01 to 28", 2, True),
            ("a day a leap year lacks", {}, ["--add", "T", "--due", "2028-02-30 09:30"],
             "quillet: --due '2028-02-30 09:30': February 2028 has no day 30; "
             "its days go from 01 to 29", 2, True),
            ("a month the year lacks", {}, ["--add", "T", "--due", "2026-13-01"],
             "quillet: --due '2026-13-01': there is no month 13; months go from 01 to 12",
             2, True),
            ("gibberish", {}, ["--add", "T", "--due", "soonish"],
             "quillet: --due 'soonish' is not a due moment Quillet reads; use 2026-12-24",
             2, True),
            ("a folder that never existed", {}, ["--file", "/no/such/dir/x.txt", "--list"],
             "quillet: /no/such/dir/x.txt could not be read: its folder /no/such/dir "
             "does not exist.", 1, False),
            ("a foreign tasks.txt here",
             {os.path.join(self.folder, "tasks.txt"): b"#!/bin/sh\necho hello\n"}, ["--list"],
             "quillet: %s/tasks.txt is not a Quillet task file. Quillet did not load it and "
             "will not write over it; move it away, start Quillet in another folder or name a "
             "list with --file PATH (your own list is %s)." % (self.folder, self.user_list),
             1, False),
            ("a foreign file as the user's own list",
             {self.user_list: b"#!/bin/sh\necho hello\n"}, ["--list"],
             "quillet: %s is not a Quillet task file. Quillet did not load it and will not "
             "write over it; move it away, or name another list with --file PATH."
             % self.user_list, 1, False),
            ("a full list", {self.user_list: task_file(full)},
             ["--add", "One more", "--due", "today"],
             "quillet: The task list is full: it holds 1001 tasks, the most it can keep. "
             "To make room, delete a recycled task for good: quillet --list --recycled numbers "
             "them and quillet --delete N deletes one, or use the list's window "
             "(quillet --show-all).", 1, False),
        ]
        for name, files, argv, first, status, hint in cases:
            with self.subTest(name):
                for path, data in files.items():
                    self.plant(path, data)
                try:
                    run = self.run_quillet(*argv)
                    lines = run.stderr.decode().splitlines()
                    self.assertEqual(run.returncode, status, run.stderr)
                    self.assertTrue(lines and lines[0].startswith(first),
                                    "%r\ndoes not start with\n%r" % (lines[:1], first))
                    self.assertEqual(lines[1:] == [HELP_HINT], hint, lines)
                finally:
                    for path in files:
                        os.remove(path)

    def test_help_fits_eighty_columns(self):
        run = self.run_quillet("--help")
        self.assertEqual(run.returncode, 0)
        wide = [l for l in run.stdout.decode().splitlines() if len(l) > 80]
        self.assertEqual(wide, [])

    def test_version_as_gnu_programs_print_it(self):
        run = self.run_quillet("--version")
        self.assertEqual(run.returncode, 0)
        lines = run.stdout.decode().splitlines()
        self.assertRegex(lines[0], r"^quillet \d+\.\d+$")
        self.assertRegex(lines[1], r"^Copyright \(C\) \d{4} The Quillet developers$")
        # The licence named where LICENSE names it.
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir,
                               "LICENSE")) as f:
            self.assertEqual(f.readline().split()[0], "MIT")
        self.assertTrue(lines[2].startswith("License: MIT"), lines)
        self.assertIn("NO WARRANTY", lines[-1])


if __name__ == "__main__":
    unittest.main()
