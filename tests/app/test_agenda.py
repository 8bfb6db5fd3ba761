#!/usr/bin/env python3
"""--list and --week as a user reads them, through the built program: the
filters against a reference worked out here over a table of tasks, columns
that line up on a terminal (a pty of a set size) whatever the script, titles
cut to its width, the colours each terminal gets, and the week by day."""
import datetime
import fcntl
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import termios
import unicodedata
import unittest

import wcwidth

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
from quillettest import Rule, Task, program_env, task_file  # noqa: E402

QUILLET = os.path.abspath(os.environ.get("QUILLET_BINARY") or sys.argv.pop(1))
ESCAPE = re.compile(r"\x1b\[[0-9;]*m")
TODAY = datetime.date.today()


def due(days, hour=12):
    return datetime.datetime.combine(TODAY + datetime.timedelta(days=days), datetime.time(hour))


def width(text):
    """Columns on a terminal, by Python's own tables."""
    columns = 0
    for c in text:
        if unicodedata.combining(c) or unicodedata.category(c) in ("Mn", "Me", "Cf"):
            continue
        columns += 2 if unicodedata.east_asian_width(c) in "WF" else 1
    return columns


# (task, days left): in the order --list gives them, so numbered 1, 2, ...
FILTER_TASKS = [
    (Task("Pay the rent", due(-3), "Anna", note="Bank transfer"), -3),
    (Task("Dentist", due(-1), "Sam", note="Bring the CARD"), -1),
    (Task("Water plants", due(0), "anna"), 0),
    (Task("Call mum", due(1)), 1),
    (Task("Card for Anna", due(3), "Sam"), 3),
    (Task("Tax return", due(4), "Anna", note="ask about the card"), 4),
    (Task("Holiday", due(30), "Anna"), 30),
]
RECYCLED = Task("Old card", due(2), "Anna", deleted="Y")


def reference(due_within=None, overdue=False, for_whom=None, words=()):
    """The numbers the filters keep, worked out from the table."""
    kept = []
    for number, (task, left) in enumerate(FILTER_TASKS, 1):
        if due_within is not None and left > due_within:
            continue
        if overdue and left >= 0:
            continue
        if for_whom is not None and task.for_whom.lower() != for_whom.lower():
            continue
        if any(w.lower() not in (task.title + "\n" + task.note).lower() for w in words):
            continue
        kept.append(number)
    return kept


class Agenda(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quillet-agenda-")
        self.env = program_env(self.dir)
        self.env["TZ"] = "UTC"
        for name in ("COLORTERM", "COLORFGBG", "COLUMNS"):
            self.env.pop(name, None)
        self.list = os.path.join(self.dir, "tasks.txt")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def write(self, tasks, rules=()):
        with open(self.list, "wb") as f:
            f.write(task_file(tasks, rules))

    def piped(self, *args, env=None):
        run = subprocess.run([QUILLET, *args], cwd=self.dir, env=env or self.env,
                             capture_output=True, timeout=60)
        self.assertEqual(run.returncode, 0, (args, run.stderr))
        return run.stdout.decode(), run.stderr.decode()

    def on_terminal(self, *args, columns=200, env=None):
        """Standard output a terminal of `columns` (0: one that gives no
        size); the lines printed, and standard error."""
        master, slave = os.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
        p = subprocess.Popen([QUILLET, *args], cwd=self.dir, env=env or self.env,
                             stdin=subprocess.DEVNULL, stdout=slave, stderr=subprocess.PIPE)
        os.close(slave)
        out = b""
        while True:
            try:
                chunk = os.read(master, 65536)
            except OSError:  # EIO: the program closed its end
                break
            if not chunk:
                break
            out += chunk
        os.close(master)
        err = p.stderr.read()
        p.stderr.close()
        self.assertEqual(p.wait(timeout=60), 0, (args, err))
        return out.decode().replace("\r\n", "\n").splitlines(), err.decode()

    def test_filters_keep_what_the_reference_keeps_in_text_and_json(self):
        self.write([t for t, _ in FILTER_TASKS] + [RECYCLED])
        cases = [
            ([], {}),
            (["--due-within", "3"], dict(due_within=3)),
            (["--due-within", "0"], dict(due_within=0)),
            (["--overdue"], dict(overdue=True)),
            (["--for", "Anna"], dict(for_whom="Anna")),
            (["--for", "ANNA", "--due-within", "4"], dict(for_whom="Anna", due_within=4)),
            (["card"], dict(words=["card"])),  # in the title or the description
            (["card", "anna"], dict(words=["card", "anna"])),
            (["--for", "sam", "--overdue", "card"], dict(for_whom="sam", overdue=True,
                                                         words=["card"])),
            (["--for", "Nobody"], dict(for_whom="Nobody")),
        ]
        for args, kept in cases:
            with self.subTest(args=args):
                want = reference(**kept)
                out, err = self.piped("--list", *args)
                self.assertEqual([int(line.split()[0]) for line in out.splitlines()], want)
                self.assertEqual(err, "" if want else "No tasks.\n")
                out, _ = self.piped("--list", "--json", *args)
                self.assertEqual([t["number"] for t in json.loads(out)], want)
        # The recycled view is filtered and numbered on its own.
        out, _ = self.piped("--list", "--recycled", "--for", "anna")
        self.assertEqual([line.split()[0] for line in out.splitlines()], ["1"])

    def test_a_wrong_day_count_is_refused(self):
        self.write([t for t, _ in FILTER_TASKS])
        for value in ("x", "-1", "1.5", ""):
            with self.subTest(value=value):
                run = subprocess.run([QUILLET, "--list", "--due-within", value], cwd=self.dir,
                                     env=self.env, capture_output=True, timeout=60)
                self.assertEqual(run.returncode, 2, run.stderr)
                self.assertEqual(run.stdout, b"")

    def test_nothing_to_show_is_said_on_stderr_with_status_0(self):
        for tasks, args in [([], ["--list"]), ([], ["--week"]), ([], ["--list", "--json"]),
                            ([Task("Far", due(20))], ["--week"]),
                            ([Task("Gone", due(1), deleted="Y")], ["--list"])]:
            with self.subTest(tasks=tasks, args=args):
                self.write(tasks)
                out, err = self.piped(*args)
                self.assertEqual(err, "No tasks.\n")
                if "--json" in args:
                    self.assertEqual(json.loads(out), [])
                else:
                    self.assertEqual(out, "")

    # Titles and names of each kind of width; the columns after them must
    # start in one place.
    SCRIPTS = [("Plain title", "Anna"), ("漢字のタスク", "李"), ("Ｆｕｌｌｗｉｄｔｈ", "Sam"),
               ("Party 🎉🎂", "Zoë"), ("Cafe\u0301 ame\u0301lie\u0301", "Jo\u0308rg"),
               ("한국어 제목", "")]

    def test_columns_line_up_by_display_width(self):
        self.write([Task(t, due(i), w) for i, (t, w) in enumerate(self.SCRIPTS)])
        lines, _ = self.on_terminal("--list")
        self.assertEqual(len(lines), len(self.SCRIPTS))
        for line, (title, whom) in zip(lines, self.SCRIPTS):
            self.assertIn(title, line)
            # Python's wcwidth agrees with the width the columns are made of.
            self.assertEqual(wcwidth.wcswidth(title), width(title), title)
        starts = {width(line[:line.index(title)]) for line, (title, _) in zip(lines, self.SCRIPTS)}
        self.assertEqual(len(starts), 1, lines)
        fors = {width(line[:line.index("for " + whom)]) for line, (_, whom) in
                zip(lines, self.SCRIPTS) if whom}
        self.assertEqual(len(fors), 1, lines)
        # No "for" at all for a task that is for no one, nor blanks after it.
        self.assertNotIn("for", lines[-1])
        self.assertEqual(lines[-1], lines[-1].rstrip())
        self.assertIn(" 1 day left ", lines[1])

    def test_the_program_measures_characters_as_python_does(self):
        # A spread of assigned characters of every kind, where Python's two
        # tables agree; each title is padded to the widest, so a character
        # measured wrong moves its line's "for" column.
        chars = [chr(cp) for cp in range(0x20, 0x32000, 211)
                 if unicodedata.category(chr(cp)) not in ("Cc", "Cn", "Cs", "Co", "Zl", "Zp")
                 and wcwidth.wcwidth(chr(cp)) == width(chr(cp))]
        self.assertGreater(len(chars), 500)
        chars = chars[:1000]  # the most a list holds
        self.write([Task("a" + c + "b", due(1), "Me") for c in chars])
        out, _ = self.piped("--list")
        lines = out.splitlines()
        self.assertEqual(len(lines), len(chars))
        starts = {}
        for line in lines:
            starts.setdefault(width(line[:line.rindex("  for Me")]), []).append(line)
        self.assertEqual(len(starts), 1, {w: l[:3] for w, l in starts.items()})

    def test_a_long_title_is_cut_to_the_terminal_unless_wide_or_piped(self):
        long = "Renew the passport 漢字 before the trip to the mountains in spring"
        self.write([Task(long, due(2), "Anna"), Task("Short", due(3))])
        for columns, env in [(50, None), (61, None), (0, {"COLUMNS": "45"})]:
            with self.subTest(columns=columns, env=env):
                lines, _ = self.on_terminal("--list", columns=columns,
                                            env={**self.env, **(env or {})})
                most = columns or int(env["COLUMNS"])
                self.assertTrue(all(width(line) <= most for line in lines), lines)
                self.assertIn("…", lines[0])
                self.assertNotIn(long, lines[0])
                self.assertTrue(lines[0].startswith("1  "), lines)
        lines, _ = self.on_terminal("--list", "--wide", columns=50)
        self.assertIn(long, lines[0])
        self.assertTrue(lines[0].endswith("for Anna"))
        out, _ = self.piped("--list")
        self.assertIn(long, out)

    def test_colours_follow_the_terminal(self):
        # Colours as the file keeps them: red + 256 * green + 65536 * blue.
        orange, navy, yellow = 0x3399FF, 0x800000, 0x00FFFF
        self.write([Task("Soon", due(1)), Task("Later", due(5)), Task("Far", due(9))],
                   [Rule(2, orange), Rule(6, navy), Rule(10, yellow)])
        base = dict(self.env)
        cases = [
            # env, line of Soon starts with, Later's marker, Far's letters coloured
            ({"COLORTERM": "truecolor"}, "\x1b[38;2;255;153;51m", "\x1b[38;2;0;0;128m●", True),
            ({"COLORTERM": "24bit"}, "\x1b[38;2;255;153;51m", "\x1b[38;2;0;0;128m●", True),
            # Elsewhere the nearest of the 256-colour palette.
            ({}, "\x1b[38;5;%dm" % nearest256(255, 153, 51), "\x1b[38;5;%dm●" % nearest256(0, 0, 128),
             True),
            # On a light background yellow is the one too light to read.
            ({"COLORTERM": "truecolor", "COLORFGBG": "0;15"}, None, None, False),
        ]
        for extra, soon, later_marker, far_coloured in cases:
            with self.subTest(env=extra):
                lines, _ = self.on_terminal("--list", env={**base, **extra})
                self.assertEqual(len(lines), 3, lines)
                soon_line, later_line, far_line = lines
                if soon:
                    self.assertTrue(soon_line.split("  ", 1)[1].lstrip().startswith(soon),
                                    repr(soon_line))
                if later_marker:
                    self.assertIn(later_marker, later_line)
                    # The letters keep the terminal's own colour.
                    self.assertNotIn("\x1b[38", later_line.split("●", 1)[1])
                self.assertEqual("●" in far_line, not far_coloured, repr(far_line))
                # Stripped of escapes, the columns are those of a plain listing.
                plain = [ESCAPE.sub("", line) for line in lines]
                for column in (["December"] * 3, ["Soon", "Later", "Far"]):
                    self.assertEqual(len({width(p[:p.index(c)]) for p, c in zip(plain, column)}),
                                     1, plain)
        for env in [{**base, "NO_COLOR": "1", "COLORTERM": "truecolor"}]:
            lines, _ = self.on_terminal("--list", env=env)
            self.assertFalse(any("\x1b" in line or "●" in line for line in lines), lines)
        out, _ = self.piped("--list", env={**base, "COLORTERM": "truecolor"})
        self.assertNotIn("\x1b", out)

    def test_week_groups_the_tasks_by_day_overdue_first(self):
        tasks = [Task("Late", due(-2)), Task("Now", due(0, 8)), Task("Also now", due(0, 18)),
                 Task("In three", due(3), "Anna"), Task("Last day", due(6)),
                 Task("Next week", due(7)), Task("Binned", due(1), deleted="Y")]
        self.write(tasks)
        out, err = self.piped("--week")
        self.assertEqual(err, "")
        sections = {}
        heading = None
        for line in out.splitlines():
            if not line:
                continue
            if not line[0].isdigit() and line != "No tasks":
                heading = line
                sections[heading] = []
            else:
                sections[heading].append(line)
        days = [TODAY + datetime.timedelta(days=d) for d in range(7)]
        self.assertEqual(list(sections), ["Overdue"] + [
            "%s %s" % (d.strftime("%A"), d.isoformat()) for d in days])

        def titles(day):
            return [re.split(r"  +", line)[3] if "left" in line or "!" in line else line
                    for line in sections[day]]
        self.assertEqual(titles("Overdue"), ["Late"])
        self.assertEqual(titles(list(sections)[1]), ["Now", "Also now"])
        self.assertEqual(sections[list(sections)[2]], ["No tasks"])
        self.assertEqual(titles(list(sections)[4]), ["In three"])
        self.assertEqual(titles(list(sections)[7]), ["Last day"])
        self.assertNotIn("Next week", out)
        self.assertNotIn("Binned", out)
        # Numbered as --list numbers them.
        self.assertTrue(sections["Overdue"][0].startswith("1  "))
        self.assertTrue(sections[list(sections)[7]][0].startswith("5  "))
        # Filters apply to the week as well.
        out, _ = self.piped("--week", "--for", "anna")
        self.assertEqual(sum(1 for line in out.splitlines() if line[:1].isdigit()), 1)
        self.assertNotIn("Overdue", out)


def nearest256(r, g, b):
    """The xterm palette entry nearest (r, g, b), over the cube and the greys."""
    levels = [0, 95, 135, 175, 215, 255]
    palette = {16 + 36 * i + 6 * j + k: (levels[i], levels[j], levels[k])
               for i in range(6) for j in range(6) for k in range(6)}
    palette.update({232 + i: (8 + 10 * i,) * 3 for i in range(24)})
    return min(palette, key=lambda n: (sum((a - c) ** 2 for a, c in zip(palette[n], (r, g, b))), n))


if __name__ == "__main__":
    unittest.main()
