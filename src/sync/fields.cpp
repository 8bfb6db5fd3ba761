#include "sync/fields.h"

#include "ics/icscalendar.h"
#include "store/dates.h"
#include "store/ordering.h"

#include <QDateTime>

using namespace Module1;

namespace qsync {

namespace {

QString lf(QString text) { return text.replace(QLatin1String("\r\n"), QLatin1String("\n")); }
QString crlf(QString text)
{
    return lf(std::move(text)).replace(QLatin1Char('\n'), QLatin1String("\r\n"));
}

}  // namespace

Fields fieldsOf(const Task &task)
{
    Fields f;
    f.title = task.title;
    f.forWhom = task.forWhom;
    f.description = lf(task.description);
    f.due = dueMoment(task).toSecsSinceEpoch();
    f.recycled = isDeleted(task);
    return f;
}

void applyFields(Task &task, const Fields &fields)
{
    task.title = fields.title;
    task.forWhom = fields.forWhom;
    task.description = crlf(fields.description);
    if (dueMoment(task).toSecsSinceEpoch() != fields.due) {
        const QDateTime local = QDateTime::fromSecsSinceEpoch(fields.due).toLocalTime();
        task.year = qint16(local.date().year());
        task.month = qint16(local.date().month());
        task.day = qint16(local.date().day());
        task.hour = qint16(local.time().hour());
        task.minute = qint16(local.time().minute());
        task.second = qint16(local.time().second());
    }
    task.deleted = fields.recycled ? QStringLiteral("Y") : QStringLiteral("N");
    task.dueText = makeDueText(task);
    task.sortKey = makeSortKey(task);
}

std::optional<RemoteTodo> readTodo(const QByteArray &resource)
{
    const ics::ReadCalendar calendar = ics::readCalendar(resource);
    if (calendar.todos.empty())
        return std::nullopt;
    const ics::Todo &todo = calendar.todos.front();
    return RemoteTodo{todo.uid, fieldsOf(todo.task)};
}

QString fieldText(const Fields &f, int field)
{
    const auto quoted = [](const QString &name, const QString &value) {
        return QStringLiteral("%1 \"%2\"").arg(name, value);
    };
    switch (field) {
    case 0: return quoted(QStringLiteral("title"), f.title);
    case 1: return quoted(QStringLiteral("for"), f.forWhom);
    case 2:
        return quoted(QStringLiteral("due"),
                      QDateTime::fromSecsSinceEpoch(f.due).toLocalTime().toString(
                          QStringLiteral("yyyy-MM-dd HH:mm")));
    case 3: return quoted(QStringLiteral("description"), f.description);
    default:
        return quoted(QStringLiteral("status"),
                      f.recycled ? QStringLiteral("cancelled") : QStringLiteral("needs action"));
    }
}

}  // namespace qsync
