#include "ics/icscalendar.h"

#include "store/dates.h"

#include <QDateTime>
#include <QSet>
#include <QTimeZone>

#include <libical/ical.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

using namespace Module1;

namespace ics {
namespace {

struct ComponentFree {
    void operator()(icalcomponent *c) const { icalcomponent_free(c); }
};
using Component = std::unique_ptr<icalcomponent, ComponentFree>;

QByteArray utf8(const QString &text) { return text.toUtf8(); }

// The DATE-TIME text of a moment, "20261224T093000" (with "Z" in UTC).
// Written by us and read by libical's value parser, which takes every year
// a task can be due in; its own writer gives 00000000T000000 for a year
// past 3000. A moment outside what --add takes (years 1 to 9999, a day in
// from both ends, where Python's readers give up), which only a hand-edited
// file holds, goes out as the nearest one every reader takes.
QByteArray dateTimeText(const QDateTime &moment, bool utc)
{
    static const QDate first(1, 1, 2), last(9999, 12, 30);
    QDate date = moment.date();
    QTime time = moment.time();
    if (!moment.isValid() || date < first) {
        date = first;
        time = QTime(0, 0);
    } else if (date > last) {
        date = last;
        time = QTime(23, 59, 59);
    }
    return QString::asprintf("%04d%02d%02dT%02d%02d%02d%s", date.year(), date.month(), date.day(),
                             time.hour(), time.minute(), time.second(), utc ? "Z" : "")
        .toLatin1();
}

icalproperty *dueProperty(const Task &task, const QByteArray &tzid)
{
    // The store's one due moment; a wall time the clocks skip goes out as
    // the moment it names, so no reader has to guess.
    QDateTime moment = dueMoment(task);
    if (!moment.isValid()) {
        const WallTime wall = dueWallTime(task);
        moment = QDateTime(toQDate(wall.date), wall.time(), Qt::UTC);
    }
    const bool utc = tzid.isEmpty();
    if (utc && moment.timeSpec() != Qt::UTC)
        moment = moment.toUTC();
    icalproperty *due = icalproperty_new(ICAL_DUE_PROPERTY);
    if (icalvalue *value =
            icalvalue_new_from_string(ICAL_DATETIME_VALUE, dateTimeText(moment, utc).constData()))
        icalproperty_set_value(due, value);
    if (!utc)
        icalproperty_set_parameter(due, icalparameter_new_tzid(tzid.constData()));
    return due;
}

}  // namespace

QByteArray exportCalendar(const QStringList &uids, const QString &zoneId)
{
    icaltimezone *zone =
        zoneId.isEmpty() ? nullptr : icaltimezone_get_builtin_timezone(utf8(zoneId).constData());
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
            icalcomponent_add_property(todo,
                                       icalproperty_new_contact(utf8(task.forWhom).constData()));
        // A zone libical does not know: the same moment in UTC.
        icalcomponent_add_property(todo, dueProperty(task, zone ? tzid : QByteArray()));
        icalcomponent_set_status(todo,
                                 isDeleted(task) ? ICAL_STATUS_CANCELLED : ICAL_STATUS_NEEDSACTION);
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

namespace {

// Put around the values of the texts a task keeps: libical's parser strips
// the blanks at both ends of every value, and a title may begin or end with
// some. Any non-blank byte does; it is taken off again once read.
constexpr char kGuard = '|';

bool isGuarded(const QByteArray &line)
{
    static const char *const names[] = {"SUMMARY", "DESCRIPTION", "CONTACT"};
    for (const char *name : names) {
        const qsizetype n = qsizetype(std::strlen(name));
        if (line.size() > n && (line[n] == ':' || line[n] == ';') &&
            qstrnicmp(line.constData(), name, size_t(n)) == 0)
            return true;
    }
    return false;
}

// Where the value of a content line starts: after the first colon outside
// a quoted parameter value.
qsizetype valueStart(const QByteArray &line)
{
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ':' && !quoted)
            return i + 1;
    }
    return -1;
}

// The calendar's content lines, unfolded (a line break followed by a blank
// or a tab continues the line), in one pass over the text: libical's own
// string reader looks for the next line break from the start of each of
// its 80-byte pieces, which makes a long line cost its length squared.
std::vector<QByteArray> contentLines(const QByteArray &text)
{
    std::vector<QByteArray> lines;
    const char *p = text.constData();
    const char *const end = p + text.size();
    if (text.startsWith("\xEF\xBB\xBF"))
        p += 3;
    // Line ends of CR alone, as a few servers send, when there is no LF.
    const char eol = std::memchr(p, '\n', size_t(end - p)) ? '\n' : '\r';
    while (p < end) {
        const char *next = static_cast<const char *>(std::memchr(p, eol, size_t(end - p)));
        const char *stop = next ? next : end;
        qsizetype length = stop - p;
        if (eol == '\n' && length > 0 && p[length - 1] == '\r')
            --length;
        if ((*p == ' ' || *p == '\t') && !lines.empty())
            lines.back().append(p + 1, length - 1);
        else
            lines.emplace_back(p, length);
        p = next ? next + 1 : end;
    }
    return lines;
}

// The top-level components of a calendar file: one VCALENDAR, several (RFC
// 5545 allows them; a folder of calendars joined by cat), or bare ones.
std::vector<Component> parseComponents(const QByteArray &text)
{
    std::vector<Component> out;
    struct ParserFree {
        void operator()(icalparser *p) const { icalparser_free(p); }
    };
    std::unique_ptr<icalparser, ParserFree> parser(icalparser_new());
    const icalerrorstate was = icalerror_get_error_state(ICAL_MALFORMEDDATA_ERROR);
    icalerror_set_error_state(ICAL_MALFORMEDDATA_ERROR, ICAL_ERROR_NONFATAL);
    for (QByteArray &line : contentLines(text)) {
        if (isGuarded(line)) {
            if (const qsizetype at = valueStart(line); at > 0) {
                line.insert(at, kGuard);
                line.append(kGuard);
            }
        }
        if (icalcomponent *c = icalparser_add_line(parser.get(), line.data()))
            out.emplace_back(c);
    }
    icalerror_set_error_state(ICAL_MALFORMEDDATA_ERROR, was);
    return out;
}

// A guarded text as it stood in the calendar.
QString guardedText(const char *text)
{
    if (!text)
        return {};
    QByteArray bytes(text);
    if (bytes.size() >= 2 && bytes.startsWith(kGuard) && bytes.endsWith(kGuard))
        bytes = bytes.mid(1, bytes.size() - 2);
    return QString::fromUtf8(bytes);
}

// The moment a DATE-TIME names in a zone only the calendar's VTIMEZONE
// defines. A time the clocks skip is read with the offset from before the
// change, as RFC 5545 says (libical takes the one after: an hour early).
QDateTime momentIn(icaltimezone *zone, const QDate &date, const QTime &time)
{
    icaltimetype wall = icaltime_null_time();
    wall.year = date.year();
    wall.month = date.month();
    wall.day = date.day();
    wall.hour = time.hour();
    wall.minute = time.minute();
    wall.second = time.second();
    int daylight = 0;
    const int offset = icaltimezone_get_utc_offset(zone, &wall, &daylight);
    const qint64 naive = QDateTime(date, time, Qt::UTC).toSecsSinceEpoch();
    icaltimetype at =
        icaltime_from_timet_with_zone(time_t(naive - offset), 0, icaltimezone_get_utc_timezone());
    const int offsetThen = icaltimezone_get_utc_offset_of_utc_time(zone, &at, &daylight);
    // Offsets only grow across a gap: the smaller is the one before it.
    return QDateTime::fromSecsSinceEpoch(naive - std::min(offset, offsetThen));
}

// The to-do's due moment in local time; nothing without one a task can keep.
std::optional<QDateTime> dueOf(icalcomponent *todo)
{
    icalproperty *property = icalcomponent_get_first_property(todo, ICAL_DUE_PROPERTY);
    // Without DUE, libical reckons it from DTSTART and DURATION.
    const icaltimetype due =
        property ? icalproperty_get_due(property) : icalcomponent_get_due(todo);
    if (icaltime_is_null_time(due))
        return std::nullopt;
    // The fields themselves: libical calls every year past 3000 invalid.
    const QDate date(due.year, due.month, due.day);
    if (!date.isValid() || due.year < 1 || due.year > 9999)
        return std::nullopt;
    if (due.is_date)
        return momentAt(date, QTime(0, 0));
    // A leap second is the last second of its minute.
    const QTime time(due.hour, due.minute, std::min(due.second, 59));
    if (!time.isValid())
        return std::nullopt;
    if (icaltime_is_utc(due))
        return QDateTime(date, time, Qt::UTC).toLocalTime();
    const char *tzid = nullptr;
    if (property) {
        if (icalparameter *p = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER))
            tzid = icalparameter_get_tzid(p);
    } else if (due.zone) {
        tzid = icaltimezone_get_tzid(const_cast<icaltimezone *>(due.zone));
    }
    if (!tzid)
        return momentAt(date, time);  // floating: local already
    // A zone the system knows by the name (or the location) the calendar
    // gives is read from the system's rules, as other programs read it:
    // libical's own stop at some year, after which summer time is lost.
    icaltimezone *zone = nullptr;
    if (icalcomponent *calendar = icalcomponent_get_parent(todo))
        zone = icalcomponent_get_timezone(calendar, tzid);
    if (!zone)
        zone = icaltimezone_get_builtin_timezone_from_tzid(tzid);
    if (!zone)
        zone = icaltimezone_get_builtin_timezone(tzid);
    for (const char *name : {tzid, zone ? icaltimezone_get_location(zone) : nullptr}) {
        if (name && QTimeZone::isTimeZoneIdAvailable(name)) {
            const QTimeZone known(name);
            return momentAt(date, time, &known).toLocalTime();
        }
    }
    if (zone)
        return momentIn(zone, date, time);
    return momentAt(date, time);  // a zone nobody defines: as floating
}

bool isDone(icalcomponent *todo)
{
    const icalproperty_status status = icalcomponent_get_status(todo);
    if (status == ICAL_STATUS_CANCELLED || status == ICAL_STATUS_COMPLETED)
        return true;
    if (icalcomponent_get_first_property(todo, ICAL_COMPLETED_PROPERTY))
        return true;
    icalproperty *percent = icalcomponent_get_first_property(todo, ICAL_PERCENTCOMPLETE_PROPERTY);
    return percent && icalproperty_get_percentcomplete(percent) >= 100;
}

QString uidOf(icalcomponent *todo)
{
    const char *uid = icalcomponent_get_uid(todo);
    return uid ? QString::fromUtf8(uid) : QString();
}

}  // namespace

ReadCalendar readCalendar(const QByteArray &text)
{
    ReadCalendar out;
    const std::vector<Component> roots = parseComponents(text);
    std::vector<icalcomponent *> todos;
    bool calendar = false;
    for (const Component &root : roots) {
        const icalcomponent_kind kind = icalcomponent_isa(root.get());
        if (kind == ICAL_VTODO_COMPONENT) {
            todos.push_back(root.get());
        } else if (kind == ICAL_VCALENDAR_COMPONENT) {
            calendar = true;
            for (icalcomponent *c =
                     icalcomponent_get_first_component(root.get(), ICAL_VTODO_COMPONENT);
                 c; c = icalcomponent_get_next_component(root.get(), ICAL_VTODO_COMPONENT))
                todos.push_back(c);
        }
    }
    if (todos.empty() && !calendar) {
        out.error = QStringLiteral("this is not an iCalendar file");
        return out;
    }

    // A recurring to-do is one task: its master, without the instances that
    // change single occurrences (RECURRENCE-ID, same UID). An instance whose
    // master is not in the file stands for it.
    QSet<QString> masters, taken;
    for (icalcomponent *c : todos) {
        if (!icalcomponent_get_first_property(c, ICAL_RECURRENCEID_PROPERTY))
            masters.insert(uidOf(c));
    }
    QSet<QString> recurring;
    std::vector<icalcomponent *> kept;
    for (icalcomponent *c : todos) {
        const QString uid = uidOf(c);
        const bool instance = icalcomponent_get_first_property(c, ICAL_RECURRENCEID_PROPERTY);
        if (icalcomponent_get_first_property(c, ICAL_RRULE_PROPERTY) ||
            icalcomponent_get_first_property(c, ICAL_RDATE_PROPERTY) || instance)
            recurring.insert(uid);
        if (instance && (masters.contains(uid) || taken.contains(uid)))
            continue;
        if (instance)
            taken.insert(uid);
        kept.push_back(c);
    }
    out.recurring = int(recurring.size());

    for (icalcomponent *c : kept) {
        const std::optional<QDateTime> due = dueOf(c);
        if (!due || !due->isValid()) {
            ++out.withoutDue;
            continue;
        }
        Todo todo;
        Task &task = todo.task;
        todo.uid = uidOf(c);
        icalproperty *summary = icalcomponent_get_first_property(c, ICAL_SUMMARY_PROPERTY);
        task.title = guardedText(summary ? icalproperty_get_summary(summary) : nullptr);
        icalproperty *description = icalcomponent_get_first_property(c, ICAL_DESCRIPTION_PROPERTY);
        QString note =
            guardedText(description ? icalproperty_get_description(description) : nullptr);
        task.description = note.replace(QLatin1String("\r\n"), QLatin1String("\n"))
                               .replace(QLatin1Char('\n'), QLatin1String("\r\n"));
        if (icalproperty *contact = icalcomponent_get_first_property(c, ICAL_CONTACT_PROPERTY))
            task.forWhom = guardedText(icalproperty_get_contact(contact));
        const std::chrono::year_month_day ymd{fromQDate(due->date())};
        const QTime time = due->time();
        task.year = qint16(int(ymd.year()));
        task.month = qint16(unsigned(ymd.month()));
        task.day = qint16(unsigned(ymd.day()));
        task.hour = qint16(time.hour());
        task.minute = qint16(time.minute());
        task.second = qint16(time.second());
        // Done elsewhere (completed, or cancelled): recycled here.
        task.deleted = isDone(c) ? QStringLiteral("Y") : QStringLiteral("N");
        out.todos.push_back(std::move(todo));
    }
    return out;
}

}  // namespace ics
