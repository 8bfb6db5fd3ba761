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
// due moment as DUE in `zoneId` (an IANA name, the local zone, with its
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
    QString error;       // nothing of iCalendar could be read
};
ReadCalendar readCalendar(const QByteArray &text);

}  // namespace ics
