#pragma once

#include "store/tables.h"

#include <QHash>
#include <QString>

namespace Module1 {

// Reorders tasks[0..taskCount) by sortMode, with the exact result of the
// exchange sort (equal keys never swap, so the sort is not stable).
void sortTasks();

// "March 07/26". A month of 0 is set to 1 in the caller's field.
QString formatDate(qint16 &day, qint16 &month, qint16 &year);

// Fixed-width due key: "2026-03 - 07 09:05:00"; −5 in width 4 is "00-5".
QString makeSortKey(const Task &task);

// The stored display text: short date, " at ", long time. A load makes a
// thousand of them from few dates and times, and the locale's formatting is
// its costliest step: one DueTexts keeps the texts it made.
class DueTexts {
public:
    QString of(const Task &task);

private:
    QHash<qint64, QString> m_dates;
    QHash<qint64, QString> m_times;
};
QString makeDueText(const Task &task);

// The due moment as the list, the page and the printed alert show it:
// "March 07/26 at 9:05:00 AM". Through formatDate, so a month of 0 becomes
// 1 in the task.
QString dueMomentText(Task &task);

// What is left of the time to a task's due day: "3 days left", "Today!" or
// "Late!".
QString daysLeftText(qint64 daysLeft);

}  // namespace Module1
