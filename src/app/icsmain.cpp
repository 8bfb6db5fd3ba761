// quillet-ics: `quillet --export-ics` and `--import-ics`, exec'd by the
// front program so that only these commands map libical.
#include "app/commandline.h"
#include "app/terminalcommands.h"
#include "ics/icscalendar.h"
#include "store/ordering.h"
#include "store/taskids.h"
#include "store/taskfile.h"

#include <QFile>
#include <QHash>
#include <QSaveFile>
#include <QTimeZone>

#include <cstdio>

using namespace Module1;

namespace {

void say(const QString &text) { std::fprintf(stderr, "quillet: %s\n", qPrintable(text)); }

int exportTasks(const QString &target)
{
    const FileStatus loaded = loadTasks();
    if (!loaded.ok() && loaded.code != FileStatus::Missing) {
        say(loaded.error);
        return 1;
    }
    QStringList uids;
    QString why;
    // The UIDs are kept only where the list may be written; an export still
    // goes out, and a later one may give other UIDs.
    if (!taskUids(&uids, &why))
        say(why);
    const QByteArray calendar =
        ics::exportCalendar(uids, QString::fromUtf8(QTimeZone::systemTimeZoneId()));
    if (target == QLatin1String("-")) {
        std::fwrite(calendar.constData(), 1, size_t(calendar.size()), stdout);
        return 0;
    }
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly) || file.write(calendar) != calendar.size() ||
        !file.commit()) {
        say(QStringLiteral("%1 could not be written: %2").arg(target, file.errorString()));
        return 1;
    }
    return 0;
}

int importTasks(const QString &source)
{
    QFile file(source);
    if (source == QLatin1String("-") ? !file.open(stdin, QIODevice::ReadOnly)
                                     : !file.open(QIODevice::ReadOnly)) {
        say(QStringLiteral("%1 could not be read: %2").arg(source, file.errorString()));
        return 1;
    }
    const ics::ReadCalendar calendar = ics::readCalendar(file.readAll());
    if (!calendar.error.isEmpty()) {
        say(QStringLiteral("%1: %2").arg(source, calendar.error));
        return 1;
    }
    int added = 0, updated = 0, tooLong = 0;
    QStringList uids;
    const auto change = [&]() -> QString {
        added = updated = tooLong = 0;
        QString why;
        taskUids(&uids, &why);
        QHash<QString, int> slotOf;
        for (int i = 0; i < uids.size(); ++i)
            slotOf.insert(uids[i], i);
        for (const ics::Todo &todo : calendar.todos) {
            const Task &t = todo.task;
            if (t.title.size() > kLongestField || t.forWhom.size() > kLongestField ||
                t.description.size() > kLongestField) {
                ++tooLong;
                continue;
            }
            // A to-do this list exported (or imported) before updates its task.
            if (const auto known = slotOf.constFind(todo.uid);
                !todo.uid.isEmpty() && known != slotOf.constEnd()) {
                Task &task = tasks[size_t(*known)];
                task = t;
                task.dueText = makeDueText(task);
                task.sortKey = makeSortKey(task);
                ++updated;
                continue;
            }
            if (!appendTask(t))
                return listFullText();
            if (isDeleted(t))
                tasks[size_t(taskCount - 1)].deleted = QStringLiteral("Y");
            // Kept as the calendar gave it, so that its next import updates.
            const QString uid = todo.uid.isEmpty() ? newTaskUid() : todo.uid;
            uids.append(uid);
            slotOf.insert(uid, taskCount - 1);
            ++added;
        }
        return {};
    };
    // The file holds the tasks; their UIDs (the calendar's own) beside it,
    // before any other writer may change the list.
    const auto rememberUids = [&]() -> QString {
        QString why;
        return rememberTaskUids(uids, &why) ? QString() : why;
    };
    if (const int status = applyChange(change, rememberUids); status != 0)
        return status == 2 ? 1 : status;
    std::printf("%d added, %d updated", added, updated);
    if (calendar.withoutDue > 0)
        std::printf(", %d without a due date skipped", calendar.withoutDue);
    if (calendar.recurring > 0)
        std::printf(", %d recurring to-dos taken as single tasks", calendar.recurring);
    if (tooLong > 0)
        std::printf(", %d with a text too long skipped", tooLong);
    std::printf("\n");
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    StartOptions options;
    if (const std::optional<int> code = beginProgram(argc, argv, &options))
        return *code;
    switch (options.command) {
    case StartOptions::ExportIcs: return exportTasks(options.icsFile);
    case StartOptions::ImportIcs: return importTasks(options.icsFile);
    default: say(QStringLiteral("quillet-ics does only --export-ics and --import-ics")); return 2;
    }
}
