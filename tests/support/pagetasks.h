#pragma once

#include "store/tables.h"

#include <QString>

namespace testsupport {

// A current task in the tables for the page's tests, due on `day` December
// 2026 (a day past the month's end carries over) at `day % 24` o'clock and
// `minute` minutes, so that the due texts vary with the day.
inline void addPageTask(const QString &title, const QString &forWhom, int day,
                        const QString &description = {}, int minute = 30)
{
    Module1::Task &t = Module1::tasks[static_cast<size_t>(Module1::taskCount++)];
    t.title = title;
    t.forWhom = forWhom;
    t.year = 2026;
    t.month = 12;
    t.day = qint16(day);
    t.hour = qint16(day % 24);
    t.minute = qint16(minute);
    t.deleted = QStringLiteral("N");
    t.description = description;
}

}  // namespace testsupport
