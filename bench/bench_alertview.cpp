// The alert page at full tables (1001 tasks, 101 rules, every task
// announced), as a user meets it: the start-up window's first paint, what
// the event loop does after it, Alt+S to the main window, the alert view
// and back. Each run is a process of its own started from here, so the
// first paint counts from exec and the peak memory is that run's alone;
// the figures are medians over the runs. With --callgrind one run goes
// under valgrind and each step's instructions are printed instead.
#include "app/startplan.h"
#include "common/icons.h"
#include "dialogs/frmtask.h"
#include "fulltables.h"
#include "mainwindow/frmmain.h"
#include "mainwindow/navhotarea.h"
#include "mainwindow/navigationpane.h"
#include "page/pageviewer.h"
#include "startup/frmstartup.h"
#include "store/store.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_ZERO_STATS
#define CALLGRIND_DUMP_STATS_AT(name)
#define RUNNING_ON_VALGRIND 0
#endif

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <vector>

namespace {

qint64 nowNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}
double ms(qint64 ns) { return double(ns) / 1e6; }

// Times every event the loop delivers (the outermost delivery only: what
// input waits behind).
class TimedApp : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        if (m_depth > 0 || receiver == ignored) {
            ++m_depth;
            const bool done = QApplication::notify(receiver, event);
            --m_depth;
            return done;
        }
        ++m_depth;
        const qint64 start = nowNs();
        const bool done = QApplication::notify(receiver, event);
        const qint64 took = nowNs() - start;
        --m_depth;
        longest = std::max(longest, took);
        busy += took;
        lastEventEnd = nowNs();
        return done;
    }

    void resetCounts() { longest = busy = 0; }

    QObject *ignored = nullptr;  // the idle watch's own timer
    qint64 longest = 0;
    qint64 busy = 0;
    qint64 lastEventEnd = 0;

private:
    int m_depth = 0;
};

// Notes when a widget of a window has been painted.
class PaintWatch : public QObject {
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && watched->isWidgetType()) {
            auto *w = static_cast<QWidget *>(watched);
            if (target && (w == target || target->isAncestorOf(w)) && paintedAt == 0)
                paintedAt = nowNs();
        }
        return false;
    }
    QWidget *target = nullptr;
    qint64 paintedAt = 0;
};

TimedApp *timedApp() { return static_cast<TimedApp *>(qApp); }

// Runs the loop until no event has come for a while (at most 60 s, or 10
// minutes under valgrind, which runs some fifty times slower).
void waitIdle()
{
    const int quietMs = RUNNING_ON_VALGRIND ? 4000 : 400;
    QEventLoop loop;
    QTimer watch;
    timedApp()->ignored = &watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (ms(nowNs() - timedApp()->lastEventEnd) > quietMs)
            loop.quit();
    });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(RUNNING_ON_VALGRIND ? 600000 : 60000);
    timedApp()->lastEventEnd = nowNs();
    watch.start();
    loop.exec();
}

// Runs `input` as the loop would run a user's input, then measures until
// the next input would be taken (a call queued behind everything the input
// queued) and until the loop is idle again.
struct Step {
    double handlerMs = 0;      // the input's own handler
    double nextInputMs = 0;    // input to the next input taken
    double paintedMs = -1;     // input to the watched widget painted
    double longestMs = 0;      // longest single event, handler included
    double busyMs = 0;         // all event handling until idle
    double thenHandlerMs = 0;  // the follow-up input's own handler
};

// Runs `then` as the first input after the watched widget was painted; the
// longest and busy figures count from there.
void followUp(PaintWatch *watch, const std::function<void()> &then, double *handlerMs)
{
    QTimer::singleShot(1, qApp, [=] {
        if (watch && watch->paintedAt == 0) {
            followUp(watch, then, handlerMs);
            return;
        }
        timedApp()->resetCounts();
        const qint64 start = nowNs();
        then();
        *handlerMs = ms(nowNs() - start);
    });
}

// With `then`, a second input follows once the first one's page is painted.
Step runStep(const char *name, const std::function<void()> &input, PaintWatch *watch = nullptr,
             const std::function<void()> &then = {})
{
    Step s;
    qint64 start = 0;
    QTimer::singleShot(0, qApp, [&] {
        CALLGRIND_ZERO_STATS;
        timedApp()->resetCounts();
        if (watch)
            watch->paintedAt = 0;
        start = nowNs();
        input();
        s.handlerMs = ms(nowNs() - start);
        QMetaObject::invokeMethod(
            qApp, [&] { s.nextInputMs = ms(nowNs() - start); }, Qt::QueuedConnection);
        if (then)
            followUp(watch, then, &s.thenHandlerMs);
    });
    waitIdle();
    CALLGRIND_DUMP_STATS_AT(name);
    if (watch && watch->paintedAt > 0)
        s.paintedMs = ms(watch->paintedAt - start);
    s.longestMs = ms(timedApp()->longest);
    s.busyMs = ms(timedApp()->busy);
    return s;
}

long peakRssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// One run, in the folder the parent prepared. Prints "key value" lines.
int child(int argc, char **argv)
{
    const qint64 execNs = qEnvironmentVariable("QUILLET_BENCH_EXEC_NS").toLongLong();
    Module1::keepTablesForNextLoad();
    const StartPlan plan = planStart(StartOptions{}, true);
    if (plan.next != StartPlan::ShowAlert) {
        std::fprintf(stderr, "the page announces nothing\n");
        return 1;
    }
    TimedApp app(argc, argv);
    PaintWatch paints;
    app.installEventFilter(&paints);

    std::unique_ptr<frmMain> main;
    frmStartup startup;
    startup.setShowAll([&] {
        frmMainHooks hooks;
        hooks.showAlertPage = [&](PageViewer *browser) {
            startup.makepage();
            startup.loadPageInto(browser);
        };
        main = std::make_unique<frmMain>(std::move(hooks));
        paints.target = main.get();
        main->show();
        main->raise();
        main->activateWindow();
    });

    // The start, as main() does it.
    paints.target = &startup;
    startup.adoptPage(plan.page);
    startup.placeOnScreen();
    startup.loadPageInto(startup.WebBrowser1);
    startup.show();
    startup.activateWindow();
    icons::loadImageFormatsAside();
    frmMain::makeFontsAhead(&startup);
    while (paints.paintedAt == 0)
        app.processEvents(QEventLoop::WaitForMoreEvents);
    // Whatever else the first frame's events hold.
    app.processEvents();
    CALLGRIND_DUMP_STATS_AT("exec to first paint");
    std::printf("firstPaint %.3f\n", ms(paints.paintedAt - execNs));

    CALLGRIND_ZERO_STATS;
    app.resetCounts();
    waitIdle();
    CALLGRIND_DUMP_STATS_AT("after first paint until idle");
    std::printf("afterPaintLongest %.3f\nafterPaintBusy %.3f\n", ms(app.longest), ms(app.busy));

    const Step idle = runStep("an input when idle", [] {});
    std::printf("idleNextInput %.3f\n", idle.nextInputMs);

    const Step altS = runStep(
        "Alt+S until idle",
        [&] { QTest::keyClick(startup.WebBrowser1, Qt::Key_S, Qt::AltModifier); }, &paints);
    if (!main) {
        std::fprintf(stderr, "Alt+S did not open the main window\n");
        return 1;
    }
    std::printf(
        "altSHandler %.3f\naltSNextInput %.3f\naltSPainted %.3f\naltSLongest %.3f\n"
        "altSBusy %.3f\n",
        altS.handlerMs, altS.nextInputMs, altS.paintedMs, altS.longestMs, altS.busyMs);

    QWidget *attention = main->pctMenu->Image1[0];
    QWidget *allItems = main->pctMenu->Image1[1];
    const auto clickOn = [](QWidget *w) {
        return [w] { QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center()); };
    };
    paints.target = main->WebBrowser1;
    const Step view = runStep("alert view until idle", clickOn(attention), &paints);
    std::printf(
        "viewHandler %.3f\nviewNextInput %.3f\nviewPainted %.3f\nviewLongest %.3f\n"
        "viewBusy %.3f\n",
        view.handlerMs, view.nextInputMs, view.paintedMs, view.longestMs, view.busyMs);
    const Step away = runStep("All Items until idle", clickOn(allItems));
    std::printf("awayHandler %.3f\n", away.handlerMs);
    // A user who leaves the page once it shows: what is left running then.
    const Step quick = runStep("alert view, All Items once painted", clickOn(attention), &paints,
                               clickOn(allItems));
    std::printf(
        "quickViewHandler %.3f\nquickAwayHandler %.3f\nquickAwayLongest %.3f\n"
        "quickAwayBusy %.3f\n",
        quick.handlerMs, quick.thenHandlerMs, quick.longestMs, quick.busyMs - quick.thenHandlerMs);
    // A task of the list in its editor, then Alt+O: the save, the reload
    // and the list drawn again.
    auto *editor = new frmTask(main.get());
    editor->setOnSaved([&] { main->drawList(); });
    editor->prepare(1, false);
    editor->show();
    editor->activateWindow();
    waitIdle();
    paints.target = main.get();
    const Step ok = runStep(
        "Alt+O in the task editor until idle",
        [&] { QTest::keyClick(editor, Qt::Key_O, Qt::AltModifier); }, &paints);
    if (editor->isVisible()) {
        std::fprintf(stderr, "Alt+O did not close the task editor\n");
        return 1;
    }
    std::printf("altOHandler %.3f\naltONextInput %.3f\naltOLongest %.3f\naltOBusy %.3f\n",
                ok.handlerMs, ok.nextInputMs, ok.longestMs, ok.busyMs);
    std::printf("peakRssMb %.1f\n", double(peakRssKb()) / 1024);
    std::fflush(stdout);
    main.reset();
    return 0;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Row {
    const char *key;
    const char *label;
};
const Row kRows[] = {
    {"firstPaint", "exec -> start-up window first painted"},
    {"afterPaintLongest", "after it: longest event handler"},
    {"afterPaintBusy", "after it: all event handling until idle"},
    {"idleNextInput", "an input when idle -> next input taken"},
    {"altSHandler", "Alt+S: its handler"},
    {"altSPainted", "Alt+S -> main window painted"},
    {"altSNextInput", "Alt+S -> next input taken"},
    {"altSLongest", "Alt+S until idle: longest event"},
    {"altSBusy", "Alt+S until idle: all event handling"},
    {"viewHandler", "\"Immideate Attention\": its handler"},
    {"viewPainted", "\"Immideate Attention\" -> page painted"},
    {"viewNextInput", "\"Immideate Attention\" -> next input taken"},
    {"viewLongest", "\"Immideate Attention\" until idle: longest event"},
    {"viewBusy", "\"Immideate Attention\" until idle: all handling"},
    {"awayHandler", "\"All Items\" after it: its handler"},
    {"quickAwayHandler", "\"All Items\" once it is painted: its handler"},
    {"quickAwayLongest", "\"All Items\" once it is painted: longest event after"},
    {"quickAwayBusy", "\"All Items\" once it is painted: handling left after it"},
    {"altOHandler", "Alt+O in the task editor: its handler"},
    {"altONextInput", "Alt+O in the task editor -> next input taken"},
    {"altOLongest", "Alt+O until idle: longest event"},
    {"altOBusy", "Alt+O until idle: all event handling"},
    {"peakRssMb", "peak memory (VmHWM), MB"},
};

// Lines "key value" into the map of lists.
void collect(const QByteArray &out, std::map<QByteArray, std::vector<double>> *values)
{
    for (const QByteArray &line : out.split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 2)
            (*values)[parts[0]].push_back(parts[1].toDouble());
    }
}

// Instructions per step from the dumps callgrind wrote at each step's end.
void printCallgrind(const QString &folder)
{
    QDir dir(folder);
    QStringList dumps = dir.entryList({QStringLiteral("cg.out*")}, QDir::Files);
    std::sort(dumps.begin(), dumps.end(), [](const QString &a, const QString &b) {
        return a.section(u'.', -1).toInt() < b.section(u'.', -1).toInt();
    });
    std::printf("Instructions per step (callgrind, one run):\n");
    for (const QString &name : dumps) {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        QByteArray trigger, totals;
        for (const QByteArray &line : f.readAll().split('\n')) {
            if (line.startsWith("desc: Trigger: Client Request: "))
                trigger = line.mid(31);
            else if (line.startsWith("totals: ") ||
                     (totals.isEmpty() && line.startsWith("summary: ")))
                totals = line.mid(line.indexOf(' ') + 1).trimmed();
        }
        if (trigger.isEmpty())
            continue;
        std::printf("  %-45s %14s\n", trigger.constData(),
                    QLocale(QLocale::English).toString(totals.toLongLong()).toLatin1().constData());
    }
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--child") == 0)
        return child(argc, argv);
    const bool callgrind = argc > 1 && qstrcmp(argv[1], "--callgrind") == 0;

    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("runtime"));
    QFile::setPermissions(dir.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    fillAllAnnounced(Module1::today());
    if (!Module1::saveTasks(dir.filePath(QStringLiteral("tasks.txt")), false)) {
        std::fprintf(stderr, "cannot write the task file\n");
        return 1;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("runtime")));
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));

    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const int runs = callgrind ? 1
                     : qEnvironmentVariableIntValue("BENCH_RUNS") > 0
                         ? qEnvironmentVariableIntValue("BENCH_RUNS")
                         : 5;
    std::map<QByteArray, std::vector<double>> values;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        env.insert(QStringLiteral("QUILLET_BENCH_EXEC_NS"), QString::number(nowNs()));
        p.setProcessEnvironment(env);
        if (callgrind)
            p.start(
                QStringLiteral("valgrind"),
                {QStringLiteral("--tool=callgrind"), QStringLiteral("--dump-instr=no"),
                 QStringLiteral("--callgrind-out-file=") + dir.filePath(QStringLiteral("cg.out")),
                 self, QStringLiteral("--child")});
        else
            p.start(self, {QStringLiteral("--child")});
        if (!p.waitForFinished(callgrind ? 1800000 : 120000) || p.exitCode() != 0) {
            std::fprintf(stderr, "run %d failed (%d, %s): %s\n", i + 1, p.exitCode(),
                         qPrintable(p.errorString()), p.readAllStandardError().constData());
            return 1;
        }
        collect(p.readAllStandardOutput(), &values);
    }
    if (callgrind) {
        printCallgrind(dir.path());
        // For callgrind_annotate: the dumps stay where they are.
        if (qEnvironmentVariableIsSet("BENCH_KEEP")) {
            dir.setAutoRemove(false);
            std::printf("dumps kept in %s\n", qPrintable(dir.path()));
        }
        return 0;
    }
    std::printf(
        "Alert page at full tables, every task announced (1001 tasks, 101 rules),\n"
        "in-process on the %s platform, median of %d runs:\n",
        qPrintable(env.value(QStringLiteral("QT_QPA_PLATFORM"))), runs);
    for (const Row &r : kRows) {
        const double v = median(values[r.key]);
        std::printf("  %-52s %9.1f%s\n", r.label, v, qstrcmp(r.key, "peakRssMb") ? " ms" : "");
    }
    // A step answers once it is painted and the next input is taken.
    const double idle = median(values["idleNextInput"]);
    const auto answered = [&](const char *nextInput, const char *painted) {
        return std::max(median(values[nextInput]), painted ? median(values[painted]) : 0.0) - idle;
    };
    std::printf(
        "Each step less the idle baseline (goal: at most 16 ms each):\n"
        "  stall after the alert window maps (longest event)   %9.1f ms\n"
        "  Alt+S -> main window answering                      %9.1f ms\n"
        "  \"Immideate Attention\" -> answering                 %9.1f ms\n"
        "  Alt+O in the task editor -> answering               %9.1f ms\n",
        median(values["afterPaintLongest"]) - idle, answered("altSNextInput", "altSPainted"),
        answered("viewNextInput", "viewPainted"), answered("altONextInput", nullptr));
    return 0;
}
