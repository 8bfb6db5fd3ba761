"""What the calendar sync tests share: CalDAV servers on loopback (Radicale,
Xandikos), a "phone" that writes raw VTODOs over HTTP, a fault proxy between
Quillet and the server, and Quillet lists each in its own home.

Every server and list lives in a temporary folder; every process is bounded
by a hang guard and ended by the test that started it.
"""
import collections
import datetime
import http.client
import http.server
import itertools
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse
import xml.etree.ElementTree as ET
import zoneinfo

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support"))
from quillettest import Task, program_env, task_file  # noqa: E402,F401

import icalendar  # noqa: E402

QUILLET = os.path.abspath(os.environ.get("QUILLET_BINARY") or
                          os.path.join(os.path.dirname(__file__), os.pardir, os.pardir, "build",
                                       "src", "app", "quillet"))
SYNC_PROGRAM = os.path.join(os.path.dirname(QUILLET), "quillet-sync")
PYTHON = "/usr/bin/python3"  # Debian's, which has radicale, icalendar and hypothesis
COUNTS = re.compile(r"(\d+) sent, (\d+) received, (\d+) merged, (\d+) conflicts")
CONFLICT = re.compile(r"Sync conflict \d{4}-\d\d-\d\d \d\d:\d\d, the calendar had: (\w[\w ]*?) \"(.*)\"")
# A hang guard, ten times what a quiet machine takes for the largest sync here.
SYNC_TIMEOUT = 300

# ctest shows a module whose every test skipped as skipped, not passed.
SKIP_STATUS = 77


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(condition, what, timeout=30.0, process=None):
    """Polls until condition() is true; fails after timeout (a hang guard)."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if process is not None and process.poll() is not None:
            raise AssertionError("%s: the process ended with %s" % (what, process.returncode))
        if time.monotonic() > deadline:
            raise AssertionError("%s: not within %.0f s" % (what, timeout))
        time.sleep(0.05)


def sync_skip_reason():
    """Why the sync scenarios cannot run here, or None."""
    if not os.path.exists(QUILLET):
        return "quillet is not built (%s)" % QUILLET
    if not os.path.exists(SYNC_PROGRAM):
        return "quillet-sync is not built beside %s" % QUILLET
    return None


# --- servers -----------------------------------------------------------------

class Server:
    """A CalDAV server on a free loopback port, storing in its own folder."""
    name = "server"
    user = None
    password = None

    def __init__(self):
        # In memory where there is a tmpfs: the servers fsync every item, which
        # on a disk costs more than everything else in these tests.
        memory = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
        self.folder = tempfile.mkdtemp(prefix="quillet-%s-" % self.name, dir=memory)
        self.port = free_port()
        self.process = None
        self.log = open(os.path.join(self.folder, "log"), "wb")
        self.collections = itertools.count(1)

    @property
    def root(self):
        return "http://127.0.0.1:%d/" % self.port

    def command(self):
        raise NotImplementedError

    def start(self, tries=3):
        # Bounded: the server ends by itself if the tests never end it.
        self.process = subprocess.Popen(["timeout", "3600"] + self.command(), stdout=self.log,
                                        stderr=subprocess.STDOUT, cwd=self.folder,
                                        start_new_session=True)

        def answers():
            # An HTTP answer, not only a connection: another listener may hold the port.
            try:
                http_request(self.port, "OPTIONS", "/", timeout=2)
                return self.process.poll() is None
            except (OSError, http.client.HTTPException):
                return False
        try:
            wait_for(answers, "%s answering on port %d" % (self.name, self.port),
                     process=self.process)
        except AssertionError as e:
            said = self.tail()
            if tries > 1 and "in use" in said:
                # Another test's server took the port between our look and its bind.
                self.process.wait()
                self.port = free_port()
                return self.start(tries - 1)
            self.stop()
            raise AssertionError("%s\n%s" % (e, said))
        return self

    def tail(self):
        with open(os.path.join(self.folder, "log"), "rb") as f:
            return f.read()[-4000:].decode(errors="replace")

    def stop(self):
        if self.process and self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
        self.log.close()
        shutil.rmtree(self.folder, ignore_errors=True)

    def link_args(self):
        """What --sync-setup needs besides the URL to reach this server."""
        return []

    def home(self):
        """The path under which the tests make their collections."""
        raise NotImplementedError

    def new_collection(self, name=None):
        """A fresh, empty calendar collection's path, made by MKCALENDAR."""
        path = "%s%s/" % (self.home(), name or "tasks-%d" % next(self.collections))
        body = ('<?xml version="1.0" encoding="utf-8"?>'
                '<C:mkcalendar xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:caldav"><D:set><D:prop>'
                '<D:displayname>%s</D:displayname><C:supported-calendar-component-set>'
                '<C:comp name="VTODO"/></C:supported-calendar-component-set>'
                '</D:prop></D:set></C:mkcalendar>' % path.rstrip("/").rsplit("/", 1)[-1])
        status, _, answer = http_request(self.port, "MKCALENDAR", path, body.encode(),
                                         self.auth_headers())
        if status == 409:  # the home itself is not there yet
            http_request(self.port, "MKCOL", self.home(), None, self.auth_headers())
            status, _, answer = http_request(self.port, "MKCALENDAR", path, body.encode(),
                                             self.auth_headers())
        if status not in (200, 201):
            raise AssertionError("MKCALENDAR %s: %d %s" % (path, status, answer[:300]))
        return path

    def auth_headers(self):
        if self.user is None:
            return {}
        import base64
        token = base64.b64encode(("%s:%s" % (self.user, self.password)).encode()).decode()
        return {"Authorization": "Basic " + token}

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


class Radicale(Server):
    name = "radicale"

    def command(self):
        rights = os.path.join(self.folder, "rights")
        with open(rights, "w") as f:
            # Anyone may do anything: the unauthenticated server.
            f.write("[all]\nuser: .*\ncollection: .*\npermissions: RrWw\n")
        return [PYTHON, "-m", "radicale", "--config", "", "--server-hosts",
                "127.0.0.1:%d" % self.port, "--auth-type", "none", "--rights-type", "from_file",
                "--rights-file", rights, "--storage-filesystem-folder",
                os.path.join(self.folder, "collections"), "--logging-level", "warning"]

    def home(self):
        return "/quillet/"

    def link_args(self):
        # Radicale asks anyone who wants to know who they are to log in;
        # without authentication any name and password will do.
        return ["--user", "quillet", "--password-command", "echo any"]


class RadicaleWithPassword(Radicale):
    """Basic authentication from an htpasswd file in plain text."""
    name = "radicale-auth"
    user = "quillet"
    password = "s3cret word"

    def command(self):
        htpasswd = os.path.join(self.folder, "htpasswd")
        with open(htpasswd, "w") as f:
            f.write("%s:%s\n" % (self.user, self.password))
        return [PYTHON, "-m", "radicale", "--config", "", "--server-hosts",
                "127.0.0.1:%d" % self.port, "--auth-type", "htpasswd", "--auth-htpasswd-filename",
                htpasswd, "--auth-htpasswd-encryption", "plain", "--rights-type", "owner_only",
                "--storage-filesystem-folder", os.path.join(self.folder, "collections"),
                "--logging-level", "warning"]

    def home(self):
        return "/%s/" % self.user

    def link_args(self):
        return ["--user", self.user, "--password-command", "printf '%s'" % self.password]


class Xandikos(Server):
    name = "xandikos"

    def command(self):
        return ["/usr/bin/xandikos", "-d", os.path.join(self.folder, "store"), "--autocreate",
                "-l", "127.0.0.1", "-p", str(self.port), "--current-user-principal", "/user/"]

    def home(self):
        return "/user/calendars/"


SERVERS = {"radicale": Radicale, "xandikos": Xandikos}


def http_request(port, method, path, body=None, headers=None, timeout=60):
    """One request on a fresh connection: (status, headers with lower-case
    names, body)."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        connection.request(method, path, body=body, headers=dict(headers or {}))
        answer = connection.getresponse()
        data = answer.read()
        return answer.status, {k.lower(): v for k, v in answer.getheaders()}, data
    finally:
        connection.close()


# --- the phone -------------------------------------------------------------------

ZONES = {
    "Asia/Tokyo": "BEGIN:VTIMEZONE\nTZID:Asia/Tokyo\nBEGIN:STANDARD\nDTSTART:19700101T000000\n"
                  "TZOFFSETFROM:+0900\nTZOFFSETTO:+0900\nTZNAME:JST\nEND:STANDARD\nEND:VTIMEZONE\n",
    "Europe/Berlin": "BEGIN:VTIMEZONE\nTZID:Europe/Berlin\nBEGIN:DAYLIGHT\nTZOFFSETFROM:+0100\n"
                     "TZOFFSETTO:+0200\nTZNAME:CEST\nDTSTART:19700329T020000\n"
                     "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\nEND:DAYLIGHT\nBEGIN:STANDARD\n"
                     "TZOFFSETFROM:+0200\nTZOFFSETTO:+0100\nTZNAME:CET\nDTSTART:19701025T030000\n"
                     "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\nEND:STANDARD\nEND:VTIMEZONE\n",
    "America/New_York": "BEGIN:VTIMEZONE\nTZID:America/New_York\nBEGIN:DAYLIGHT\n"
                        "TZOFFSETFROM:-0500\nTZOFFSETTO:-0400\nTZNAME:EDT\nDTSTART:19700308T020000\n"
                        "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=2SU\nEND:DAYLIGHT\nBEGIN:STANDARD\n"
                        "TZOFFSETFROM:-0400\nTZOFFSETTO:-0500\nTZNAME:EST\nDTSTART:19701101T020000\n"
                        "RRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU\nEND:STANDARD\nEND:VTIMEZONE\n",
}
PHONE_PRODID = "+//IDN tasks.org//android-130401//EN"


def escape(text):
    return (text.replace("\\", "\\\\").replace(";", "\\;").replace(",", "\\,")
            .replace("\n", "\\n"))


def vtodo(uid, summary=None, lines=(), stamp="20261201T100000Z"):
    """A VCALENDAR holding one VTODO: its UID, SUMMARY, then the raw
    content lines given, and the VTIMEZONE of every TZID they name."""
    body = ["UID:" + uid, "DTSTAMP:" + stamp]
    if summary is not None:
        body.append("SUMMARY:" + escape(summary))
    body += list(lines)
    zones = sorted({m for line in body for m in re.findall(r"TZID=([^:;]+)", line)})
    text = ["BEGIN:VCALENDAR", "VERSION:2.0", "PRODID:" + PHONE_PRODID]
    text += [ZONES[z].rstrip("\n") for z in zones]
    text += ["BEGIN:VTODO"] + body + ["END:VTODO", "END:VCALENDAR", ""]
    return "\r\n".join("\r\n".join(t.split("\n")) for t in text)


def unfolded(text):
    return re.sub(r"\r?\n[ \t]", "", text).replace("\r\n", "\n").split("\n")


def todo_lines(text):
    """The VTODO's own content lines, unfolded (not those of its alarms)."""
    out, depth, inside = [], 0, False
    for line in unfolded(text):
        if line == "BEGIN:VTODO":
            inside, depth = True, 0
            continue
        if not inside:
            continue
        if line.startswith("BEGIN:"):
            depth += 1
        elif line == "END:VTODO" and depth == 0:
            break
        elif line.startswith("END:"):
            depth -= 1
        elif depth == 0:
            out.append(line)
    return out


def prop_name(line):
    return re.split(r"[;:]", line, 1)[0].upper()


def patched(text, set_lines=(), remove=()):
    """text with the VTODO's own properties named in set_lines replaced by
    those lines (added when absent) and those named in remove dropped;
    everything else, alarms too, as it was."""
    names = {prop_name(line) for line in set_lines} | {r.upper() for r in remove}
    lines, out, depth, inside = unfolded(text), [], 0, False
    for line in lines:
        if line == "BEGIN:VTODO":
            inside, depth = True, 0
        elif inside and line.startswith("BEGIN:"):
            depth += 1
        elif inside and line == "END:VTODO" and depth == 0:
            out += list(set_lines)
            inside = False
        elif inside and line.startswith("END:"):
            depth -= 1
        elif inside and depth == 0 and prop_name(line) in names:
            continue
        out.append(line)
    return "\r\n".join(out)


class Item:
    def __init__(self, href, etag, text):
        self.href, self.etag, self.text = href, etag, text
        self.todo = [c for c in icalendar.Calendar.from_ical(text).walk() if c.name == "VTODO"][0]

    @property
    def uid(self):
        return str(self.todo["UID"])

    def lines(self, name):
        return [line for line in todo_lines(self.text) if prop_name(line) == name.upper()]

    def fields(self):
        return fields_of(self.todo)


def fields_of(todo):
    """A VTODO's five fields as Quillet holds them: title, for, note, due
    (an aware datetime, a date, or a naive datetime when floating),
    recycled."""
    due = todo.decoded("DUE") if "DUE" in todo else None
    status = str(todo.get("STATUS", "NEEDS-ACTION")).upper()
    return {"title": str(todo.get("SUMMARY", "")), "for": str(todo.get("CONTACT", "")),
            "note": str(todo.get("DESCRIPTION", "")), "due": due,
            "recycled": status in ("CANCELLED", "COMPLETED")}


class Phone:
    """Another calendar client: raw HTTP on the server (never through the
    proxy), conditional writes as a careful client makes them."""

    def __init__(self, server, collection):
        self.server, self.collection = server, collection

    def request(self, method, path, body=None, headers=None):
        h = dict(self.server.auth_headers())
        h.update(headers or {})
        if isinstance(body, str):
            body = body.encode("utf-8")
        return http_request(self.server.port, method, path, body, h)

    def href(self, uid):
        return self.collection + urllib.parse.quote(uid, safe="@-_.") + ".ics"

    def put(self, uid, summary=None, lines=(), href=None, text=None):
        """Creates a to-do; its ETag (fetched when the server gives none)."""
        href = href or self.href(uid)
        text = text or vtodo(uid, summary, lines)
        status, headers, body = self.request("PUT", href, text, {
            "Content-Type": "text/calendar; charset=utf-8", "If-None-Match": "*"})
        if status not in (200, 201, 204):
            raise AssertionError("PUT %s: %d %s" % (href, status, body[:300]))
        return headers.get("etag") or self.get(href).etag

    def put_many(self, items):
        """Creates (uid, summary, lines) to-dos on one kept-alive connection."""
        connection = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=60)
        headers = dict(self.server.auth_headers(), **{
            "Content-Type": "text/calendar; charset=utf-8", "If-None-Match": "*"})
        try:
            for uid, summary, lines in items:
                connection.request("PUT", self.href(uid), vtodo(uid, summary, lines).encode(),
                                   headers)
                answer = connection.getresponse()
                answer.read()
                if answer.status not in (200, 201, 204):
                    raise AssertionError("PUT %s: %d" % (uid, answer.status))
        finally:
            connection.close()

    def get(self, href):
        status, headers, body = self.request("GET", href)
        if status != 200:
            raise AssertionError("GET %s: %d" % (href, status))
        return Item(href, headers.get("etag"), body.decode("utf-8"))

    def items(self):
        """Every to-do of the collection by UID, with its href and ETag."""
        query = ('<?xml version="1.0" encoding="utf-8"?><C:calendar-query xmlns:D="DAV:" '
                 'xmlns:C="urn:ietf:params:xml:ns:caldav"><D:prop><D:getetag/><C:calendar-data/>'
                 '</D:prop><C:filter><C:comp-filter name="VCALENDAR"><C:comp-filter name="VTODO"/>'
                 '</C:comp-filter></C:filter></C:calendar-query>')
        status, _, body = self.request("REPORT", self.collection, query,
                                       {"Depth": "1", "Content-Type": "application/xml"})
        if status != 207:
            raise AssertionError("REPORT %s: %d %s" % (self.collection, status, body[:300]))
        found = {}
        ns = {"D": "DAV:", "C": "urn:ietf:params:xml:ns:caldav"}
        for response in ET.fromstring(body).findall("D:response", ns):
            href = urllib.parse.unquote(response.findtext("D:href", "", ns))
            etag = response.findtext(".//D:getetag", None, ns)
            data = response.findtext(".//C:calendar-data", None, ns)
            if data:
                item = Item(href, etag, data)
                if item.uid in found:
                    raise AssertionError("two resources hold UID %s: %s and %s"
                                         % (item.uid, found[item.uid].href, href))
                found[item.uid] = item
        return found

    def find(self, title):
        """The one to-do of that title."""
        hits = [i for i in self.items().values() if i.fields()["title"] == title]
        if len(hits) != 1:
            raise AssertionError("%d to-dos titled %r on the server" % (len(hits), title))
        return hits[0]

    def edit(self, item, set_lines=(), remove=(), expect=(200, 201, 204)):
        """Changes the item's properties in place, conditional on its ETag;
        the new ETag, or None when the status is not a success."""
        text = patched(item.text, set_lines, remove)
        status, headers, body = self.request("PUT", item.href, text, {
            "Content-Type": "text/calendar; charset=utf-8", "If-Match": item.etag})
        if status not in expect:
            raise AssertionError("PUT %s: %d %s" % (item.href, status, body[:300]))
        if status >= 300:
            return None
        return headers.get("etag") or self.get(item.href).etag

    def delete(self, item):
        status, _, body = self.request("DELETE", item.href, headers={"If-Match": item.etag})
        if status not in (200, 204):
            raise AssertionError("DELETE %s: %d %s" % (item.href, status, body[:300]))

    def move(self, item, new_href):
        """The server's own rename: the same to-do at a new href (a UID is
        one resource's at a time)."""
        self.delete(item)
        self.put(item.uid, href=new_href, text=item.text)
        return new_href


# --- the fault proxy -----------------------------------------------------------

class Fault:
    """One fault the proxy injects into the requests that match (method and
    regular expressions on the path and on the request's body), from the `after`+1-th match, `times`
    times (None: every one after).

    kind: "drop" closes the connection without forwarding; "delay" waits
    `seconds` and forwards; "status" answers `status` without forwarding;
    "strip-etag" forwards and removes the ETags from the answer (header and
    getetag properties); "before" calls `action(request)` and then forwards
    (an item changed just before an upload reaches the server, or the sync
    killed mid-way); "lose" forwards and closes the connection instead of
    answering, so the server has applied what the client never hears of."""

    def __init__(self, kind, method=None, path=None, after=0, times=1, seconds=0.0, status=503,
                 action=None, body=None, answer=b"injected\n"):
        self.kind, self.method, self.path = kind, method, path and re.compile(path)
        self.body, self.answer = body and re.compile(body), answer
        self.after, self.times, self.seconds, self.status, self.action = (
            after, times, seconds, status, action)
        self.matched = 0
        self.fired = 0

    def applies(self, method, path, body):
        if self.method and method != self.method:
            return False
        if self.path and not self.path.search(path):
            return False
        if self.body and not self.body.search(body):
            return False
        self.matched += 1
        if self.matched <= self.after or (self.times is not None and self.fired >= self.times):
            return False
        self.fired += 1
        return True


Request = collections.namedtuple("Request", "method path headers body")
Seen = collections.namedtuple("Seen", "method path status")


class FaultProxy:
    """An HTTP proxy on loopback in front of one server; counts what passes."""

    def __init__(self, server):
        self.server = server
        self.faults = []
        self.seen = []
        self.renamed = {}  # the server's path -> the path the client sees
        self.lock = threading.Lock()
        proxy = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def handle_one_request(self):
                try:
                    self.raw_requestline = self.rfile.readline(65537)
                    if not self.raw_requestline:
                        self.close_connection = True
                        return
                    if not self.parse_request():
                        return
                    proxy._handle(self)
                except (ConnectionError, socket.timeout):
                    self.close_connection = True

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    @property
    def root(self):
        return "http://127.0.0.1:%d/" % self.port

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def inject(self, *faults):
        with self.lock:
            self.faults.extend(faults)
        return faults[0] if len(faults) == 1 else faults

    def clear(self):
        with self.lock:
            self.faults.clear()
            self.renamed.clear()
        self.reset()

    def reset(self):
        with self.lock:
            self.seen.clear()

    def count(self, method=None):
        with self.lock:
            return sum(1 for s in self.seen if method is None or s.method == method)

    def rename(self, server_path, client_path):
        """The client sees the server's resource at another href, in every
        answer and for every request."""
        with self.lock:
            self.renamed[server_path] = client_path

    def _rewrite_path(self, path):
        for server_path, client_path in self.renamed.items():
            if path == client_path:
                return server_path
        return path

    def _rewrite_body(self, body):
        for server_path, client_path in self.renamed.items():
            body = body.replace(server_path.encode(), client_path.encode())
        return body

    def _handle(self, h):
        length = int(h.headers.get("Content-Length") or 0)
        if h.headers.get("Transfer-Encoding", "").lower() == "chunked":
            body = b""
            while True:
                size = int(h.rfile.readline().split(b";")[0], 16)
                if size == 0:
                    h.rfile.readline()
                    break
                body += h.rfile.read(size)
                h.rfile.readline()
        else:
            body = h.rfile.read(length) if length else b""
        method, path = h.command, h.path
        with self.lock:
            path = self._rewrite_path(path)
            fired = [f for f in self.faults if f.applies(method, path, body)]
        request = Request(method, path, h.headers, body)
        for fault in fired:
            if fault.kind == "drop":
                self._record(method, path, None)
                h.close_connection = True
                h.connection.shutdown(socket.SHUT_RDWR)
                return
            if fault.kind == "status":
                self._record(method, path, fault.status)
                self._answer(h, fault.status, [("Retry-After", "0")], fault.answer)
                return
            if fault.kind == "delay":
                time.sleep(fault.seconds)
            if fault.kind == "before":
                fault.action(request)
        headers = {k: v for k, v in h.headers.items()
                   if k.lower() not in ("host", "connection", "keep-alive", "transfer-encoding",
                                        "content-length", "proxy-connection")}
        try:
            status, answer_headers, data = http_request(self.server.port, method, path, body,
                                                        headers)
        except OSError:
            self._record(method, path, None)
            h.close_connection = True
            h.connection.shutdown(socket.SHUT_RDWR)
            return
        self._record(method, path, status)
        if any(f.kind == "lose" for f in fired):
            h.close_connection = True
            h.connection.shutdown(socket.SHUT_RDWR)
            return
        passed = [(k, v) for k, v in answer_headers.items()
                  if k not in ("connection", "keep-alive", "transfer-encoding", "content-length")]
        if any(f.kind == "strip-etag" for f in fired):
            passed = [(k, v) for k, v in passed if k != "etag"]
            data = re.sub(rb"<([\w-]+:)?getetag\s*>[^<]*</([\w-]+:)?getetag\s*>", b"", data)
        with self.lock:
            if self.renamed:
                data = self._rewrite_body(data)
                passed = [(k, self._rewrite_body(v.encode()).decode()) for k, v in passed]
        self._answer(h, status, passed, data)

    def _record(self, method, path, status):
        with self.lock:
            self.seen.append(Seen(method, path, status))

    @staticmethod
    def _answer(h, status, headers, data):
        h.send_response_only(status)
        for k, v in headers:
            h.send_header(k, v)
        h.send_header("Content-Length", str(len(data)))
        h.end_headers()
        if h.command != "HEAD":
            h.wfile.write(data)
        h.wfile.flush()


# --- Quillet lists -------------------------------------------------------------

Counts = collections.namedtuple("Counts", "sent received merged conflicts")


class Side:
    """One Quillet list in its own home (its own XDG folders and sync
    settings) and time zone."""

    def __init__(self, root, name, zone="Europe/Berlin"):
        self.name, self.zone = name, zone
        self.folder = os.path.join(root, name)
        os.makedirs(self.folder, exist_ok=True)
        self.env = program_env(self.folder)
        self.env["TZ"] = zone
        self.file = os.path.join(self.folder, "tasks.txt")
        if not os.path.exists(self.file):
            self.write([])

    def run(self, *args, status=0, timeout=SYNC_TIMEOUT, stdin=subprocess.DEVNULL):
        run = subprocess.run([QUILLET, *args, "--file", self.file], cwd=self.folder, env=self.env,
                             capture_output=True, timeout=timeout, stdin=stdin)
        if status is not None and run.returncode != status:
            raise AssertionError("%s: quillet %s ended %d, not %d:\n%s%s" % (
                self.name, " ".join(args), run.returncode, status, run.stdout.decode(),
                run.stderr.decode()))
        return run

    def popen(self, *args):
        """The program started in its own process group, to be killed whole."""
        return subprocess.Popen([QUILLET, *args, "--file", self.file], cwd=self.folder,
                                env=self.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                stdin=subprocess.DEVNULL, start_new_session=True)

    def setup(self, url, *extra, status=0, timeout=SYNC_TIMEOUT):
        return self.run("--sync-setup", url, *extra, status=status, timeout=timeout)

    def sync(self, status=0):
        run = self.run("--sync", status=status)
        if status != 0:
            return run
        found = COUNTS.search(run.stdout.decode())
        if not found:
            raise AssertionError("%s: no counts in %r" % (self.name, run.stdout.decode()))
        return Counts(*map(int, found.groups()))

    def write(self, tasks):
        """The list's file written as an editor would, tasks.txt by hand."""
        with open(self.file, "wb") as f:
            f.write(task_file(tasks))

    def edit(self, which, /, remove=False, **changes):
        """tasks.txt rewritten by hand with the task titled `which` changed
        (Task's field names: title, due, for_whom, deleted, note) or left out."""
        tasks, found = [], False
        for t in self.listed():
            task = Task(t["title"], datetime.datetime.fromisoformat(t["due"]), t["for"],
                        "Y" if t["recycled"] else "N", t["note"])
            if t["title"] == which:
                found = True
                if remove:
                    continue
                for name, value in changes.items():
                    setattr(task, name, value)
            tasks.append(task)
        if not found:
            raise AssertionError("%s: no task titled %r" % (self.name, which))
        self.write(tasks)

    def add(self, title, due="2027-01-15 10:00", *extra):
        self.run("--add", title, "--due", due, *extra)

    def listed(self):
        """Every task as --list --json gives it, current then recycled."""
        every = []
        for extra in ([], ["--recycled"]):
            every += json.loads(self.run("--list", "--json", *extra).stdout)
        return every

    def tasks(self):
        """The tasks by title (titles are unique in these tests): the five
        fields, due as an aware moment in this list's zone."""
        zone = zoneinfo.ZoneInfo(self.zone)
        out = {}
        for t in self.listed():
            if t["title"] in out:
                raise AssertionError("%s: two tasks titled %r" % (self.name, t["title"]))
            due = datetime.datetime.fromisoformat(t["due"]).replace(tzinfo=zone)
            out[t["title"]] = {"title": t["title"], "for": t["for"], "note": t["note"],
                               "due": due, "recycled": t["recycled"]}
        return out

    def task(self, title):
        tasks = self.tasks()
        if title not in tasks:
            raise AssertionError("%s: no task titled %r among %s" % (self.name, title,
                                                                    sorted(tasks)[:20]))
        return tasks[title]

    def exported(self):
        """Every task by UID as the program exports it."""
        calendar = icalendar.Calendar.from_ical(self.run("--export-ics", "-").stdout)
        return {str(c["UID"]): fields_of(c) for c in calendar.walk() if c.name == "VTODO"}

    def file_bytes(self):
        with open(self.file, "rb") as f:
            return f.read()


def instant(value, zone="UTC"):
    """A due value as a moment: aware as is, floating in `zone`, a date at
    0:00 in `zone`."""
    if isinstance(value, datetime.datetime):
        if value.tzinfo is None:
            return value.replace(tzinfo=zoneinfo.ZoneInfo(zone))
        return value
    return datetime.datetime(value.year, value.month, value.day, tzinfo=zoneinfo.ZoneInfo(zone))


def conflicts(note):
    """The (field, value) pairs a sync marked at the end of a description."""
    return [m.groups() for m in CONFLICT.finditer(note)]


class SyncCase:
    """A server for the class; for each test a fresh collection, a phone on
    it, the proxy in front, and two lists: A in Berlin and B in New York."""
    SERVER = None

    @classmethod
    def setUpClass(cls):
        reason = sync_skip_reason()
        if reason:
            raise unittest.SkipTest(reason)
        cls.server = cls.SERVER().start()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="quillet-sync-")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.collection = self.server.new_collection()
        self.phone = Phone(self.server, self.collection)
        self.proxy = FaultProxy(self.server)
        self.addCleanup(self.proxy.close)
        self.a = Side(self.root, "a", "Europe/Berlin")
        self.b = Side(self.root, "b", "America/New_York")

    # --- helpers ---

    def link(self, *sides):
        for side in sides:
            said = side.setup(self.proxy.url(self.collection),
                              *self.server.link_args()).stdout.decode()
            # Named by its URL or by its name, which the tests make the same.
            self.assertIn(self.collection.rstrip("/").rsplit("/", 1)[-1], said)

    def writes(self):
        return self.proxy.count("PUT") + self.proxy.count("DELETE")

    def sync(self, side, status=0):
        return side.sync(status=status)

    def linked_with(self, tasks):
        """A holding tasks, synced up, and B synced down: the common start."""
        self.a.write(tasks)
        self.link(self.a, self.b)
        self.sync(self.a)
        self.sync(self.b)
        self.proxy.reset()

    def assert_quiet(self, *sides):
        """A further sync of each side writes nothing and changes nothing."""
        for side in sides:
            before = side.file_bytes()
            self.proxy.reset()
            counts = self.sync(side)
            self.assertEqual(self.writes(), 0, "%s wrote again: %s" % (side.name, self.proxy.seen))
            self.assertEqual(counts, Counts(0, 0, 0, 0), side.name)
            self.assertEqual(side.file_bytes(), before, side.name)

    def assert_agree(self, *sides):
        """Every side holds the server's tasks, field by field."""
        server = {}
        for item in self.phone.items().values():
            f = item.fields()
            server[f["title"]] = f
        for side in sides:
            mine = side.tasks()
            self.assertEqual(sorted(mine), sorted(server), side.name)
            for title, f in server.items():
                with self.subTest(side=side.name, title=title):
                    m = mine[title]
                    self.assertEqual((m["for"], m["note"], m["recycled"]),
                                     (f["for"], f["note"], f["recycled"]))
                    self.assertEqual(m["due"], instant(f["due"], side.zone))


def parts(loader, classes):
    """The suite of the part QUILLET_SYNC_SERVER names (as ctest runs them),
    or of every part: classes maps each part's name to its test cases."""
    only = os.environ.get("QUILLET_SYNC_SERVER")
    chosen = [classes[only]] if only in classes else list(classes.values())
    suite = unittest.TestSuite()
    for cls in chosen:
        suite.addTests(loader.loadTestsFromTestCase(cls))
    return suite


def main():
    """unittest's main, with SKIP_STATUS when every test skipped."""
    program = unittest.main(exit=False, verbosity=2)
    result = program.result
    if not result.wasSuccessful():
        sys.exit(1)
    if result.skipped and len(result.skipped) >= result.testsRun:
        sys.exit(SKIP_STATUS)
    sys.exit(0)
