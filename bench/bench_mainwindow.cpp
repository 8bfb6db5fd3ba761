// Redraw and selection cost of the main window with both tables full.
#include "widgetbench.h"

#include "mainwindow/frmmain.h"
#include "store/datestesting.h"
#include "store/store.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>

namespace {

void fillTables()
{
    using namespace Module1;
    resetTables();
    setToday(dateSerial(2026, 12, 8));
    for (int i = 0; i < kTaskSlots; ++i) {
        Task &t = tasks[static_cast<size_t>(i)];
        t.title = QStringLiteral("Task number %1 with a fairly long title").arg(i);
        t.forWhom = QStringLiteral("Person %1").arg(i % 37);
        t.year = 2026;
        t.month = static_cast<qint16>(1 + i % 12);
        t.day = static_cast<qint16>(1 + i % 28);
        t.hour = static_cast<qint16>(i % 24);
        t.minute = static_cast<qint16>(i % 60);
        t.description = QStringLiteral("Description of task %1").arg(i);
        t.deleted = i % 10 == 0 ? QStringLiteral("Y") : QStringLiteral("N");
    }
    taskCount = kTaskSlots;
    for (int i = 0; i < kRuleSlots; ++i) {
        AlertRule &r = alertRules[static_cast<size_t>(i)];
        r.interval = static_cast<qint16>(100 - i);
        r.unit = QStringLiteral("d");
        r.color = 0x0000FF + i;
    }
    alertRuleCount = kRuleSlots;
    sortMode = 2;
}

struct Window {
    QTemporaryDir dir;
    std::unique_ptr<frmMain> main;
    Window()
    {
        QDir::setCurrent(dir.path());
        fillTables();
        Module1::saveTasks(QStringLiteral("tasks.txt"), false);
        main = std::make_unique<frmMain>();
        main->resize(900, 600);
        main->show();
    }
};

// Made on first use and gone before the application object is.
std::unique_ptr<Window> g_window;
Window &window()
{
    if (!g_window)
        g_window = std::make_unique<Window>();
    return *g_window;
}

void BM_drawList(benchmark::State &state)
{
    frmMain &w = *window().main;
    for (auto _ : state)
        w.drawList();
}
BENCHMARK(BM_drawList)->Unit(benchmark::kMillisecond);

// The store's share of a redraw.
void BM_sortTasks(benchmark::State &state)
{
    window();
    for (auto _ : state)
        Module1::sortTasks();
}
BENCHMARK(BM_sortTasks)->Unit(benchmark::kMillisecond);

void BM_highlight(benchmark::State &state)
{
    frmMain &w = *window().main;
    w.drawList();
    qint16 k = 1;
    for (auto _ : state) {
        w.highlight(k);
        k = static_cast<qint16>(k % 900 + 1);
    }
}
BENCHMARK(BM_highlight)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
    return runWidgetBenchmarks(argc, argv, [] { g_window.reset(); });
}
