// The window program's peak memory as a user meets it, whole process under
// a real X server (Xvfb): the alert window at full tables (1001 tasks, 101
// rules, every task announced), Alt+S to the main window, a task opened in
// the editor and Alt+O. Beside it the Qt Widgets floor program, shown under
// the same server. Runs in turns, medians printed; skipped without Xvfb or
// xdotool.
#include "fulltables.h"
#include "store/store.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kWaitMs = 20000;  // a hang guard for any one wait

QByteArray procField(qint64 pid, const char *file, const QByteArray &key)
{
    QFile f(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file)));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed();
    return {};
}

double peakMb(qint64 pid)
{
    return procField(pid, "status", "VmHWM:").split(' ').first().toDouble() / 1024;
}

// With the variable set to a file name: the process's mappings kept there, to
// see where its peak goes.
void keepSmaps(qint64 pid, const char *variable)
{
    const QString out = qEnvironmentVariable(variable);
    if (out.isEmpty())
        return;
    QFile in(QStringLiteral("/proc/%1/smaps").arg(pid)), to(out);
    if (in.open(QIODevice::ReadOnly) && to.open(QIODevice::WriteOnly))
        to.write(in.readAll());
}

// User plus system ticks so far.
qint64 cpuTicks(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields[11].toLongLong() + fields[12].toLongLong() : -1;
}

// Until the process has used no processor time for 300 ms.
void waitQuiet(qint64 pid)
{
    QElapsedTimer t;
    t.start();
    qint64 last = cpuTicks(pid);
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < 300 && t.elapsed() < kWaitMs) {
        QThread::msleep(20);
        const qint64 now = cpuTicks(pid);
        if (now != last) {
            last = now;
            quiet.restart();
        }
    }
}

struct XServer {
    QProcess xvfb;
    QProcessEnvironment env;

    bool start(const QString &runtime)
    {
        xvfb.start(QStringLiteral("Xvfb"),
                   {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                    QStringLiteral("0"), QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                    QStringLiteral("tcp")});
        QByteArray number;
        QElapsedTimer t;
        t.start();
        while (!number.contains('\n') && t.elapsed() < kWaitMs &&
               xvfb.state() != QProcess::NotRunning) {
            xvfb.waitForReadyRead(100);
            number += xvfb.readAllStandardOutput();
        }
        if (!number.contains('\n'))
            return false;
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"),
                   QStringLiteral(":") + QString::fromLatin1(number.trimmed()));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        env.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        return true;
    }
    ~XServer()
    {
        xvfb.kill();
        xvfb.waitForFinished(3000);
    }

    // One xdotool call; its output.
    QByteArray tool(const QStringList &args) const
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("xdotool"), args);
        if (!p.waitForFinished(kWaitMs)) {
            p.kill();
            p.waitForFinished(1000);
        }
        return p.readAllStandardOutput().trimmed();
    }

    // The id of the mapped window whose whole title matches this pattern,
    // empty after the guard.
    QString window(const QString &pattern) const
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < kWaitMs) {
            const QByteArray ids =
                tool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                      QStringLiteral("--name"),
                      QLatin1Char('^') + pattern + QLatin1Char('$')});
            if (!ids.isEmpty())
                return QString::fromLatin1(ids.split('\n').first());
            QThread::msleep(20);
        }
        return {};
    }

    void keys(const QString &window, const QStringList &names) const
    {
        tool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
        for (const QString &k : names)
            tool({QStringLiteral("key"), QStringLiteral("--clearmodifiers"), k});
    }
};

double median(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The floor shown and quiet: its peak.
double floorRun(const XServer &x)
{
    QProcess p;
    p.setProcessEnvironment(x.env);
    p.start(QStringLiteral(QUILLET_WIDGETS_FLOOR), {});
    double peak = -1;
    if (p.waitForStarted(kWaitMs) && !x.window(QStringLiteral("Widgets floor")).isEmpty()) {
        waitQuiet(p.processId());
        peak = peakMb(p.processId());
        keepSmaps(p.processId(), "BENCH_SMAPS_FLOOR");
    } else {
        std::fprintf(stderr, "the floor program showed no window: %s\n",
                     p.readAllStandardError().constData());
    }
    p.kill();
    p.waitForFinished(3000);
    return peak;
}

// The steps, each once the program is quiet again: its peak after them.
double windowsRun(const XServer &x, const QString &folder)
{
    QProcess p;
    p.setProcessEnvironment(x.env);
    p.setWorkingDirectory(folder);
    p.start(QStringLiteral(QUILLET_WINDOWS), {});
    double peak = -1;
    const auto fail = [&](const char *what) {
        std::fprintf(stderr, "%s (%s, exit %d): %s\n", what,
                     p.state() == QProcess::NotRunning ? "ended" : "running", p.exitCode(),
                     p.readAllStandardError().constData());
    };
    if (!p.waitForStarted(kWaitMs))
        fail("quillet-windows did not start");
    else if (const QString alert = x.window(QStringLiteral("Quillet Alert!")); alert.isEmpty())
        fail("no alert window");
    else {
        waitQuiet(p.processId());
        x.keys(alert, {QStringLiteral("alt+s")});
        // A list in the working folder is named in the title.
        const QString main = x.window(QStringLiteral("Quillet( .+/tasks\\.txt)?"));
        if (main.isEmpty()) {
            fail("no main window");
        } else {
            waitQuiet(p.processId());
            // A row selected (which gives the window the keyboard), then
            // "&Edit...": it shares its key with "&Exit", so E only moves to it.
            x.tool({QStringLiteral("mousemove"), QStringLiteral("--window"), main,
                    QStringLiteral("300"), QStringLiteral("80"), QStringLiteral("mousedown"),
                    QStringLiteral("1"), QStringLiteral("mouseup"), QStringLiteral("1")});
            waitQuiet(p.processId());
            x.keys(main, {QStringLiteral("alt+t"), QStringLiteral("e"), QStringLiteral("Return")});
            const QString editor = x.window(QStringLiteral("New / Edit task"));
            if (editor.isEmpty()) {
                fail("no task editor");
            } else {
                waitQuiet(p.processId());
                x.keys(editor, {QStringLiteral("alt+o")});
                waitQuiet(p.processId());
                peak = peakMb(p.processId());
                keepSmaps(p.processId(), "BENCH_SMAPS");
            }
        }
    }
    p.kill();
    p.waitForFinished(3000);
    return peak;
}

}  // namespace

int main(int argc, char **argv)
{
    // --list FOLDER: only the list, to look at the program under heaptrack.
    if (argc == 3 && qstrcmp(argv[1], "--list") == 0) {
        fillAllAnnounced(Module1::today());
        return Module1::saveTasks(QFile::decodeName(argv[2]) + QStringLiteral("/tasks.txt"), false)
                   ? 0
                   : 1;
    }
    QTemporaryDir dir;
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    QDir(dir.path()).mkdir(QStringLiteral("runtime"));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    QCoreApplication app(argc, argv);
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
        std::printf("Peak memory of the windows: skipped, Xvfb or xdotool is not installed\n");
        return 0;
    }
    fillAllAnnounced(Module1::today());
    const QString file = dir.filePath(QStringLiteral("tasks.txt"));
    if (!Module1::saveTasks(file, false)) {
        std::fprintf(stderr, "cannot write the task file\n");
        return 1;
    }
    XServer x;
    if (!x.start(runtime)) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    const int runs = qEnvironmentVariableIntValue("BENCH_RUNS") > 0
                         ? qEnvironmentVariableIntValue("BENCH_RUNS")
                         : 5;
    std::vector<double> ours, floor;
    for (int i = 0; i < runs; ++i) {
        // Each run from the same list: the editor's Ok saved it.
        Module1::saveTasks(file, false);
        // Xvfb now and then refuses a new client: a failed run is tried once more.
        double q = windowsRun(x, dir.path());
        if (q < 0) {
            Module1::saveTasks(file, false);
            q = windowsRun(x, dir.path());
        }
        double f = floorRun(x);
        if (f < 0)
            f = floorRun(x);
        if (q < 0 || f < 0)
            return 1;
        ours.push_back(q);
        floor.push_back(f);
    }
    const double q = median(ours), f = median(floor);
    std::printf(
        "Peak memory (VmHWM), whole process under Xvfb, median of %d runs in turns:\n"
        "  quillet-windows: alert window, Alt+S, a task's editor, Alt+O  %6.1f MB\n"
        "  Qt Widgets floor: menu, status bar, 1001-row tree, shown      %6.1f MB\n"
        "  above the floor                                               %6.1f MB (goal: peak at "
        "most 40 MB)\n",
        runs, q, f, q - f);
    return 0;
}
