#!/usr/bin/env python3
"""Shell completion as installed by `cmake --install`, found where Debian's
bash-completion, zsh and fish look for it and run by each shell: options,
WHEN forms, file names, and task numbers from `quillet --list`.

The numbers come from a stand-in quillet on PATH that prints numbered task
lines and notes the arguments it was given, so that the test also sees
which list the completion asked for."""
import os
import pty
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

BUILD = os.path.abspath(os.environ.get("QUILLET_BUILD_DIR") or sys.argv.pop(1))
QUILLET = os.path.join(BUILD, "src", "app", "quillet")
GUARD_S = 20

STAND_IN = r"""#!/bin/sh
echo "$*" >> "$QUILLET_ARGS"
case " $* " in
  *" --recycled "*) printf ' 7  Old bill, for Me\n12  Gone for good\n' ;;
  *) printf ' 1  Pay the rent\n 2  Call Sam\nNo tasks of that kind below\n' ;;
esac
"""

# (what is typed, what must be offered, the stand-in's arguments or None)
CASES = [
    ("quillet --d", {"--due", "--done", "--delete", "--due-within"}, None),
    ("quillet --due t", {"today", "tomorrow", "tuesday", "thursday"}, None),
    ("quillet --due sa", {"saturday"}, None),
    ("quillet --done ", {"1", "2"}, "--list"),
    ("quillet --edit ", {"1", "2"}, "--list"),
    ("quillet --file /lists/work.txt --delete ", {"7", "12"},
     "--list --recycled --file /lists/work.txt"),
    ("quillet --restore ", {"7", "12"}, "--list --recycled"),
    ("quillet --import-ics ", {"cal.ics"}, None),
]
# Options the program is getting beside the ones its --help has now.
COMING = {"--done", "--restore", "--delete", "--edit", "--title", "--due-within", "--overdue",
          "--week", "--wide", "--sync", "--sync-setup", "--user", "--calendar",
          "--password-command"}


def help_options():
    said = subprocess.run([QUILLET, "--help"], capture_output=True, text=True, check=True).stdout
    return set(re.findall(r"^\s+(?:-\w, )?(--[\w-]+)", said, re.M))


class Completion(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="quillet-completion-")
        cls.prefix = os.path.join(cls.dir, "prefix")
        subprocess.run(["cmake", "--install", BUILD, "--prefix", cls.prefix], check=True,
                       capture_output=True)
        bin_dir = os.path.join(cls.dir, "bin")
        os.mkdir(bin_dir)
        with open(os.path.join(bin_dir, "quillet"), "w") as f:
            f.write(STAND_IN)
        os.chmod(os.path.join(bin_dir, "quillet"), 0o755)
        cls.cwd = os.path.join(cls.dir, "here")
        os.mkdir(cls.cwd)
        for name in ("cal.ics", "notes.txt"):
            open(os.path.join(cls.cwd, name), "w").close()
        home = os.path.join(cls.dir, "home")
        os.mkdir(home)
        cls.args = os.path.join(cls.dir, "args")
        cls.env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                       XDG_DATA_HOME=os.path.join(home, ".local", "share"),
                       XDG_DATA_DIRS=os.path.join(cls.prefix, "share") + ":/usr/share",
                       PATH=bin_dir + ":" + os.environ["PATH"], QUILLET_ARGS=cls.args,
                       LC_ALL="C.UTF-8", TERM="xterm")
        for name in ("BASH_COMPLETION_USER_DIR", "VISUAL", "EDITOR"):
            cls.env.pop(name, None)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def setUp(self):
        if os.path.exists(self.args):
            os.remove(self.args)

    def asked(self):
        if not os.path.exists(self.args):
            return []
        with open(self.args) as f:
            return f.read().splitlines()

    def check_cases(self, offered_for):
        every = offered_for("quillet --")
        for option in help_options() | COMING:
            self.assertIn(option, every, "quillet -- does not offer " + option)
        for typed, wanted, asked in CASES:
            with self.subTest(typed):
                if os.path.exists(self.args):
                    os.remove(self.args)
                offered = offered_for(typed)
                self.assertLessEqual(wanted, offered)
                if asked:
                    self.assertIn(asked, self.asked())

    def test_bash(self):
        if not os.path.exists("/usr/share/bash-completion/bash_completion"):
            self.skipTest("bash-completion is not installed")
        # bash-completion's own loader finds the script by the command's name.
        script = r"""
source /usr/share/bash-completion/bash_completion
_completion_loader quillet
complete -p quillet
offer() {
    read -r -a COMP_WORDS <<< "$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) COMP_LINE=$1 COMP_POINT=${#1} COMPREPLY=()
    _quillet quillet "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}"
}
offer "$TYPED"
"""
        def offered_for(typed):
            run = subprocess.run(["bash", "--norc", "--noprofile", "-i", "-c", script],
                                 cwd=self.cwd, env=dict(self.env, TYPED=typed),
                                 capture_output=True, text=True, timeout=GUARD_S)
            lines = run.stdout.splitlines()
            self.assertEqual(lines[:1], ["complete -F _quillet quillet"], run.stderr)
            return set(lines[1:])
        self.check_cases(offered_for)

    def test_fish(self):
        if not shutil.which("fish"):
            self.skipTest("fish is not installed")

        def offered_for(typed):
            run = subprocess.run(["fish", "-c", 'complete -C "$TYPED"'], cwd=self.cwd,
                                 env=dict(self.env, TYPED=typed), capture_output=True, text=True,
                                 timeout=GUARD_S)
            return {line.split("\t")[0] for line in run.stdout.splitlines()}
        self.check_cases(offered_for)

    def test_zsh(self):
        if not shutil.which("zsh"):
            self.skipTest("zsh is not installed")
        # zsh completes only in its line editor, at a terminal: the words are
        # typed into one and what the completion adds is noted by a compadd
        # that writes each match (as "word" or "word:description") to a
        # file. The function is found through fpath, as Debian's zsh finds
        # its vendor completions.
        capture = os.path.join(self.dir, "matches")
        pid, fd = pty.fork()
        if pid == 0:
            os.chdir(self.cwd)
            os.execvpe("zsh", ["zsh", "-f", "-i"], dict(self.env, CAPTURE=capture))
        shown = b""

        def until(marker):
            nonlocal shown
            deadline = time.monotonic() + GUARD_S
            while marker not in shown:
                if time.monotonic() > deadline:
                    return False
                ready, _, _ = select.select([fd], [], [], 0.2)
                if ready:
                    try:
                        shown += os.read(fd, 65536)
                    except OSError:
                        return False
            return True

        serial = 0

        def offered_for(typed):
            nonlocal shown, serial
            serial += 1
            shown = b""
            open(capture, "w").close()
            # The marker's keys wait until the completion has added its
            # matches and the terminal is quiet: zsh completes nothing while
            # more keys are pending. ^U empties the line for the marker,
            # which only the command's output spells out.
            os.write(fd, typed.encode() + b"\t")
            deadline = time.monotonic() + GUARD_S
            while time.monotonic() < deadline and (
                    not os.path.getsize(capture) or select.select([fd], [], [], 0.3)[0]):
                if select.select([fd], [], [], 0.05)[0]:
                    shown += os.read(fd, 65536)
            os.write(fd, b"\x15echo ${:-done}-%d\n" % serial)
            self.assertTrue(until(b"done-%d\r\n" % serial), shown)
            with open(capture) as f:
                return {line.split(":")[0] for line in f.read().splitlines()}

        noting = (r'compadd() { local -a m; local i=${@[(I)-D]}; '
                  r'if (( ! ${@[(I)-[OAD]]} )); then builtin compadd -O m "$@"; '
                  r'print -rl -- $m >> $CAPTURE; fi; builtin compadd "$@"; local r=$?; '
                  r'(( i )) && print -rl -- ${(P)${@[i+1]}} >> $CAPTURE; return r; }')
        setup = ("PS1='> '; fpath=(%s $fpath); autoload -U compinit; compinit -u -D; %s; "
                 "print -r -- ${:-ready}-$_comps[quillet]-\n"
                 % (os.path.join(self.prefix, "share", "zsh", "vendor-completions"), noting))
        try:
            os.write(fd, setup.encode())
            self.assertTrue(until(b"ready-_quillet-\r\n"), shown)
            self.check_cases(offered_for)
        finally:
            os.write(fd, b"exit\n")
            os.close(fd)
            os.waitpid(pid, 0)


if __name__ == "__main__":
    unittest.main()
