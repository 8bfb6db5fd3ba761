#!/usr/bin/env python3
"""Random histories of edits on A, B and the phone between syncs: after
syncs A, B, A all three agree, a further sync writes nothing, and every
value last written on any side is still there, in its field or in a
conflict line. QUILLET_HISTORY_EXAMPLES histories per server."""
import datetime
import os
import sys
import unittest
import warnings

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as hs

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import synctest as st  # noqa: E402
from synctest import Task  # noqa: E402

UTC = datetime.timezone.utc
# The shared checks group by subTest, which hypothesis turns off inside an example.
warnings.filterwarnings("ignore", "subTest per-example")
EXAMPLES = int(os.environ.get("QUILLET_HISTORY_EXAMPLES", "15"))
START = [Task("Rent", datetime.datetime(2027, 1, 5, 9, 30), "Sam"),
         Task("Dentist", datetime.datetime(2027, 2, 1, 14, 0), note="Bring the card"),
         Task("Mum", datetime.datetime(2027, 1, 10, 18, 0))]
MOMENTS = [datetime.datetime(2027, 3, d, h, 0, tzinfo=UTC) for d, h in ((1, 8), (2, 17), (28, 1))]
SIDES = ("a", "b", "phone")
FIELDS = ("title", "for", "note", "due", "recycled")
WORDS = hs.text(alphabet="abcxyz ,;:", min_size=1, max_size=8).map(str.strip).filter(bool)

# One step: (side, task number, field, value), or (side, None, "add", word).
STEP = hs.one_of(
    hs.tuples(hs.sampled_from(SIDES), hs.integers(0, len(START) - 1),
              hs.sampled_from(("title", "for", "note")), WORDS),
    hs.tuples(hs.sampled_from(SIDES), hs.integers(0, len(START) - 1), hs.just("due"),
              hs.sampled_from(MOMENTS)),
    hs.tuples(hs.sampled_from(SIDES), hs.integers(0, len(START) - 1), hs.just("recycled"),
              hs.booleans()),
    hs.tuples(hs.sampled_from(SIDES), hs.none(), hs.just("add"), WORDS),
)


class History(st.SyncCase):
    @settings(max_examples=EXAMPLES, deadline=None, database=None,
              suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow])
    @given(hs.lists(STEP, min_size=1, max_size=6))
    def test_after_syncs_a_b_a_all_agree_and_keep_every_last_value(self, steps):
        self.setUp()
        self.linked_with(START)
        exported = self.a.exported()
        uids = [next(u for u, f in exported.items() if f["title"] == t.title) for t in START]
        # What each side calls each task now, and the last value each side wrote.
        titles = {side: [t.title for t in START] for side in SIDES}
        written = {}  # (uid or (side, title added), field) -> {side: value}
        sides = {"a": self.a, "b": self.b}
        for n, (who, number, field, value) in enumerate(steps):
            if field == "add":
                title = "New %d %s" % (n, value)
                if who == "phone":
                    uid = "phone-%d" % n
                    self.phone.put(uid, title, ["DUE:20270401T100000Z"])
                else:
                    sides[who].add(title, "2027-04-01 10:00")
                    uid = (who, title)
                written[(uid, "title")] = {who: title}
                continue
            uid, current = uids[number], titles[who][number]
            if field == "title":
                value = "T%d %s" % (n, value)  # titles stay unique
                titles[who][number] = value
            if who == "phone":
                item = self.phone.find(current)
                line = {"title": lambda v: "SUMMARY:" + st.escape(v),
                        "for": lambda v: "CONTACT:" + st.escape(v),
                        "note": lambda v: "DESCRIPTION:" + st.escape(v),
                        "due": lambda v: v.strftime("DUE:%Y%m%dT%H%M%SZ"),
                        "recycled": lambda v: "STATUS:" + ("CANCELLED" if v else "NEEDS-ACTION"),
                        }[field](value)
                self.phone.edit(item, [line])
            else:
                side = sides[who]
                change = {"title": "title", "for": "for_whom", "note": "note", "due": "due",
                          "recycled": "deleted"}[field]
                given_value = value
                if field == "due":
                    given_value = value.astimezone(st.zoneinfo.ZoneInfo(side.zone)).replace(
                        tzinfo=None)
                elif field == "recycled":
                    given_value = "Y" if value else "N"
                side.edit(current, **{change: given_value})
            written.setdefault((uid, field), {})[who] = value

        self.a.sync()
        self.b.sync()
        self.a.sync()
        self.assert_agree(self.a, self.b)
        self.assert_quiet(self.a, self.b)

        final = {item.uid: item.fields() for item in self.phone.items().values()}
        by_title = {f["title"]: uid for uid, f in final.items()}
        for (uid, field), values in written.items():
            if isinstance(uid, tuple):  # added in Quillet: found by its title
                uid = by_title[uid[1]]
            fields = final[uid]
            marked = st.conflicts(fields["note"])
            for who, value in values.items():
                # Back to the value last synced (the start's tasks are all
                # current) is no change of that side: the other side's
                # change rightly wins. Other fields never draw their base.
                if field == "recycled" and not isinstance(uid, tuple) and value is False:
                    continue
                what = "%s's %s %r of %s" % (who, field, value, uid)
                if field == "due":
                    self.assertTrue(st.instant(fields["due"]) == value or
                                    any(f == "due" for f, _ in marked), what)
                elif field == "recycled":
                    self.assertTrue(fields["recycled"] == value or
                                    any(f == "recycled" for f, _ in marked), what)
                elif field == "note":
                    self.assertIn(value, fields["note"], what)
                else:
                    self.assertTrue(fields[field] == value or any(
                        f.split()[0] == field and v == value for f, v in marked),
                        "%s lost: %r" % (what, fields))


class OnRadicale(History, unittest.TestCase):
    SERVER = st.Radicale


class OnXandikos(History, unittest.TestCase):
    SERVER = st.Xandikos


def load_tests(loader, tests, pattern):
    return st.parts(loader, {"radicale": OnRadicale, "xandikos": OnXandikos})


if __name__ == "__main__":
    st.main()
