#pragma once

#include "store/tables.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringView>
#include <QTime>
#include <QTimeZone>
#include <QtGlobal>

#include <chrono>
#include <optional>

namespace Module1 {

using Days = std::chrono::sys_days;

// Today's local date; nothing else reads the clock (tests pin it:
// datestesting.h).
Days today();

// A date from year, month, day with carry-over: month 13 is January of the
// next year, day 0 the last day of the month before. Year 0 is valid.
Days dateSerial(int year, int month, int day);

// Seconds since midnight from hour, minute, second with carry-over; the
// result may lie outside one day.
qint64 timeSerial(int hour, int minute, int second);

// A date as QDate counts it (QDate has no year 0: the calendar's year 0 is
// its year -1), and back.
QDate toQDate(Days date);
Days fromQDate(const QDate &date);

// A due moment on the wall clock, before any time zone: the day the list
// counts days to, at the time of day the list writes.
struct WallTime {
    Days date;
    int secondOfDay = 0;  // 0 to 86399
    QTime time() const { return QTime::fromMSecsSinceStartOfDay(secondOfDay * 1000); }
};

// The six fields with their carry-over, as the list and the page count them:
// the date from year, month and day (month 13 is January of the next year),
// the time of day from hour, minute and second wrapped into that date (25:00
// is 1:00 and -0:00:01 is 23:59:59 of the same date), so that a task is due
// on the day whose days-left count the list shows.
WallTime wallTime(int year, int month, int day, int hour, int minute, int second);
WallTime dueWallTime(const Task &task);

// The wall time as ISO 8601 local time, "2026-12-24T09:30:00".
QString isoText(const WallTime &wall);

// The moment a wall time names in `zone` (local time without one). A time
// the clocks skip is read with the offset from before the change, as
// RFC 5545 and other calendar programs read it: 02:30 in a one-hour gap is
// 03:30. A time that comes twice is the first.
QDateTime momentAt(const QDate &date, const QTime &time, const QTimeZone *zone = nullptr);

// The one due moment of a task, in local time: every user (--json, the
// calendar export, the reminder, the sync) takes it from here.
QDateTime dueMoment(const Task &task);

// When a local date and time fall in a gap the clocks skip (spring
// forward), the first time after it (03:00 for 02:30 in Europe/Berlin on
// the last Sunday of March); nothing for a time that exists.
std::optional<QTime> skippedUntil(const QDate &date, const QTime &time);

// The difference from `from` to `to` counted in a unit code
// (yyyy q m y d w ww h n s; Sunday starts a week), exactly: no 16-bit
// clamp, so a task 90 years away never matches a rule of 32767 days. An
// empty or unknown unit counts days.
qint64 dateDiff(QStringView unit, Days from, Days to);

// The locale the time and date texts are written in, formats, digits and
// AM/PM texts alike: the default locale where the program or a test set one,
// otherwise the system's time locale (LC_ALL, LC_TIME, LANG, as Qt reads
// them).
QLocale timeLocale();

// A time format without its time-zone field and the blanks, brackets and
// comma that go with it: "H:mm:ss (t)" becomes "H:mm:ss".
QString withoutTimeZone(QStringView timeFormat);

// The time of day the texts below write: out-of-day values wrap into a day
// (25:00 is 1:00), as the list shows them.
QTime wrappedTime(int hour, int minute, int second);

// Time of day in the time locale's long format with seconds, without the
// time zone ("2:05:00 PM" under US English), the same text as
// timeLocale().toString(time, withoutTimeZone(its long time format)).
// Out-of-day values wrap into a day.
QString longTimeText(int hour, int minute, int second);

// The time locale's short date, as the status bar shows it.
QString shortDateText(Days date);

}  // namespace Module1
