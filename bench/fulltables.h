#pragma once

#include "store/dates.h"
#include "store/ordering.h"
#include "store/tables.h"

#include <chrono>

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

// Full tables in which every task is current and announced: due from 200
// days ago to 200 days ahead of `today`, under a first rule of 400 days with
// its popup on, then 100 rules of smaller intervals that colour them.
// Every ninth title carries a little markup, as users' titles do.
inline void fillAllAnnounced(Module1::Days today)
{
    using namespace Module1;
    fillFullTables(2020);
    const std::chrono::year_month_day first{today - std::chrono::days{200}};
    for (int i = 0; i < kTaskSlots; ++i) {
        Task &t = tasks[static_cast<size_t>(i)];
        const std::chrono::year_month_day due{Days{first} + std::chrono::days{(i * 37) % 401}};
        t.year = qint16(int(due.year()));
        t.month = qint16(unsigned(due.month()));
        t.day = qint16(unsigned(due.day()));
        t.deleted = QStringLiteral("N");
        if (i % 9 == 0)
            t.title = QStringLiteral("Send the <i>report</i> %1").arg(i);
        t.sortKey = makeSortKey(t);
    }
    alertRules[0] = AlertRule{400, QStringLiteral("d"), 0x8080FF, true};
    for (int i = 1; i < kRuleSlots; ++i)
        alertRules[static_cast<size_t>(i)] =
            AlertRule{qint16(101 - i), QStringLiteral("d"), 0x102030 * i, i % 3 == 0};
}
