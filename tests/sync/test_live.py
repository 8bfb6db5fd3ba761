"""The sync as a user meets it beyond one `quillet --sync`: a server whose
certificate is not trusted, the password typed on a terminal and kept in a
real keyring, the reminder's own syncs, and a writer landing in the middle
of a sync. One Radicale with a password serves every case here."""
import fcntl
import os
import queue
import re
import select
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from synctest import (FaultProxy, Fault, Phone, RadicaleWithPassword, Side,  # noqa: E402
                      SYNC_PROGRAM, main, sync_skip_reason, wait_for)

SERVER = None


def setUpModule():
    global SERVER
    reason = sync_skip_reason()
    if reason:
        raise unittest.SkipTest(reason)
    SERVER = RadicaleWithPassword().start()


def tearDownModule():
    if SERVER:
        SERVER.stop()


def snapshot(folder, skip=("runtime",)):
    """Every file under folder (but the runtime folder's sockets and locks)
    and its bytes."""
    out = {}
    for top, dirs, files in os.walk(folder):
        dirs[:] = [d for d in dirs if os.path.join(top, d) != os.path.join(folder, *skip)]
        for name in files:
            path = os.path.join(top, name)
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, "rb") as f:
                    out[os.path.relpath(path, folder)] = f.read()
    return out


def settings_text(data):
    """A settings file's text with its byte arrays' escapes undone."""
    return re.sub(r"\\x([0-9a-f]{2})", lambda m: chr(int(m.group(1), 16)),
                  data.decode("latin-1"))


def settings_bytes(text):
    """settings_text's inverse for a file of byte arrays: each escaped whole
    again, as the program writes them."""
    return re.sub(r"@ByteArray\((.*)\)", lambda m: "@ByteArray(%s)" % "".join(
        "\\x%02x" % b for b in m.group(1).encode("latin-1")), text).encode("latin-1")


class PrivateBus:
    """A session bus of the test's own; `env` gets its address."""

    def __init__(self, env):
        self.env = env
        self.processes = []
        self.bus = self.start(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        address = self.bus.stdout.readline().decode().strip()
        self.bus.stdout.close()
        if not address:
            self.close()
            raise unittest.SkipTest("dbus-daemon gave no address")
        env["DBUS_SESSION_BUS_ADDRESS"] = address

    def start(self, command, **how):
        p = subprocess.Popen(["timeout", "600"] + command, env=self.env, start_new_session=True,
                             **how)
        self.processes.append(p)
        return p

    def owned(self, name):
        r = subprocess.run(["dbus-send", "--session", "--print-reply",
                            "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus.NameHasOwner", "string:" + name], env=self.env,
                           capture_output=True, timeout=10)
        return b"boolean true" in r.stdout

    def close(self):
        for p in reversed(self.processes):
            if p.poll() is None:
                os.killpg(p.pid, signal.SIGTERM)
                p.wait(timeout=10)


# A notification service that shows nothing: the reminder needs one to run.
FAKE_NOTIFICATIONS = r"""
from gi.repository import Gio, GLib
XML = ('<node><interface name="org.freedesktop.Notifications">'
       '<method name="GetCapabilities"><arg type="as" direction="out"/></method>'
       '<method name="Notify"><arg type="s"/><arg type="u"/><arg type="s"/><arg type="s"/>'
       '<arg type="s"/><arg type="as"/><arg type="a{sv}"/><arg type="i"/>'
       '<arg type="u" direction="out"/></method>'
       '<method name="CloseNotification"><arg type="u"/></method>'
       '<method name="GetServerInformation"><arg type="s" direction="out"/>'
       '<arg type="s" direction="out"/><arg type="s" direction="out"/>'
       '<arg type="s" direction="out"/></method></interface></node>')
answers = {"GetCapabilities": GLib.Variant("(as)", (["body"],)),
           "Notify": GLib.Variant("(u)", (1,)), "CloseNotification": None,
           "GetServerInformation": GLib.Variant("(ssss)", ("fake", "test", "1", "1.2"))}
def call(connection, sender, path, interface, method, args, invocation):
    invocation.return_value(answers[method])
def acquired(connection, name):
    connection.register_object("/org/freedesktop/Notifications",
                               Gio.DBusNodeInfo.new_for_xml(XML).interfaces[0], call)
Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.Notifications",
                 Gio.BusNameOwnerFlags.NONE, acquired, None, None)
GLib.MainLoop().run()
"""


class LiveCase(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="quillet-live-")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.collection = SERVER.new_collection()
        self.phone = Phone(SERVER, self.collection)
        self.a = Side(self.root, "a")

    def link(self, side, url=None):
        side.setup(url or "%s%s" % (SERVER.root, self.collection.lstrip("/")),
                   *SERVER.link_args())

    def server_titles(self):
        return sorted(i.fields()["title"] for i in self.phone.items().values())

    def exported_uids(self, side):
        """The UID of each task by title, as --export-ics gives them."""
        return {f["title"]: uid for uid, f in side.exported().items()}


# --- a certificate that is not trusted -------------------------------------------

class TlsListener:
    """A TLS server on loopback with its own self-signed certificate; keeps
    whatever a client sends once the handshake succeeded."""

    def __init__(self, folder, name):
        key, cert = os.path.join(folder, "key.pem"), os.path.join(folder, "cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                        key, "-out", cert, "-days", "2", "-subj", "/CN=" + name, "-addext",
                        "subjectAltName=" + ("IP:" if name[0].isdigit() else "DNS:") + name],
                       check=True, capture_output=True, timeout=60)
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.load_cert_chain(cert, key)
        self.socket = socket.create_server(("127.0.0.1", 0))
        self.port = self.socket.getsockname()[1]
        self.received = b""
        self.handshakes = 0
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                raw, _ = self.socket.accept()
            except OSError:
                return
            raw.settimeout(10)
            try:
                with self.context.wrap_socket(raw, server_side=True) as s:
                    self.handshakes += 1
                    while True:
                        data = s.recv(65536)
                        if not data:
                            break
                        self.received += data
            except (OSError, ssl.SSLError):
                raw.close()

    def close(self):
        self.socket.close()


class CertificateCases(LiveCase):
    def test_untrusted_certificate_is_refused_with_its_reason(self):
        cases = [
            # (the certificate's name, what Qt's reason says)
            ("127.0.0.1", r"self.signed"),
            ("calendar.example.org", r"host name did not match|self.signed"),
        ]
        # A list already syncing over plain http on loopback, then moved by
        # hand to an https address: the sync must refuse it too.
        self.link(self.a)
        self.a.add("kept")
        self.a.sync()
        conf = os.path.join(self.a.folder, "config", "quillet", "sync.conf")
        with open(conf, "rb") as f:
            linked = f.read()
        plain = "http://127.0.0.1:%d" % SERVER.port
        self.assertIn(plain, settings_text(linked))
        for name, reason in cases:
            with self.subTest(certificate=name):
                folder = tempfile.mkdtemp(dir=self.root)
                listener = TlsListener(folder, name)
                self.addCleanup(listener.close)
                https = "https://127.0.0.1:%d" % listener.port
                with open(conf, "wb") as f:
                    f.write(settings_bytes(settings_text(linked).replace(plain, https)))
                before = snapshot(self.a.folder)
                for args in (["--sync-setup", https + self.collection, *SERVER.link_args()],
                             ["--sync"]):
                    run = self.a.run(*args, status=1)
                    said = run.stderr.decode()
                    self.assertRegex(said, "certificate", args[0])
                    self.assertRegex(said, re.compile(reason, re.I), args[0])
                    self.assertNotIn(SERVER.password, said + run.stdout.decode())
                self.assertEqual(snapshot(self.a.folder), before)
                self.assertEqual(listener.received, b"", "a request went over it")
        with open(conf, "wb") as f:
            f.write(linked)
        self.assertEqual(sorted(self.a.tasks()), ["kept"])


# --- the keyring ------------------------------------------------------------------

def keyring_skip_reason():
    for tool in ("dbus-daemon", "gnome-keyring-daemon", "dbus-send"):
        if not shutil.which(tool):
            return "%s is not installed (scripts/install-deps installs it)" % tool
    return None


class Keyring(PrivateBus):
    """gnome-keyring's Secret Service on a private bus, unlocked with a
    password of its own, all under the side's home."""

    def __init__(self, env):
        super().__init__(env)
        self.daemon = self.start(["gnome-keyring-daemon", "--foreground", "--unlock",
                                  "--components=secrets"], stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.daemon.stdin.write(b"the keyring's own\n")
        self.daemon.stdin.close()
        try:
            wait_for(lambda: self.owned("org.freedesktop.secrets"),
                     "the Secret Service on the bus", process=self.daemon)
        except AssertionError as e:
            said = self.daemon.stdout.read().decode(errors="replace") \
                if self.daemon.poll() is not None else ""
            self.close()
            raise unittest.SkipTest("gnome-keyring-daemon could not be started: %s %s"
                                    % (e, said))
        finally:
            self.daemon.stdout.close()


def run_on_terminal(side, args, typed, timeout=120):
    """quillet run with a pty as its controlling terminal (stdin too) and
    stdout, stderr apart: waits for the password prompt, types `typed` once
    echo is off. Returns (status, stdout, stderr, what the terminal showed)."""
    master, slave = os.openpty()

    def take_terminal():
        fcntl.ioctl(0, termios.TIOCSCTTY, 0)
    p = subprocess.Popen([side_program(), *args, "--file", side.file], cwd=side.folder,
                         env=side.env, stdin=slave, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, start_new_session=True,
                         preexec_fn=take_terminal)
    os.close(slave)
    shown = b""
    deadline = time.monotonic() + timeout
    typed_yet = False
    try:
        while p.poll() is None and time.monotonic() < deadline:
            ready, _, _ = select.select([master], [], [], 0.05)
            if ready:
                try:
                    shown += os.read(master, 4096)
                except OSError:
                    break
            if not typed_yet and b"Password for" in shown:
                # Typed only once echo is off: the program flushes what came before.
                if not termios.tcgetattr(master)[3] & termios.ECHO:
                    os.write(master, typed.encode() + b"\n")
                    typed_yet = True
        out, err = p.communicate(timeout=max(1, deadline - time.monotonic()))
    finally:
        if p.poll() is None:
            os.killpg(p.pid, signal.SIGKILL)
            p.wait()
        os.close(master)
    return p.returncode, out.decode(), err.decode(), shown.decode(errors="replace")


def side_program():
    from synctest import QUILLET
    return QUILLET


class KeyringCases(LiveCase):
    def setUp(self):
        super().setUp()
        reason = keyring_skip_reason()
        if reason:
            self.skipTest(reason)
        self.keyring = Keyring(self.a.env)
        self.addCleanup(self.keyring.close)

    def assert_secret_nowhere(self, secret, *outputs):
        for path, data in snapshot(self.a.folder, skip=()).items():
            self.assertNotIn(secret.encode(), data, path)
        for text in outputs:
            self.assertNotIn(secret, text)

    def test_password_typed_kept_in_keyring_and_used(self):
        url = "%s%s" % (SERVER.root, self.collection.lstrip("/"))
        status, out, err, shown = run_on_terminal(
            self.a, ["--sync-setup", url, "--user", SERVER.user], SERVER.password)
        self.assertEqual(status, 0, out + err + shown)
        self.assertIn("Password for", shown)
        self.a.add("from here")
        # No terminal now: the keyring gives the password.
        counts = self.a.sync()
        self.assertEqual(counts.sent, 1)
        self.assertEqual(self.server_titles(), ["from here"])
        synced = self.a.run("--sync")
        self.assert_secret_nowhere(SERVER.password, out, err, shown,
                                   synced.stdout.decode(), synced.stderr.decode())

        # The server's password changed: refused with 401, nothing lost.
        htpasswd = os.path.join(SERVER.folder, "htpasswd")
        with open(htpasswd) as f:
            kept = f.read()
        self.addCleanup(lambda: open(htpasswd, "w").write(kept))
        with open(htpasswd, "w") as f:
            f.write("%s:another one\n" % SERVER.user)
        self.a.add("while refused")
        before = snapshot(self.a.folder)
        refused = self.a.run("--sync", status=1)
        self.assertIn("401", refused.stderr.decode())
        self.assertEqual(snapshot(self.a.folder), before)
        with open(htpasswd, "w") as f:
            f.write(kept)
        self.assertEqual(self.a.sync().sent, 1)
        self.assertEqual(self.server_titles(), ["from here", "while refused"])

    def test_wrong_password_typed_is_refused(self):
        url = "%s%s" % (SERVER.root, self.collection.lstrip("/"))
        self.a.add("stays")
        before = snapshot(self.a.folder)
        status, out, err, shown = run_on_terminal(
            self.a, ["--sync-setup", url, "--user", SERVER.user], "not the password")
        self.assertEqual(status, 1, out + err)
        self.assertIn("401", err)
        self.assertEqual(snapshot(self.a.folder), before)
        self.assert_secret_nowhere("not the password", out, err, shown)


# --- the reminder's syncs -----------------------------------------------------------

class ReminderCases(LiveCase):
    def setUp(self):
        super().setUp()
        if not shutil.which("dbus-daemon"):
            self.skipTest("dbus-daemon is not installed")
        self.proxy = FaultProxy(SERVER)
        self.addCleanup(self.proxy.close)
        self.link(self.a, self.proxy.url(self.collection))

    def remind(self, **env):
        """quillet --remind on a private session bus with a notification
        service that shows nothing, its messages in a file."""
        from synctest import QUILLET
        environment = dict(self.a.env, **env)
        bus = PrivateBus(environment)
        self.addCleanup(bus.close)
        service = bus.start([sys.executable, "-c", FAKE_NOTIFICATIONS])
        wait_for(lambda: bus.owned("org.freedesktop.Notifications"),
                 "the notification service on the bus", process=service)
        self.said = os.path.join(self.root, "remind-%d.err" % len(os.listdir(self.root)))
        with open(self.said, "wb") as err:
            p = subprocess.Popen(["timeout", "600", QUILLET, "--remind", "--file", self.a.file],
                                 cwd=self.a.folder, env=environment, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=err, start_new_session=True)

        def end():
            if p.poll() is None:
                os.killpg(p.pid, signal.SIGTERM)
                try:
                    p.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    os.killpg(p.pid, signal.SIGKILL)
                    p.wait()
        self.addCleanup(end)
        return p

    def messages(self):
        with open(self.said, "rb") as f:
            return f.read().decode(errors="replace")

    def on_server(self, *titles, process=None):
        wait_for(lambda: set(titles) <= set(self.server_titles()),
                 "%s on the server" % (titles,), timeout=60, process=process)

    def test_change_syncs_soon_and_a_server_down_loses_nothing(self):
        reminder = self.remind()
        self.a.add("first")
        self.on_server("first", process=reminder)
        # The server down while a change is to go up.
        self.proxy.inject(Fault("drop", times=None))
        self.proxy.reset()
        self.a.add("while down")
        wait_for(lambda: self.proxy.count() > 0 and "could not be reached" in self.messages(),
                 "a sync tried while the server is down", timeout=60, process=reminder)
        self.assertIsNone(reminder.poll())
        self.assertEqual(sorted(self.a.tasks()), ["first", "while down"])
        self.proxy.clear()
        self.a.add("back")
        self.on_server("first", "while down", "back", process=reminder)
        self.assertEqual(sorted(self.a.tasks()), ["back", "first", "while down"])
        self.assertIsNone(reminder.poll())

    def test_periodic_sync_picks_up_the_phone(self):
        self.a.add("here")
        self.a.sync()
        reminder = self.remind(QUILLET_SYNC_EVERY="2")
        # Past the sync at its start, nothing changes here: only the period
        # can bring the phone's to-do.
        self.proxy.reset()
        wait_for(lambda: self.proxy.count("PROPFIND") + self.proxy.count("REPORT") > 0,
                 "the sync at the reminder's start", timeout=60, process=reminder)
        self.phone.put("phone-1@example.org", "from the phone", ["DUE:20270115T100000Z"])
        wait_for(lambda: "from the phone" in self.a.tasks(), "the phone's to-do here",
                 timeout=60, process=reminder)
        self.assertEqual(sorted(self.a.tasks()), ["from the phone", "here"])


# --- a writer in the middle of a sync ---------------------------------------------

class Debugger:
    """quillet-sync under gdb, stopped at the first look-up of the UIDs
    (right after the sync loaded the list), then let go."""

    def __init__(self, side, function="Module1::taskUids"):
        self.lines = queue.Queue()
        self.p = subprocess.Popen(["timeout", "300", "gdb", "-q", "-nx", "--args", SYNC_PROGRAM,
                                   "--sync", "--file", side.file], cwd=side.folder,
                                  env=side.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, start_new_session=True)
        threading.Thread(target=self._read, daemon=True).start()
        self.send("set pagination off", "set confirm off", "set startup-with-shell off",
                  "tbreak " + function, "run")
        self.output = ""
        self.expect(r"Temporary breakpoint 1, |exited|ptrace|Operation not permitted")
        if "Temporary breakpoint 1, " not in self.output:
            self.close()
            raise unittest.SkipTest("gdb could not stop quillet-sync: " + self.output[-500:])

    def _read(self):
        for line in self.p.stdout:
            self.lines.put(line.decode(errors="replace"))
        self.lines.put(None)

    def send(self, *commands):
        self.p.stdin.write("".join(c + "\n" for c in commands).encode())
        self.p.stdin.flush()

    def expect(self, pattern, timeout=120):
        deadline = time.monotonic() + timeout
        while not re.search(pattern, self.output):
            try:
                line = self.lines.get(timeout=max(0.01, deadline - time.monotonic()))
            except queue.Empty:
                raise AssertionError("gdb: no %r within %d s:\n%s" % (pattern, timeout,
                                                                     self.output[-2000:]))
            if line is None:
                raise AssertionError("gdb ended:\n" + self.output[-2000:])
            self.output += line

    def finish(self):
        """Lets the sync go on; its exit status."""
        self.send("continue")
        self.expect(r"\[Inferior 1 \(process \d+\) exited (normally|with code \d+)\]")
        found = re.search(r"exited (normally|with code (\d+))", self.output)
        self.close()
        return 0 if found.group(1) == "normally" else int(found.group(2), 8)

    def close(self):
        if self.p.poll() is None:
            try:
                self.send("kill", "quit")
                self.p.wait(timeout=10)
            except (OSError, subprocess.TimeoutExpired):
                os.killpg(self.p.pid, signal.SIGKILL)
                self.p.wait()


def waiting_on_lock(pid, runtime):
    """The process has a lock file of the runtime folder open that another
    process holds a flock on: it waits for the list's lock."""
    inodes = set()
    try:
        for fd in os.listdir("/proc/%d/fd" % pid):
            try:
                target = os.readlink("/proc/%d/fd/%s" % (pid, fd))
                if target.startswith(runtime):
                    inodes.add(os.stat(target).st_ino)
            except OSError:
                pass
    except OSError:
        return False
    with open("/proc/locks") as f:
        for line in f:
            fields = line.split()
            if len(fields) > 5 and fields[1] == "FLOCK" and fields[4] != str(pid):
                if int(fields[5].rsplit(":", 1)[1]) in inodes:
                    return True
    return False


class UidRaceCases(LiveCase):
    def setUp(self):
        super().setUp()
        if not shutil.which("gdb"):
            self.skipTest("gdb is not installed (scripts/install-deps installs it)")
        self.link(self.a)

    def test_writer_during_sync_keeps_every_uid(self):
        calendar = os.path.join(self.root, "from-a-calendar.ics")
        with open(calendar, "w") as f:
            f.write("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\nBEGIN:VTODO\r\n"
                    "UID:imported-1@example.org\r\nDTSTAMP:20261201T100000Z\r\n"
                    "SUMMARY:imported\r\nDUE:20270120T090000Z\r\nEND:VTODO\r\nEND:VCALENDAR\r\n")
        writers = [
            # (the writer's command, the new task's title, its UID if known)
            (["--import-ics", calendar], "imported", "imported-1@example.org"),
            (["--add", "added", "--due", "2027-01-21 10:00"], "added", None),
        ]
        for args, title, uid in writers:
            with self.subTest(writer=args[0]):
                self.collection = SERVER.new_collection()
                self.phone = Phone(SERVER, self.collection)
                self.a = Side(self.root, "a-" + args[0].strip("-"))
                self.link(self.a)
                for t in ("one", "two", "three"):
                    self.a.add(t)
                self.a.sync()
                # A change on the server, so that the sync also changes the list.
                item = self.phone.find("two")
                self.phone.edit(item, ["SUMMARY:two on the phone"])
                before = self.exported_uids(self.a)

                sync = Debugger(self.a)
                writer = subprocess.Popen([side_program(), *args, "--file", self.a.file],
                                          cwd=self.a.folder, env=self.a.env,
                                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                          stdin=subprocess.DEVNULL)
                runtime = self.a.env["XDG_RUNTIME_DIR"]
                wait_for(lambda: writer.poll() is not None or waiting_on_lock(writer.pid, runtime),
                         "the writer done or waiting for the list's lock", timeout=60)
                seen = None
                if writer.poll() is not None:
                    # It got in while the sync had the list loaded: the UID it
                    # has now is the one a calendar would be given.
                    seen = self.exported_uids(self.a).get(title)
                self.assertEqual(sync.finish(), 0, sync.output[-2000:])
                out, err = writer.communicate(timeout=60)
                self.assertEqual(writer.returncode, 0, out.decode() + err.decode())
                if seen is None:
                    seen = self.exported_uids(self.a).get(title)
                if uid:
                    self.assertEqual(seen, uid)

                self.a.sync()
                after = self.exported_uids(self.a)
                self.assertEqual(after.get(title), seen, "the new task's UID changed")
                self.assertEqual(after.get("two on the phone"), before["two"])
                for t in ("one", "three"):
                    self.assertEqual(after[t], before[t], t)
                server = {i.uid: i.fields()["title"] for i in self.phone.items().values()}
                self.assertEqual(server, {u: t for t, u in after.items()})


if __name__ == "__main__":
    main()
