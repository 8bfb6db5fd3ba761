// quillet-ics: `quillet --export-ics` and `--import-ics`, exec'd by the
// front program so that only these commands map libical.
#include "app/commandline.h"
#include "app/terminalcommands.h"
#include "ics/icscalendar.h"
#include "store/ordering.h"
#include "store/safefile.h"
#include "store/taskfile.h"
#include "store/taskids.h"

#include <QFile>
#include <QHash>
#include <QTimeZone>

#include <cstdio>

#include <unistd.h>

using namespace Module1;

namespace {

// No calendar of 1,001 tasks is larger: three texts of kLongestField
// characters each, three bytes a character at most (UTF-8, or a character
// escaped by a backslash), lines folded every 75 bytes, and 64 KiB for
// whatever else another program puts in a to-do. A larger file is refused
// unread; a stream that goes on past it (/dev/zero) is cut off there.
constexpr qint64 kLargestTodo = 3 * qint64(kLongestField) * 3 * 78 / 75 + 64 * 1024;
constexpr qint64 kLargestCalendar = kTaskSlots * kLargestTodo;

int exportTasks(const QString &target)
{
    const FileStatus loaded = loadTasks();
    if (!loaded.ok() && loaded.code != FileStatus::Missing) {
        complain(loaded.error);
        return 1;
    }
    QStringList uids;
    QString why;
    bool folderReadOnly = false;
    // The calendar goes out only with its UIDs kept, or importing it later
    // would add every task again. Where the list's folder is read-only to
    // this user the UIDs cannot be kept at all; an export still goes out,
    // and a later one may give other UIDs.
    if (!taskUids(&uids, &why, &folderReadOnly)) {
        complain(why);
        if (!folderReadOnly)
            return 1;
    }
    const QByteArray calendar =
        ics::exportCalendar(uids, QString::fromUtf8(QTimeZone::systemTimeZoneId()));
    // Said on stderr: the calendar itself may be the output.
    const auto said = [&] {
        const QByteArray line = QStringLiteral("Exported %1 of %2\n")
                                    .arg(taskCount == 1 ? QStringLiteral("1 task")
                                                        : QStringLiteral("%1 tasks").arg(taskCount),
                                         visible(taskFilePath()))
                                    .toLocal8Bit();
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    };
    if (target == QLatin1String("-")) {
        std::fwrite(calendar.constData(), 1, size_t(calendar.size()), stdout);
        said();
        return 0;
    }
    // A pipe or a device is written to as "> PATH" would, never replaced.
    const OwnFileWrite written = writeOwnFile(target, calendar, OwnFileWrite::StreamsWrittenTo);
    if (!written.ok()) {
        complain(written.why);
        return 1;
    }
    said();
    return 0;
}

int importTasks(const QString &source)
{
    // A pipe on standard input is fine; a named file must be a regular one.
    const ReadResult read = source == QLatin1String("-")
                                ? readStream(STDIN_FILENO, kLargestCalendar)
                                : readRegularFile(source, kLargestCalendar);
    if (read.outcome != ReadResult::Read) {
        complain(QStringLiteral("%1 could not be read: %2")
                     .arg(source, read.outcome == ReadResult::TooLarge
                                      ? QStringLiteral("it is larger than any calendar of %1 tasks "
                                                       "can be")
                                            .arg(kTaskSlots)
                                      : read.why));
        return 1;
    }
    const ics::ReadCalendar calendar = ics::readCalendar(read.bytes);
    if (!calendar.error.isEmpty()) {
        complain(QStringLiteral("%1: %2").arg(source, calendar.error));
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
            // Done or cancelled there: recycled here.
            if (!appendTask(t, isDeleted(t)))
                return listFullText();
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
    bool uidsLost = false;
    const auto rememberUids = [&]() -> QString {
        QString why;
        bool folderReadOnly = false;
        if (rememberTaskUids(uids, &why, &folderReadOnly))
            return {};
        // Unkept, the calendar's UIDs would add its tasks again next time.
        uidsLost = !folderReadOnly;
        return why;
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
    const QByteArray list = visible(taskFilePath()).toLocal8Bit();
    std::printf(" in %s\n", list.constData());
    return uidsLost ? 1 : 0;
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
    default:
        complain(QStringLiteral("quillet-ics does only --export-ics and --import-ics"));
        return 2;
    }
}
