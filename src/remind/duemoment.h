#pragma once

#include "store/dates.h"
#include "store/tables.h"

#include <QDate>
#include <QDateTime>
#include <QString>

namespace remind {

// The day a task falls due, with calendar carry-over, as the rules count it.
Module1::Days dueDate(const Module1::Task &task);

// A calendar date as the rules count days.
Module1::Days dayOfDate(const QDate &date);

// The local moment a task falls due: its due date at the time of day the
// list writes for it (hours past a day wrap within that date), so that the
// reminder comes when the list says it is due. A wall time that a clock
// change skips (spring forward) comes at the first moment after the gap.
QDateTime dueMoment(const Module1::Task &task);

// A notification's text for a task: "for Me, due December 08/26 at 9:05:00
// AM" in the list's own date and time texts ("for" only when the task has
// one), then the first lines of its description. Plain text.
QString reminderBody(const Module1::Task &task);

}  // namespace remind
