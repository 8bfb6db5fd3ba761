#include "remind/duemoment.h"

#include "store/ordering.h"

#include <QDate>

namespace remind {

namespace {

// Enough of a description to recall the task; the list has the rest.
constexpr int kDescriptionLines = 3;
constexpr int kDescriptionChars = 300;

}  // namespace

Module1::Days dueDate(const Module1::Task &task) { return Module1::dueWallTime(task).date; }

Module1::Days dayOfDate(const QDate &date) { return Module1::fromQDate(date); }

QString reminderBody(const Module1::Task &task)
{
    // formatDate sets a month of 0 to 1 in what it is given: not in the table.
    qint16 day = task.day;
    qint16 month = task.month;
    qint16 year = task.year;
    QString body = QStringLiteral("due %1 at %2")
                       .arg(Module1::formatDate(day, month, year),
                            Module1::longTimeText(task.hour, task.minute, task.second));
    if (!task.forWhom.isEmpty())
        body = QStringLiteral("for %1, %2").arg(task.forWhom, body);

    QStringList lines;
    for (const QString &line : task.description.split(QLatin1Char('\n'))) {
        const QString text = line.trimmed();
        if (!text.isEmpty())
            lines << text;
        if (lines.size() == kDescriptionLines)
            break;
    }
    QString description = lines.join(QLatin1Char('\n'));
    if (description.size() > kDescriptionChars)
        description = description.left(kDescriptionChars - 1) + QChar(0x2026);
    if (!description.isEmpty())
        body += QLatin1Char('\n') + description;
    return body;
}

}  // namespace remind
