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

// A notification's text for a task: "for Me, due December 08/26 at 9:05:00
// AM" in the list's own date and time texts ("for" only when the task has
// one), then the first lines of its description. Plain text.
QString reminderBody(const Module1::Task &task);

}  // namespace remind
