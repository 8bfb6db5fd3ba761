#pragma once

#include <QLocale>
#include <QString>
#include <QStringView>
#include <QTime>
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
