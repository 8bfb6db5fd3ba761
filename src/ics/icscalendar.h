#pragma once

#include "store/tables.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// Tasks as iCalendar to-dos (RFC 5545) through libical: only the
// iCalendar commands load it. No widget, no window.
namespace ics {

// A calendar of tasks[0..taskCount) as VTODOs, uids[i] the UID of task i:
// title as SUMMARY, description as DESCRIPTION, for whom as CONTACT, the
// due moment (the store's `dueMoment`) as DUE in `zoneId` (an IANA name, the local zone, with its
// VTIMEZONE; in UTC when libical does not know the zone), recycled as
// STATUS:CANCELLED, and a display alarm at the due moment.
QByteArray exportCalendar(const QStringList &uids, const QString &zoneId);

// A to-do read from a calendar, its due moment in local time.
struct Todo {
    QString uid;  // empty when the to-do has none
    Module1::Task task;
};
struct ReadCalendar {
    std::vector<Todo> todos;
    int withoutDue = 0;  // skipped: a task needs a due moment
    int recurring = 0;   // recurring to-dos, each taken as one task
    QString error;       // nothing of iCalendar could be read
};
// Every VCALENDAR of the file (or bare VTODOs); a to-do done elsewhere
// (STATUS:COMPLETED or CANCELLED, a COMPLETED date, PERCENT-COMPLETE:100)
// as a recycled task; a recurring to-do as one task, its RECURRENCE-ID
// instances left out; texts with their blanks at both ends; the due moment
// in local time, a time the clocks skip read as RFC 5545 says (moved
// forward by the gap). Linear in the text's size.
ReadCalendar readCalendar(const QByteArray &text);

}  // namespace ics
