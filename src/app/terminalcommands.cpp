#include "app/terminalcommands.h"

#include "app/agenda.h"
#include "app/tasknumbers.h"

#include "store/listchange.h"
#include "store/ordering.h"
#include "store/rules.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>
#include <cstdio>

#include <unistd.h>

using namespace Module1;

namespace {

// Calendar fields of a day, for ISO text and checks.
std::chrono::year_month_day civil(Days d) { return std::chrono::year_month_day{d}; }

QString isoMoment(const Task &task)
{
    // The store's one due moment; a wall time the clocks skip is given as
    // the moment it names, as the calendar export and the reminder take it.
    const WallTime wall = dueWallTime(task);
    const QDateTime moment = dueMoment(task);
    if (!moment.isValid() || moment.date().year() < 1 || moment.date().year() > 9999)
        return isoText(wall);
    return isoText({fromQDate(moment.date()), moment.time().msecsSinceStartOfDay() / 1000});
}

}  // namespace

// The list's order: by due moment, as the main window opens.
void sortAsTheList()
{
    sortMode = 2;
    sortTasks();
}

QString visible(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != 0) || (u >= 0x7f && u <= 0x9f))
            out += QStringLiteral("\\%1").arg(unsigned(u), 3, 8, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

namespace {

int loadForReading()
{
    const FileStatus status = loadTasks();
    if (status.ok() || status.code == FileStatus::Missing)
        return 0;
    complain(status.error);
    return 1;
}

}  // namespace

const char kWhenForms[] =
    "2026-12-24, '2026-12-24 09:30', today, tomorrow, +N (days) or a weekday name "
    "such as monday, each with an optional time HH:MM";

QByteArray tasksAsJson(bool recycled, Days today, const TaskFilter &filter)
{
    QJsonArray list;
    const std::vector<int> numbers = taskNumbers();
    for (int i = 0; i < taskCount; ++i) {
        Task &task = tasks[static_cast<size_t>(i)];
        if (isDeleted(task) != recycled || !filter.matches(task, today))
            continue;
        const RuleMatch match = matchRules(task, today);
        QJsonObject o;
        o[QLatin1String("number")] = numbers[size_t(i)];
        o[QLatin1String("title")] = task.title;
        o[QLatin1String("for")] = task.forWhom;
        o[QLatin1String("due")] = isoMoment(task);
        o[QLatin1String("dueText")] = dueMomentText(task);
        o[QLatin1String("daysLeft")] = daysLeft(task, today);
        QString note = task.description;
        o[QLatin1String("note")] = note.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        o[QLatin1String("recycled")] = isDeleted(task);
        if (match.colored) {
            const Rgb rgb = rgbOf(match.color);
            o[QLatin1String("color")] =
                QString::asprintf("#%02x%02x%02x", rgb.red, rgb.green, rgb.blue);
        } else {
            o[QLatin1String("color")] = QJsonValue::Null;
        }
        o[QLatin1String("bold")] = match.bold.value_or(false);
        o[QLatin1String("announced")] = match.announce;
        list.append(o);
    }
    return QJsonDocument(list).toJson(QJsonDocument::Indented);
}

int listTasks(const StartOptions &options)
{
    TaskFilter filter;
    if (!options.dueWithin.isNull()) {
        bool ok = false;
        const qint64 days = options.dueWithin.toLongLong(&ok);
        // Digits only: no sign, no blanks, as the other numbers are read.
        if (!ok || !options.dueWithin.at(0).isDigit()) {
            complainOfUsage(QStringLiteral("--due-within needs a number of days, not '%1'")
                                .arg(options.dueWithin));
            return 2;
        }
        filter.dueWithin = days;
    }
    filter.overdue = options.overdue;
    if (options.forGiven)
        filter.forWhom = options.forWhom;
    filter.words = options.words;
    if (const int failed = loadForReading())
        return failed;
    sortAsTheList();
    const Days now = today();
    bool none = false;
    if (options.json) {
        const QByteArray json = tasksAsJson(options.recycled, now, filter);
        none = QJsonDocument::fromJson(json).array().isEmpty();
        std::fputs(json.constData(), stdout);
    } else {
        const TextStyle style = terminalStyle(options.wide);
        const QString text = options.command == StartOptions::Week
                                 ? weekText(filter, style, now)
                                 : listingText(options.recycled, filter, style, now);
        none = text.isEmpty();
        printTasksText(text);
    }
    // Said beside the output, which stays what its readers take.
    if (none)
        std::fputs("No tasks.\n", stderr);
    // The list is read, never changed, so a listing kept wrong costs only
    // the commands that take its numbers, which then refuse.
    if (QString why; !rememberListing(options.recycled, &why))
        complain(QStringLiteral("the task numbers could not be kept: %1").arg(why));
    return 0;
}

std::optional<DueMoment> parseWhen(const QString &when, Days today)
{
    static const QRegularExpression form(
        QStringLiteral("^\\s*(?:(\\d{4})-(\\d{2})-(\\d{2})|(today)|(tomorrow)|\\+(\\d{1,5})|"
                       "([a-z]+))(?:(?:\\s+|T)(\\d{1,2}):(\\d{2}))?\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(when);
    if (!m.hasMatch())
        return std::nullopt;
    Days day = today;
    if (m.hasCaptured(1)) {
        const std::chrono::year_month_day ymd{std::chrono::year{m.captured(1).toInt()},
                                              std::chrono::month(m.captured(2).toUInt()),
                                              std::chrono::day(m.captured(3).toUInt())};
        if (!ymd.ok())
            return std::nullopt;
        day = Days(ymd);
    } else if (m.hasCaptured(5)) {
        day = today + std::chrono::days(1);
    } else if (m.hasCaptured(6)) {
        day = today + std::chrono::days(m.captured(6).toInt());
    } else if (m.hasCaptured(7)) {
        // The whole word must be the day's name or its first three letters.
        static const char *const names[] = {"sunday",   "monday", "tuesday", "wednesday",
                                            "thursday", "friday", "saturday"};
        const QString word = m.captured(7).toLower();
        int wanted = -1;
        for (int i = 0; i < 7; ++i) {
            if (QLatin1String(names[i]) == word || QLatin1String(names[i]).left(3) == word)
                wanted = i;
        }
        if (wanted < 0)
            return std::nullopt;
        const unsigned now = std::chrono::weekday(today).c_encoding();
        int ahead = (wanted - int(now) + 7) % 7;
        day = today + std::chrono::days(ahead == 0 ? 7 : ahead);
    }
    const auto ymd = civil(day);
    // The editor's year box has four digits; a day in from both ends, so that
    // a calendar reader that works in UTC (Python's) reads the moment in any
    // zone, and the export gives it back as it was typed.
    using namespace std::chrono;
    if (day < sys_days(year{1} / January / 2) || day > sys_days(year{9999} / December / 30))
        return std::nullopt;
    DueMoment due{int(ymd.year()), int(unsigned(ymd.month())), int(unsigned(ymd.day()))};
    if (m.hasCaptured(8)) {
        due.hour = m.captured(8).toInt();
        due.minute = m.captured(9).toInt();
        if (due.hour > 23 || due.minute > 59)
            return std::nullopt;
    }
    return due;
}

QString whenMistake(const QString &when)
{
    // A date of the right form whose day or month is not in the calendar
    // is told as such: the form is right, only the day is wrong.
    static const QRegularExpression date(
        QStringLiteral("^\\s*(\\d{4})-(\\d{2})-(\\d{2})(?:(?:\\s+|T)\\d{1,2}:\\d{2})?\\s*$"));
    const QRegularExpressionMatch m = date.match(when);
    if (m.hasMatch()) {
        const int y = m.captured(1).toInt();
        const unsigned mo = m.captured(2).toUInt();
        const unsigned d = m.captured(3).toUInt();
        if (mo < 1 || mo > 12)
            return QStringLiteral("--due '%1': there is no month %2; months go from 01 to 12")
                .arg(when)
                .arg(mo, 2, 10, QLatin1Char('0'));
        const std::chrono::year_month_day_last end{
            std::chrono::year{y}, std::chrono::month_day_last{std::chrono::month{mo}}};
        const unsigned last = unsigned(end.day());
        if (d < 1 || d > last)
            return QStringLiteral("--due '%1': %2 %3 has no day %4; its days go from 01 to %5")
                .arg(when, QLocale::c().monthName(int(mo)))
                .arg(y)
                .arg(d, 2, 10, QLatin1Char('0'))
                .arg(last);
    }
    return QStringLiteral("--due '%1' is not a due moment Quillet reads; use %2")
        .arg(when, QLatin1String(kWhenForms));
}

QString listFullText()
{
    return QStringLiteral(
               "The task list is full: it holds %1 tasks, the most it can keep. To make room, "
               "delete a recycled task for good: quillet --list --recycled numbers them and "
               "quillet --delete N deletes one, or use the list's window (quillet --show-all).")
        .arg(kTaskSlots);
}

bool appendTask(Task task, bool recycled)
{
    if (taskCount >= kTaskSlots)
        return false;
    task.deleted = recycled ? QStringLiteral("Y") : QStringLiteral("N");
    task.dueText = makeDueText(task);
    task.sortKey = makeSortKey(task);
    tasks[static_cast<size_t>(taskCount)] = std::move(task);
    ++taskCount;
    return true;
}

int applyChange(const std::function<QString()> &change, const std::function<QString()> &afterSaved)
{
    const ChangeResult result = changeTaskList(change, afterSaved);
    if (!result.message.isEmpty())
        complain(result.message);
    for (const QString &notice : result.notices)
        complain(notice);
    return int(result.status);
}

std::optional<DueMoment> checkedDue(const QString &when)
{
    const std::optional<DueMoment> due = parseWhen(when, today());
    if (!due) {
        complainOfUsage(whenMistake(when));
        return std::nullopt;
    }
    // A wall time the clocks skip would be read an hour off by every
    // calendar, and differently by each.
    const QDate date(due->year, due->month, due->day);
    if (const std::optional<QTime> next = skippedUntil(date, QTime(due->hour, due->minute))) {
        const QString format =
            next->second() == 0 ? QStringLiteral("HH:mm") : QStringLiteral("HH:mm:ss");
        complain(QStringLiteral("--due '%1': %2 on %3 does not exist in %4 (the clocks go "
                                "forward); the next valid time is %5")
                     .arg(when, QTime(due->hour, due->minute).toString(u"HH:mm"),
                          date.toString(Qt::ISODate),
                          QString::fromUtf8(QTimeZone::systemTimeZoneId()),
                          next->toString(format)));
        return std::nullopt;
    }
    return due;
}

bool textsFit(const StartOptions &options)
{
    for (const auto &[text, name] :
         {std::pair{&options.title, "title"}, std::pair{&options.forWhom, "--for text"},
          std::pair{&options.note, "--note text"}}) {
        if (text->size() > kLongestField) {
            complain(QStringLiteral("the %1 is longer than %2 characters")
                         .arg(QLatin1String(name))
                         .arg(kLongestField));
            return false;
        }
    }
    return true;
}

QString storedNote(const QString &typed)
{
    // The editor keeps line breaks as CR LF.
    QString note = typed;
    note.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return note.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
}

void setDue(Task *task, const DueMoment &due)
{
    task->year = qint16(due.year);
    task->month = qint16(due.month);
    task->day = qint16(due.day);
    task->hour = qint16(due.hour);
    task->minute = qint16(due.minute);
    task->second = 0;
}

int addTask(const StartOptions &options)
{
    const std::optional<DueMoment> due = checkedDue(options.due);
    if (!due)
        return 2;
    if (!textsFit(options))
        return 2;
    if (options.title.trimmed().isEmpty()) {
        complain(QStringLiteral("--add needs a title"));
        return 2;
    }
    Task task;
    task.title = options.title;
    task.forWhom = options.forWhom;
    setDue(&task, *due);
    task.description = storedNote(options.note);
    const int status = applyChange(
        [&]() -> QString { return appendTask(task, false) ? QString() : listFullText(); });
    if (status == 0) {
        printTasksText(QStringLiteral("Added \"%1\", due %2, to %3\n")
                           .arg(visible(task.title), dueMomentText(tasks[size_t(taskCount - 1)]),
                                visible(taskFilePath())));
    }
    // A full list is no mistake in the command line.
    return status == 2 ? 1 : status;
}
