// The store at full tables: 1001 tasks with 200-character descriptions, 101 rules.
#include "fulltables.h"
#include "store/store.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>

using namespace Module1;

namespace {

void BM_loadTasks(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tasks.txt"));
    fillFullTables(2020);
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
    fillFullTables(2020);
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
    fillFullTables(2020);
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
