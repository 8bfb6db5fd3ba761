#!/usr/bin/env python3
"""The terminal commands through the built program: which list each start
uses, --add's refusals, --list on a terminal and through a pipe."""
import datetime
import json
import os
import pty
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
from quillettest import TEST_DAY, Rule, Task, program_env, task_file  # noqa: E402

QUILLET = os.path.abspath(os.environ.get("QUILLET_BINARY") or sys.argv.pop(1))


def for_me(titles, recycled=()):
    """Current tasks for Me due on Christmas Eve at 9:00, then recycled ones."""
    due = datetime.datetime(2026, 12, 24, 9)
    return ([Task(t, due, "Me") for t in titles] +
            [Task(t, due, "Me", deleted="Y") for t in recycled])


# Tasks due within 30 days red, announced at start.
RED = Rule(30, 255)


class Commands(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quillet-terminal-")
        self.folder = os.path.join(self.dir, "here")
        os.mkdir(self.folder)
        self.user_list = os.path.join(self.dir, "data", "quillet", "tasks.txt")
        # The day the other tests run on, so that the rules colour alike.
        self.env = program_env(self.dir, faketime=TEST_DAY)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def run_quillet(self, *args, env=None):
        return subprocess.run([QUILLET, *args], cwd=self.folder, env=env or self.env,
                              capture_output=True, timeout=60)

    def titles(self, path):
        with open(path, "rb") as f:
            return [l[4:].decode() for l in f.read().split(b"\r\n") if l.startswith(b"ttl=")]

    def test_each_start_uses_the_folder_list_only_where_there_is_one(self):
        # No list here: the user's own, and nothing made in this folder.
        self.assertEqual(self.run_quillet("--add", "Mine", "--due", "today").returncode, 0)
        self.assertEqual(self.titles(self.user_list), ["Mine"])
        plain = self.run_quillet()  # no display: the first run can only say so
        self.assertEqual(os.listdir(self.folder), [], plain.stderr.decode())
        self.assertIn(b"Mine", self.run_quillet("--list").stdout)
        # A list here is this folder's.
        with open(os.path.join(self.folder, "tasks.txt"), "wb") as f:
            f.write(task_file(for_me(["Kept here"])))
        self.assertEqual(self.run_quillet("--add", "Here", "--due", "+1").returncode, 0)
        self.assertEqual(self.titles(os.path.join(self.folder, "tasks.txt")), ["Kept here", "Here"])
        self.assertEqual(self.titles(self.user_list), ["Mine"])
        # --file names any other.
        other = os.path.join(self.dir, "other.txt")
        self.assertEqual(self.run_quillet("--file", other, "--add", "There", "--due", "mon").returncode, 0)
        self.assertEqual(self.titles(other), ["There"])
        self.assertEqual(self.run_quillet("--file", other, "--list").stdout.count(b"\n"), 1)

    def test_add_refuses_what_it_cannot_keep_and_leaves_the_file(self):
        path = os.path.join(self.folder, "tasks.txt")
        with open(path, "wb") as f:
            f.write(task_file(for_me(["First"])))
        with open(path, "rb") as f:
            before = f.read()
        cases = [
            (["--add", "T", "--due", "someday"], 2, b"today, tomorrow"),
            (["--add", "T", "--due", "2026-02-30"], 2, b"has no day 30"),
            (["--add", "T"], 2, b"--due"),
            (["--add", "", "--due", "today"], 2, b"title"),
            (["--add", "x" * 32768, "--due", "today"], 2, b"longer"),
            (["--add", "T", "--due", "today", "--note", "n" * 32768], 2, b"longer"),
        ]
        for args, status, said in cases:
            with self.subTest(args=[a[:20] for a in args]):
                run = self.run_quillet(*args)
                self.assertEqual(run.returncode, status)
                self.assertIn(said, run.stderr)
                with open(path, "rb") as f:
                    self.assertEqual(f.read(), before)
        # A full list: the editor's own limit, and nothing written.
        with open(path, "wb") as f:
            f.write(task_file(for_me(["T%d" % i for i in range(1001)])))
        with open(path, "rb") as f:
            before = f.read()
        run = self.run_quillet("--add", "One more", "--due", "today")
        self.assertEqual(run.returncode, 1)
        self.assertIn(b"full", run.stderr)
        with open(path, "rb") as f:
            self.assertEqual(f.read(), before)

    def on_terminal(self, *args, env):
        """Standard output a terminal, as a user sees it."""
        pid, fd = pty.fork()
        if pid == 0:
            try:
                os.chdir(self.folder)
                os.execve(QUILLET, [QUILLET, *args], env)
            finally:
                os._exit(127)
        out = b""
        while True:
            try:
                chunk = os.read(fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            out += chunk
        os.waitpid(pid, 0)
        os.close(fd)
        return out

    def test_list_is_coloured_on_a_terminal_only(self):
        with open(os.path.join(self.folder, "tasks.txt"), "wb") as f:
            f.write(task_file(for_me(["Soon"]), [RED]))
        red = b"\x1b[38;2;255;0;0m"
        self.env["COLORTERM"] = "truecolor"
        self.assertIn(red, self.on_terminal("--list", env=self.env))
        self.assertNotIn(b"\x1b", self.on_terminal("--list", env=dict(self.env, NO_COLOR="1")))
        # Only a value turns it off, as no-color.org says.
        self.assertIn(red, self.on_terminal("--list", env=dict(self.env, NO_COLOR="")))
        piped = self.run_quillet("--list").stdout
        self.assertNotIn(b"\x1b", piped)
        self.assertTrue(piped.startswith(b"1  December 24/26 "), piped)
        self.assertTrue(piped.endswith(b"  Soon  for Me\n"), piped)

    def test_list_prints_every_task_whatever_a_title_holds(self):
        with open(os.path.join(self.folder, "tasks.txt"), "wb") as f:
            f.write(task_file(for_me(["Before\0after", "Next"])))
        out = self.run_quillet("--list").stdout
        self.assertIn("  Before\ufffdafter  for Me\n".encode(), out)
        self.assertIn(b"  Next          for Me\n", out)

    def test_list_never_sends_a_title_s_control_characters(self):
        # As a shared folder's or a calendar's task may hold them: clear the
        # screen, set the window's title, ring, delete, a C1 CSI.
        titles = {"\x1b[2Jcleared": b"\\033[2Jcleared", "\x1b]0;owned\x07t": b"\\033]0;owned\\007t",
                  "bell\x07": b"bell\\007", "del\x7f": b"del\\177", "c1\u009b2J": b"c1\\2332J",
                  "tab\tbed": b"tab\\011bed"}
        with open(os.path.join(self.folder, "tasks.txt"), "wb") as f:
            f.write(task_file(for_me(titles), [RED]))
        for how, out in (("terminal", self.on_terminal("--list",
                                                       env=dict(self.env, COLORTERM="truecolor"))),
                         ("pipe", self.run_quillet("--list").stdout)):
            with self.subTest(how=how):
                # Only the colour's own sequences and line ends remain.
                plain = out.replace(b"\x1b[38;2;255;0;0m", b"").replace(b"\x1b[0m", b"")
                for control in list(range(0, 9)) + list(range(11, 13)) + list(range(14, 32)) + [127]:
                    self.assertNotIn(bytes([control]), plain, control)
                self.assertNotIn("\u009b".encode(), plain)
                for shown in titles.values():
                    self.assertIn(shown, plain)
        # The JSON stays exact.
        listed = json.loads(self.run_quillet("--list", "--json").stdout)
        self.assertEqual(sorted(t["title"] for t in listed), sorted(titles))

    def test_list_shows_the_view_asked_for(self):
        with open(os.path.join(self.folder, "tasks.txt"), "wb") as f:
            f.write(task_file(for_me(["Current"], recycled=["Recycled"])))
        for args, wanted in ((["--list"], ["Current"]), (["--list", "--recycled"], ["Recycled"])):
            with self.subTest(args=args):
                text = self.run_quillet(*args).stdout.decode()
                self.assertEqual([(l.split()[0], l.split("  ")[-2]) for l in text.splitlines()],
                                 [("1", w) for w in wanted])
                listed = json.loads(self.run_quillet(*args, "--json").stdout)
                self.assertEqual([t["title"] for t in listed], wanted)
                self.assertEqual({t["recycled"] for t in listed}, {args[-1] == "--recycled"})


if __name__ == "__main__":
    unittest.main()
