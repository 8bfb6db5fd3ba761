#pragma once

#include "store/tables.h"

#include <QString>

namespace Module1 {

// Reorders tasks[0..taskCount) by sortMode, with the exact result of the
// exchange sort (equal keys never swap, so the sort is not stable).
void sortTasks();

// "March 07/26". A month of 0 is set to 1 in the caller's field.
QString formatDate(qint16 &day, qint16 &month, qint16 &year);

// Fixed-width due key: "2026-03 - 07 09:05:00"; −5 in width 4 is "00-5".
QString makeSortKey(const Task &task);

// The stored display text: short date, " at ", long time.
QString makeDueText(const Task &task);

}  // namespace Module1
