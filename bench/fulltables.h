#pragma once

#include "store/ordering.h"
#include "store/tables.h"

// Full tables for the benchmarks: 1001 tasks with 200-character
// descriptions, due over ten years from firstYear, and 101 rules.
inline void fillFullTables(int firstYear)
{
    using namespace Module1;
    resetTables();
    for (int i = 0; i < kTaskSlots; ++i) {
        Task &t = tasks[static_cast<size_t>(i)];
        t.title = QStringLiteral("Task number %1 with a title").arg(i, 4, 10, QLatin1Char('0'));
        t.forWhom = QStringLiteral("Person %1").arg(i % 37);
        t.year = qint16(firstYear + i % 10);
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
        alertRules[static_cast<size_t>(i)] =
            AlertRule{qint16(i), QStringLiteral("d"), 0x102030 * i, i % 3 == 0};
    alertRuleCount = kRuleSlots;
}
