#include "page/alertpage.h"
#include "store/datestesting.h"
#include "store/ordering.h"
#include "store/tables.h"

#include <QLocale>

#include <benchmark/benchmark.h>

using namespace Module1;

namespace {

// Full tables: 1001 tasks spread around today, 101 rules, most of them popup.
void fillTables()
{
    resetTables();
    const Days base = dateSerial(2026, 12, 8);
    setToday(base);
    taskCount = kTaskSlots;
    for (int i = 0; i < kTaskSlots; ++i) {
        Task &t = tasks[i];
        t.title = QStringLiteral("Task number %1 with a longer title").arg(i);
        t.forWhom = QStringLiteral("Someone");
        t.year = 2026;
        t.month = 12;
        t.day = qint16((i * 37) % 120 - 40);
        t.hour = qint16(i % 24);
        t.minute = qint16(i % 60);
        t.second = 0;
        t.description = QStringLiteral("First line\r\nSecond line of the description");
        t.deleted = i % 10 == 0 ? QStringLiteral("Y") : QStringLiteral("N");
        t.sortKey = makeSortKey(t);
    }
    alertRuleCount = kRuleSlots;
    for (int r = 0; r < kRuleSlots; ++r)
        alertRules[r] = AlertRule{qint16(100 - r), QStringLiteral("d"), 255 * r, r % 3 != 0};
}

// A task changes between builds, so the page is built each time.
void BM_BuildAlertPageFullTables(benchmark::State &state)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    fillTables();
    int n = 0;
    for (auto _ : state) {
        tasks[500].description = QString::number(++n);
        AlertPage page = buildAlertPage(today());
        benchmark::DoNotOptimize(page);
    }
}
BENCHMARK(BM_BuildAlertPageFullTables)->Unit(benchmark::kMillisecond);

// Nothing changed since the last build: what a visit to the alert view costs.
void BM_BuildAlertPageUnchanged(benchmark::State &state)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    fillTables();
    buildAlertPage(today());
    for (auto _ : state) {
        AlertPage page = buildAlertPage(today());
        benchmark::DoNotOptimize(page);
    }
}
BENCHMARK(BM_BuildAlertPageUnchanged)->Unit(benchmark::kMillisecond);

void BM_MakepageFullTables(benchmark::State &state)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    fillTables();
    int n = 0;
    for (auto _ : state) {
        tasks[500].description = QString::number(++n);
        PublishedPage page = publishAlertPage();
        benchmark::DoNotOptimize(page);
    }
}
BENCHMARK(BM_MakepageFullTables)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
