#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>

#include <vector>

// Task files for tests, written here line by line in the program's layout,
// so that no test trusts the writer it may be checking.
namespace testsupport {

struct TaskLines {
    QString title, forWhom;
    int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
    QString deleted, description;  // description already encoded ("|~")
};
struct RuleLines {
    int interval = 0;
    QString unit;
    qint64 color = 0;
    bool popup = false;
};

// A current (or recycled) task for Me, due on `due` at 9:05:00.
inline TaskLines dueOn(const QString &title, const QDate &due,
                       const QString &deleted = QStringLiteral("N"))
{
    return {title, QStringLiteral("Me"), due.day(), due.month(), due.year(), 9, 5, 0, deleted, {}};
}

// A rule in days.
inline RuleLines rule(int interval, bool popup, qint64 color = 255)
{
    return {interval, QStringLiteral("d"), color, popup};
}

inline QByteArray taskFile(const std::vector<TaskLines> &tasks, const std::vector<RuleLines> &rules)
{
    QString s = QStringLiteral(
        "; Quillet\r\n; ----------\r\n; Tasks and settings\r\n"
        "; DO NOT MODIFY THIS FILE\r\n\r\n[Tasks]\r\n\r\n");
    for (const TaskLines &t : tasks)
        s += QStringLiteral(
                 "ttl=%1\r\nfor=%2\r\nday=%3\r\nmon=%4\r\nyea=%5\r\nhou=%6\r\n"
                 "min=%7\r\nsec=%8\r\ndel=%9\r\n")
                 .arg(t.title, t.forWhom)
                 .arg(t.day)
                 .arg(t.month)
                 .arg(t.year)
                 .arg(t.hour)
                 .arg(t.minute)
                 .arg(t.second)
                 .arg(t.deleted) +
             QStringLiteral("des=%1\r\nact=addtask\r\n\r\n").arg(t.description);
    s += QStringLiteral("[Alerts]\r\n\r\n");
    for (const RuleLines &r : rules)
        s += QStringLiteral("val=%1\r\nunt=%2\r\nclr=%3\r\nalr=%4\r\nact=addalert\r\n\r\n")
                 .arg(r.interval)
                 .arg(r.unit)
                 .arg(r.color)
                 .arg(r.popup ? QStringLiteral("on") : QStringLiteral("off"));
    s += QStringLiteral("\r\n");
    return s.toUtf8();
}

}  // namespace testsupport
