#include "store/listchange.h"

#include "store/listlock.h"
#include "store/taskids.h"

namespace Module1 {

ChangeResult changeTaskList(const std::function<QString()> &change,
                            const std::function<QString()> &afterSaved)
{
    const ListLock lock = lockTaskList();
    if (!lock.held())
        return {ChangeResult::NotChanged, lock.busyText(), {}};
    // A writer that changes the file again and again is not waited for
    // forever.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const FileStatus loaded = loadTasks();
        if (!loaded.ok() && loaded.code != FileStatus::Missing)
            return {ChangeResult::NotChanged, loaded.error, {}};
        // Not written is no failure here: the save's own UID step says so.
        QString unpaired;
        pairOutsideEdit(&unpaired);
        if (const QString refused = change(); !refused.isEmpty())
            return {ChangeResult::Refused, refused, {}};
        const FileStatus saved = saveTasks();
        if (saved.code == FileStatus::ChangedOutside)
            continue;
        if (!saved.ok())
            return {ChangeResult::NotChanged, saved.error, {}};
        ChangeResult result;
        if (!saved.notice.isEmpty())
            result.notices << saved.notice;
        if (afterSaved) {
            if (const QString notice = afterSaved(); !notice.isEmpty())
                result.notices << notice;
        }
        return result;
    }
    return {ChangeResult::NotChanged,
            QStringLiteral("%1 keeps changing outside Quillet, so the change was not saved; "
                           "try again.")
                .arg(taskFilePath()),
            {}};
}

ChangeResult readTaskList(const std::function<QString()> &inspect)
{
    const ListLock lock = lockTaskList();
    if (!lock.held())
        return {ChangeResult::NotChanged, lock.busyText(), {}};
    const FileStatus loaded = loadTasks();
    if (!loaded.ok() && loaded.code != FileStatus::Missing)
        return {ChangeResult::NotChanged, loaded.error, {}};
    if (const QString refused = inspect(); !refused.isEmpty())
        return {ChangeResult::Refused, refused, {}};
    return {};
}

FileStatus saveTasksAndUids(const std::vector<UidMove> &moves)
{
    const ListLock lock = lockTaskList();
    if (!lock.held())
        return {FileStatus::WriteFailed, lock.busyText()};
    FileStatus status = saveTasks();
    QString why;
    if (status.ok() && !refreshTaskUids(&why, moves)) {
        status.notice += (status.notice.isEmpty() ? QString() : QStringLiteral("\n")) +
                         QStringLiteral(
                             "%1 was saved, but its tasks' calendar UIDs could not "
                             "be kept: %2")
                             .arg(taskFilePath(), why);
    }
    return status;
}

}  // namespace Module1
