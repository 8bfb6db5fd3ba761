#include "ics/icscalendar.h"

#include "store/dates.h"

#include <QDateTime>
#include <QTimeZone>

#include <libical/ical.h>

#include <chrono>
#include <cstdlib>
#include <memory>

using namespace Module1;

namespace ics {
namespace {

struct ComponentFree {
    void operator()(icalcomponent *c) const { icalcomponent_free(c); }
};
using Component = std::unique_ptr<icalcomponent, ComponentFree>;

QByteArray utf8(const QString &text) { return text.toUtf8(); }

// The task's fields with out-of-range values carried over, as the list
// counts them (month 13 is January, 25:00 is 1:00 the next day).
icaltimetype dueOf(const Task &task)
{
    const qint64 seconds = timeSerial(task.hour, task.minute, task.second);
    const qint64 dayShift = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    const qint64 inDay = seconds - dayShift * 86400;
    const std::chrono::year_month_day ymd{dateSerial(task.year, task.month, task.day) +
                                          std::chrono::days(dayShift)};
    icaltimetype t = icaltime_null_time();
    t.year = int(ymd.year());
    t.month = int(unsigned(ymd.month()));
    t.day = int(unsigned(ymd.day()));
    t.hour = int(inDay / 3600);
    t.minute = int(inDay / 60 % 60);
    t.second = int(inDay % 60);
    t.is_date = 0;
    return t;
}

void setText(Task &task, QString Task::*field, const char *text)
{
    if (text)
        task.*field = QString::fromUtf8(text);
}

}  // namespace

QByteArray exportCalendar(const QStringList &uids, const QString &zoneId)
{
    icaltimezone *zone = zoneId.isEmpty()
                             ? nullptr
                             : icaltimezone_get_builtin_timezone(utf8(zoneId).constData());
    icaltimezone *utc = icaltimezone_get_utc_timezone();
    Component calendar(icalcomponent_vanew(
        ICAL_VCALENDAR_COMPONENT, icalproperty_new_version("2.0"),
        icalproperty_new_prodid("-//Quillet//Quillet " QUILLET_VERSION "//EN"), nullptr));
    // TZID=Europe/Berlin, the name other calendars know, rather than
    // libical's own prefixed one.
    const QByteArray tzid = utf8(zoneId);
    if (zone) {
        icalcomponent *timezone = icalcomponent_new_clone(icaltimezone_get_component(zone));
        icalproperty *id = icalcomponent_get_first_property(timezone, ICAL_TZID_PROPERTY);
        icalproperty_set_tzid(id, tzid.constData());
        icalcomponent_add_component(calendar.get(), timezone);
    }
    const icaltimetype stamp = icaltime_current_time_with_zone(utc);
    for (int i = 0; i < taskCount && i < uids.size(); ++i) {
        const Task &task = tasks[size_t(i)];
        icalcomponent *todo = icalcomponent_new_vtodo();
        icalcomponent_set_uid(todo, utf8(uids[i]).constData());
        icalcomponent_set_dtstamp(todo, stamp);
        icalcomponent_set_summary(todo, utf8(task.title).constData());
        if (!task.description.isEmpty()) {
            QString note = task.description;
            note.replace(QLatin1String("\r\n"), QLatin1String("\n"));
            icalcomponent_set_description(todo, utf8(note).constData());
        }
        if (!task.forWhom.isEmpty())
            icalcomponent_add_property(todo, icalproperty_new_contact(utf8(task.forWhom).constData()));
        icaltimetype due = dueOf(task);
        if (zone) {
            icalproperty *dueProperty = icalproperty_new_due(due);
            icalproperty_set_parameter(dueProperty, icalparameter_new_tzid(tzid.constData()));
            icalcomponent_add_property(todo, dueProperty);
        } else {
            // A zone libical does not know: the same moment in UTC.
            const QDateTime local(QDate(due.year, due.month, due.day),
                                  QTime(due.hour, due.minute, due.second));
            icalcomponent_set_due(
                todo, icaltime_from_timet_with_zone(local.toSecsSinceEpoch(), 0, utc));
        }
        icalcomponent_set_status(todo, isDeleted(task) ? ICAL_STATUS_CANCELLED
                                                       : ICAL_STATUS_NEEDSACTION);
        // A reminder when the task falls due.
        icaltriggertype trigger{};
        trigger.time = icaltime_null_time();
        trigger.duration = icaldurationtype_null_duration();
        icalproperty *triggerProperty = icalproperty_new_trigger(trigger);
        icalproperty_set_parameter(triggerProperty, icalparameter_new_related(ICAL_RELATED_END));
        icalcomponent *alarm = icalcomponent_vanew(
            ICAL_VALARM_COMPONENT, icalproperty_new_action(ICAL_ACTION_DISPLAY), triggerProperty,
            icalproperty_new_description(utf8(task.title).constData()), nullptr);
        icalcomponent_add_component(todo, alarm);
        icalcomponent_add_component(calendar.get(), todo);
    }
    char *text = icalcomponent_as_ical_string_r(calendar.get());
    QByteArray out(text);
    std::free(text);
    return out;
}

ReadCalendar readCalendar(const QByteArray &text)
{
    ReadCalendar out;
    Component root(icalparser_parse_string(text.constData()));
    if (!root) {
        out.error = QStringLiteral("this is not an iCalendar file");
        return out;
    }
    std::vector<icalcomponent *> todos;
    if (icalcomponent_isa(root.get()) == ICAL_VTODO_COMPONENT) {
        todos.push_back(root.get());
    } else {
        for (icalcomponent *c = icalcomponent_get_first_component(root.get(), ICAL_VTODO_COMPONENT);
             c; c = icalcomponent_get_next_component(root.get(), ICAL_VTODO_COMPONENT))
            todos.push_back(c);
    }
    if (todos.empty() && icalcomponent_isa(root.get()) != ICAL_VCALENDAR_COMPONENT) {
        out.error = QStringLiteral("this is not an iCalendar file");
        return out;
    }
    for (icalcomponent *c : todos) {
        const icaltimetype due = icalcomponent_get_due(c);
        if (icaltime_is_null_time(due) || !icaltime_is_valid_time(due)) {
            ++out.withoutDue;
            continue;
        }
        Todo todo;
        Task &task = todo.task;
        if (const char *uid = icalcomponent_get_uid(c))
            todo.uid = QString::fromUtf8(uid);
        setText(task, &Task::title, icalcomponent_get_summary(c));
        QString note;
        if (const char *d = icalcomponent_get_description(c))
            note = QString::fromUtf8(d);
        task.description = note.replace(QLatin1String("\r\n"), QLatin1String("\n"))
                               .replace(QLatin1Char('\n'), QLatin1String("\r\n"));
        if (icalproperty *contact = icalcomponent_get_first_property(c, ICAL_CONTACT_PROPERTY))
            setText(task, &Task::forWhom, icalproperty_get_contact(contact));
        QDate date(due.year, due.month, due.day);
        QTime time(0, 0, 0);
        if (!due.is_date) {
            time = QTime(due.hour, due.minute, due.second);
            // A floating time is local already; any other moment is
            // converted to local time.
            if (due.zone) {
                const QDateTime local =
                    QDateTime::fromSecsSinceEpoch(icaltime_as_timet_with_zone(due, due.zone));
                date = local.date();
                time = local.time();
            }
        }
        task.year = qint16(date.year());
        task.month = qint16(date.month());
        task.day = qint16(date.day());
        task.hour = qint16(time.hour());
        task.minute = qint16(time.minute());
        task.second = qint16(time.second());
        task.deleted = icalcomponent_get_status(c) == ICAL_STATUS_CANCELLED ? QStringLiteral("Y")
                                                                            : QStringLiteral("N");
        out.todos.push_back(std::move(todo));
    }
    return out;
}

}  // namespace ics
