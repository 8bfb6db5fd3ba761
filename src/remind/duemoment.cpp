#include "remind/duemoment.h"

#include "store/ordering.h"

#include <QDate>

namespace remind {

namespace {

// Julian day of 1970-01-01, where sys_days count from.
constexpr qint64 kUnixEpochJulianDay = 2440588;

}  // namespace

Module1::Days dueDate(const Module1::Task &task)
{
    return Module1::dateSerial(task.year, task.month, task.day);
}

QDateTime dueMoment(const Module1::Task &task)
{
    const QDate date =
        QDate::fromJulianDay(dueDate(task).time_since_epoch().count() + kUnixEpochJulianDay);
    return QDateTime(date, Module1::wrappedTime(task.hour, task.minute, task.second));
}

QString reminderBody(const Module1::Task &task)
{
    // formatDate sets a month of 0 to 1 in what it is given: not in the table.
    qint16 day = task.day;
    qint16 month = task.month;
    qint16 year = task.year;
    return QStringLiteral("for %1, due %2 at %3")
        .arg(task.forWhom, Module1::formatDate(day, month, year),
             Module1::longTimeText(task.hour, task.minute, task.second));
}

}  // namespace remind
