#!/usr/bin/env python3
"""The calendar sync's figures: wall time and HTTP requests (counted by the
proxy in front of the server) of a first sync up and down of 1001 tasks, a
no-op sync and one change each way, for Quillet and, as the reference,
vdirsyncer syncing 1001 .ics files of a folder to the same server in the
same run. Figures are printed, never judged: a shared machine's times vary.

    bench/sync_bench.py [path/to/quillet] [radicale|xandikos ...]
"""
import datetime
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
if len(sys.argv) > 1 and os.path.sep in sys.argv[1]:
    os.environ["QUILLET_BINARY"] = os.path.abspath(sys.argv.pop(1))
sys.path.insert(0, os.path.join(HERE, os.pardir, "tests", "sync"))
import synctest as st  # noqa: E402

COUNT = 1001
START = datetime.datetime(2027, 1, 1, 8, 0)


def tasks():
    return [st.Task("Task %04d" % i, START + datetime.timedelta(minutes=i),
                    "Sam" if i % 7 == 0 else "", note="a note" if i % 11 == 0 else "")
            for i in range(COUNT)]


def measured(proxy, run):
    """(seconds, requests) of run()."""
    proxy.reset()
    start = time.monotonic()
    try:
        ok = run()
    except AssertionError as e:
        sys.stderr.write("%s\n" % e)
        return None
    seconds = time.monotonic() - start
    return (seconds, proxy.count()) if ok is not False else None


def quillet_figures(server, root):
    reason = st.sync_skip_reason()
    if reason:
        return reason, {}
    collection = server.new_collection("quillet-bench")
    phone = st.Phone(server, collection)
    figures = {}
    with st.FaultProxy(server) as proxy:
        a, b = st.Side(root, "a"), st.Side(root, "b")
        a.write(tasks())
        for side in (a, b):
            side.setup(proxy.url(collection), *server.link_args())
        figures["first sync up"] = measured(proxy, lambda: a.sync())
        figures["first sync down"] = measured(proxy, lambda: b.sync())
        figures["no-op sync"] = measured(proxy, lambda: a.sync())
        a.edit("Task 0500", title="Task 0500 edited")
        figures["one change up"] = measured(proxy, lambda: a.sync())
        phone.edit(phone.find("Task 0501"), ["SUMMARY:Task 0501 phoned"])
        figures["one change down"] = measured(proxy, lambda: a.sync())
    return None, figures


def vdirsyncer_figures(server, root):
    if not shutil.which("vdirsyncer"):
        return "vdirsyncer is not installed", {}
    collection = server.new_collection("vdirsyncer-bench")
    phone = st.Phone(server, collection)
    folder = os.path.join(root, "vdir")
    os.makedirs(folder)
    for t in tasks():
        uid = "vdir-%s" % t.title.split()[-1]
        with open(os.path.join(folder, uid + ".ics"), "w", newline="") as f:
            f.write(st.vtodo(uid, t.title, [t.due.strftime("DUE:%Y%m%dT%H%M%S")]))
    env = dict(os.environ, HOME=root)
    for name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy"):
        env.pop(name, None)
    config = os.path.join(root, "vdirsyncer.conf")

    def run(*args):
        done = subprocess.run(["vdirsyncer", "-c", config, *args], env=env, capture_output=True,
                              timeout=3600, input=b"y\n")
        if done.returncode != 0:
            sys.stderr.write(done.stderr.decode()[-2000:])
            return False
        return True

    figures = {}
    with st.FaultProxy(server) as proxy:
        with open(config, "w") as f:
            f.write('[general]\nstatus_path = "%s/status/"\n\n[pair bench]\na = "local"\n'
                    'b = "remote"\ncollections = null\nconflict_resolution = "a wins"\n\n'
                    '[storage local]\ntype = "filesystem"\npath = "%s/"\nfileext = ".ics"\n\n'
                    '[storage remote]\ntype = "caldav"\nurl = "%s"\n'
                    % (root, folder, proxy.url(collection)))
        run("discover")
        figures["first sync up"] = measured(proxy, lambda: run("sync"))
        # Down: a second folder, empty, from the same collection.
        down = os.path.join(root, "vdir-down")
        os.makedirs(down)
        with open(config) as f:
            text = f.read()
        config_down = config + ".down"
        with open(config_down, "w") as f:
            f.write(text.replace('"%s/"' % folder, '"%s/"' % down).replace(
                "/status/", "/status-down/"))
        saved, config = config, config_down
        run("discover")
        figures["first sync down"] = measured(proxy, lambda: run("sync"))
        if len(os.listdir(down)) != COUNT:
            figures["first sync down"] = None
            sys.stderr.write("vdirsyncer brought down %d files\n" % len(os.listdir(down)))
        config = saved
        figures["no-op sync"] = measured(proxy, lambda: run("sync"))
        path = os.path.join(folder, "vdir-0500.ics")
        with open(path) as f:
            text = f.read()
        with open(path, "w", newline="") as f:
            f.write(text.replace("SUMMARY:Task 0500", "SUMMARY:Task 0500 edited"))
        figures["one change up"] = measured(proxy, lambda: run("sync"))
        phone.edit(phone.find("Task 0501"), ["SUMMARY:Task 0501 phoned"])
        figures["one change down"] = measured(proxy, lambda: run("sync"))
    return None, figures


def cell(figure):
    return "%8.2f s %6d req" % figure if figure else "%17s" % "failed"


def main():
    names = sys.argv[1:] or ["radicale", "xandikos"]
    steps = ["first sync up", "first sync down", "no-op sync", "one change up", "one change down"]
    for name in names:
        root = tempfile.mkdtemp(prefix="quillet-bench-")
        try:
            with st.SERVERS[name]() as server:
                q_reason, quillet = quillet_figures(server, os.path.join(root, "quillet"))
                v_reason, vdir = vdirsyncer_figures(server, os.path.join(root, "vdirsyncer"))
        finally:
            shutil.rmtree(root, ignore_errors=True)
        print("\n== calendar sync of %d tasks on %s" % (COUNT, name))
        print("%-17s %-22s %-22s" % ("", "quillet", "vdirsyncer"))
        for step in steps:
            print("%-17s %-22s %-22s" % (
                step, cell(quillet[step]) if step in quillet else "%17s" % "-",
                cell(vdir[step]) if step in vdir else "%17s" % "-"))
        for reason in (q_reason, v_reason):
            if reason:
                print("  (%s)" % reason)
    print("\nTargets: a no-op sync is 1 request; one change is at most 2 requests each way;"
          "\nthe first sync up takes no longer than vdirsyncer's.")


if __name__ == "__main__":
    main()
