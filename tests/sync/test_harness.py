#!/usr/bin/env python3
"""The sync tests' own tools checked on their own, without Quillet: each
server starts and keeps what the phone writes, and the proxy injects each
fault it offers. A scenario that passes on a broken tool proves nothing."""
import http.client
import os
import socket
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import synctest as st  # noqa: E402

# Properties only a phone sets, in the forms phones write them.
PHONE_LINES = [
    "PRIORITY:1", "CATEGORIES:home,errands", "RRULE:FREQ=WEEKLY;BYDAY=MO",
    "RELATED-TO;RELTYPE=PARENT:parent-uid", "X-APPLE-SORT-ORDER:42",
    "X-TASKS-ORG-ID;X-PARAM=\"a;b\":7",
    "DUE;TZID=Asia/Tokyo:20270105T090000",
    "BEGIN:VALARM", "ACTION:DISPLAY", "TRIGGER:-PT15M", "DESCRIPTION:Soon", "END:VALARM",
]


class ServerCase:
    """A server for the class, a fresh collection for each test."""
    SERVER = None

    @classmethod
    def setUpClass(cls):
        cls.server = cls.SERVER().start()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def setUp(self):
        self.collection = self.server.new_collection()
        self.phone = st.Phone(self.server, self.collection)


class PhoneTests(ServerCase):
    def test_the_phone_writes_edits_and_deletes_what_it_reads_back(self):
        etag = self.phone.put("p-1", "Water the plants", PHONE_LINES)
        self.assertTrue(etag)
        item = self.phone.items()["p-1"]
        self.assertEqual(item.etag, etag)
        for line in PHONE_LINES[:6]:
            with self.subTest(line=line):
                self.assertEqual(item.lines(st.prop_name(line)), [line])
        self.assertEqual(item.fields()["title"], "Water the plants")
        self.assertEqual(st.instant(item.fields()["due"]).astimezone(st.zoneinfo.ZoneInfo("UTC")),
                         st.datetime.datetime(2027, 1, 5, 0, 0, tzinfo=st.zoneinfo.ZoneInfo("UTC")))
        # A conditional edit succeeds once; the same stale ETag is refused.
        new = self.phone.edit(item, ["SUMMARY:Water the roses", "PRIORITY:5",
                                     "DESCRIPTION:The red ones"])
        self.assertNotEqual(new, etag)
        self.assertIsNone(self.phone.edit(item, ["SUMMARY:Late"], expect=(412,)))
        item = self.phone.items()["p-1"]
        self.assertEqual(item.fields()["title"], "Water the roses")
        self.assertEqual(item.lines("PRIORITY"), ["PRIORITY:5"])
        alarms = [c for c in item.todo.subcomponents if c.name == "VALARM"]
        # The to-do's own DESCRIPTION changed, not its alarm's.
        self.assertEqual([str(a["DESCRIPTION"]) for a in alarms], ["Soon"])
        self.assertEqual(item.fields()["note"], "The red ones")
        # A second create at the same href is refused.
        with self.assertRaises(AssertionError):
            self.phone.put("p-1", "Again")
        self.phone.delete(item)
        self.assertNotIn("p-1", self.phone.items())

    def test_every_due_form_the_phone_writes_is_kept_in_its_form(self):
        forms = {"tokyo": "DUE;TZID=Asia/Tokyo:20270105T090000", "utc": "DUE:20270105T000000Z",
                 "floating": "DUE:20270105T090000", "date": "DUE;VALUE=DATE:20270105",
                 "gap": "DUE;TZID=America/New_York:20270314T023000"}
        self.phone.put_many([(uid, uid, [line]) for uid, line in forms.items()])
        items = self.phone.items()
        for uid, line in forms.items():
            with self.subTest(uid):
                self.assertEqual(items[uid].lines("DUE"), [line])

    def test_the_server_rename_keeps_the_uid_at_a_new_href(self):
        self.phone.put("r-1", "Renamed")
        item = self.phone.items()["r-1"]
        self.phone.move(item, self.collection + "moved.ics")
        self.assertEqual(self.phone.items()["r-1"].href, self.collection + "moved.ics")


class ProxyCase(ServerCase):
    def setUp(self):
        super().setUp()
        self.proxy = st.FaultProxy(self.server)
        self.addCleanup(self.proxy.close)
        # The client: the phone's requests, through the proxy.
        self.client = st.Phone(self.server, self.collection)
        self.client.server = type("Via", (), {"port": self.proxy.port,
                                              "auth_headers": self.server.auth_headers})()
        self.phone.put("f-1", "First")

    def test_each_fault_reaches_the_client_as_injected(self):
        href = self.phone.href("f-1")
        cases = [
            ("503", st.Fault("status", "GET", status=503), lambda: self.client.request("GET", href)[0],
             503),
            ("strip-etag", st.Fault("strip-etag", "GET"),
             lambda: "etag" in self.client.request("GET", href)[1], False),
            ("delay", st.Fault("delay", "GET", seconds=0.2),
             lambda: self.client.request("GET", href)[0], 200),
        ]
        for name, fault, call, expected in cases:
            with self.subTest(name):
                self.proxy.inject(fault)
                self.assertEqual(call(), expected)
                self.assertEqual(fault.fired, 1)
                # Once only: the next request passes untouched.
                self.assertEqual(self.client.request("GET", href)[0], 200)
                self.proxy.clear()

    def test_strip_etag_removes_them_from_listings_too(self):
        self.proxy.inject(st.Fault("strip-etag", "REPORT"))
        item = self.client.items()["f-1"]
        self.assertIsNone(item.etag)

    def test_a_drop_after_n_requests_closes_without_forwarding(self):
        self.proxy.inject(st.Fault("drop", after=2, times=None))
        for _ in range(2):
            self.assertEqual(self.client.request("GET", self.phone.href("f-1"))[0], 200)
        with self.assertRaises((http.client.HTTPException, ConnectionError, socket.timeout)):
            self.client.put("f-2", "Never")
        self.assertNotIn("f-2", self.phone.items())
        self.assertEqual(self.proxy.count(), 3)

    def test_a_lost_answer_after_the_server_applied_the_put(self):
        self.proxy.inject(st.Fault("lose", "PUT"))
        with self.assertRaises((http.client.HTTPException, ConnectionError)):
            self.client.put("f-2", "Applied")
        self.assertIn("f-2", self.phone.items())

    def test_an_item_changed_just_before_the_upload_is_forwarded(self):
        item = self.phone.items()["f-1"]
        self.proxy.inject(st.Fault("before", "PUT", action=lambda request: self.phone.edit(
            self.phone.items()["f-1"], ["SUMMARY:Phone's"])))
        self.assertIsNone(self.client.edit(item, ["SUMMARY:Client's"], expect=(412,)))
        self.assertEqual(self.phone.items()["f-1"].fields()["title"], "Phone's")

    def test_a_renamed_href_is_what_the_client_sees_and_uses(self):
        server_href = self.phone.href("f-1")
        self.proxy.rename(server_href, self.collection + "elsewhere.ics")
        item = self.client.items()["f-1"]
        self.assertEqual(item.href, self.collection + "elsewhere.ics")
        self.assertEqual(self.client.edit(item, ["SUMMARY:Through the new name"]) is not None, True)
        self.assertEqual(self.phone.items()["f-1"].fields()["title"], "Through the new name")

    def test_requests_are_counted_by_method(self):
        self.client.items()
        self.client.get(self.phone.href("f-1"))
        self.assertEqual((self.proxy.count(), self.proxy.count("REPORT"), self.proxy.count("GET")),
                         (2, 1, 1))


class RadicaleHarness(PhoneTests, ProxyCase, unittest.TestCase):
    SERVER = st.Radicale


class XandikosHarness(PhoneTests, ProxyCase, unittest.TestCase):
    SERVER = st.Xandikos


class PasswordHarness(PhoneTests, unittest.TestCase):
    SERVER = st.RadicaleWithPassword

    def test_without_the_password_the_server_asks_for_it(self):
        status, headers, _ = st.http_request(self.server.port, "PROPFIND", self.collection,
                                             headers={"Depth": "0"})
        self.assertEqual(status, 401)
        self.assertIn("basic", headers.get("www-authenticate", "").lower())


class SideHarness(unittest.TestCase):
    """The lists' own tools, which need only the plain program."""

    def setUp(self):
        if not os.path.exists(st.QUILLET):
            self.skipTest("quillet is not built (%s)" % st.QUILLET)
        self.root = st.tempfile.mkdtemp(prefix="quillet-side-")
        self.addCleanup(st.shutil.rmtree, self.root)

    def test_a_list_reads_back_what_was_written_in_its_own_zone(self):
        for zone, utc_hour in (("Europe/Berlin", 8), ("America/New_York", 14)):
            with self.subTest(zone):
                side = st.Side(self.root, zone.replace("/", "-"), zone)
                side.write([st.Task("Rent", st.datetime.datetime(2027, 1, 5, 9, 0), "Sam",
                                    note="one\ntwo")])
                side.add("Added")
                tasks = side.tasks()
                self.assertEqual(tasks["Rent"]["due"].astimezone(st.datetime.timezone.utc).hour,
                                 utc_hour)
                self.assertEqual((tasks["Rent"]["for"], tasks["Rent"]["note"]), ("Sam", "one\ntwo"))
                self.assertEqual(len(side.exported()), 2)
                self.assertNotEqual(side.env["XDG_CONFIG_HOME"],
                                    st.program_env(self.root)["XDG_CONFIG_HOME"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
