// The store at full tables: 1001 tasks with 200-character descriptions, 101 rules.
#include "store/store.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>

using namespace Module1;

namespace {

void fillFullTables()
{
    resetTables();
    for (int i = 0; i < kTaskSlots; ++i) {
        Task &t = tasks[i];
        t.title = QStringLiteral("Task number %1 with a title").arg(i, 4, 10, QLatin1Char('0'));
        t.forWhom = QStringLiteral("Person %1").arg(i % 37);
        t.year = qint16(2020 + i % 10);
        t.month = qint16(1 + i % 12);
        t.day = qint16(1 + i % 28);
        t.hour = qint16(i % 24);
        t.minute = qint16(i % 60);
        t.second = qint16((i * 7) % 60);
        t.deleted = (i % 5) ? QStringLiteral("N") : QStringLiteral("Y");
        QString d = QStringLiteral("Line one of task %1\r\n").arg(i);
        d += QString(200 - d.size(), QLatin1Char('d'));
        t.description = d;
        t.sortKey = makeSortKey(t);
    }
    taskCount = kTaskSlots;
    for (int i = 0; i < kRuleSlots; ++i)
        alertRules[i] = AlertRule{qint16(i), QStringLiteral("d"), 0x102030 * i, i % 3 == 0};
    alertRuleCount = kRuleSlots;
}

void BM_loadTasks(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tasks.txt"));
    fillFullTables();
    if (!saveTasks(path, false)) {
        state.SkipWithError("cannot write the file");
        return;
    }
    for (auto _ : state) {
        const FileStatus st = loadTasks(path);
        benchmark::DoNotOptimize(st.code);
    }
    state.counters["tasks"] = taskCount;
}
BENCHMARK(BM_loadTasks)->Unit(benchmark::kMillisecond);

void BM_saveTasks(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tasks.txt"));
    fillFullTables();
    for (auto _ : state) {
        const FileStatus st = saveTasks(path, false);
        benchmark::DoNotOptimize(st.code);
    }
}
BENCHMARK(BM_saveTasks)->Unit(benchmark::kMillisecond);

// From reversed order: the worst case for the exchange sort's swaps.
void BM_sortTasks(benchmark::State &state)
{
    const auto mode = qint16(state.range(0));
    fillFullTables();
    sortMode = mode;
    sortTasks();
    std::reverse(tasks.begin(), tasks.begin() + taskCount);
    const auto reversed = tasks;
    for (auto _ : state) {
        state.PauseTiming();
        tasks = reversed;
        state.ResumeTiming();
        sortTasks();
    }
}
BENCHMARK(BM_sortTasks)->Arg(2)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
