#pragma once

#include <QByteArrayView>
#include <QString>

#include "store/tables.h"

#include <utility>

namespace Module1 {

inline constexpr const char *kTaskFileName = "tasks.txt";

// No task file is larger: 1001 tasks of 64 KiB each, twice what the
// editors' boxes take for a title, a For and a description together. A
// larger file is refused unread, and a list that would be larger is not
// saved, so Quillet never writes a file it would refuse.
inline constexpr qint64 kLargestTaskFile = qint64(kTaskSlots) * 64 * 1024;

// tasks.txt in the folder the program started in, named in full so that
// every message tells the user which file it means. For messages only: the
// file is reached through the held folder, never through this text.
QString taskFilePath();

// The folder is held open from the first use of the task file (the start):
// it stays the same folder when it is renamed, a save never goes to
// another folder that later takes its name, and a name that is not valid
// text still works. Released (tests), the next use holds the current one.
void releaseTaskFolder();
// The list this process works on (see listlocation.h), set before the
// folder is first held; until then tasks.txt in the current folder.
void useTaskList(const QString &folder, const QString &fileName);
// The task file's name in the held folder.
QString taskFileName();
// A path that reaches the held folder whatever its name, for what must be
// opened by path beside the task file (the lock).
QString taskFolderAccessPath();

struct FileStatus {
    enum Code {
        Ok,
        Missing,
        Unreadable,
        NotTaskFile,
        TooManyTasks,
        TooManyRules,
        WriteFailed,
        ChangedOutside,
    };
    FileStatus() = default;
    FileStatus(Code c, QString why = {}) : code(c), error(std::move(why)) { }

    Code code = Ok;
    QString error;   // for the user: what failed and why; empty when ok
    QString notice;  // saved, but something of the old file could not be kept

    bool ok() const { return code == Ok; }
    explicit operator bool() const { return ok(); }
};

// Replaces both tables from the bytes of a task file. Refused (TooManyTasks,
// TooManyRules) when the tables cannot hold it, and (NotTaskFile) when
// nothing in a non-empty file is of a task file: notes that happen to be
// named tasks.txt must never be overwritten. The tables are then unchanged.
FileStatus readTasks(QByteArrayView bytes);

// Reads the file and replaces both tables from it. A missing file gives
// empty tables and code Missing; any other failure changes nothing. Only a
// regular file is read: a pipe or a device is refused without blocking.
// Without a path: tasks.txt in the held folder.
FileStatus loadTasks();
FileStatus loadTasks(const QString &path);

// Whether tasks.txt in the held folder still holds what this process last
// read or wrote there (or is still missing): a watcher's event for its own
// save, or a change of only the file's times or mode. False when this
// process never read or wrote it.
bool taskFileAsLastSeen();

// The next load that reads a task file keeps the tables it made, so that
// the load after it, of the same file still holding the same bytes under
// the same locale, takes them instead of reading the text again (the
// windows read the list for the alert window and again for the main
// window). That load drops them, whether it used them or not.
void keepTablesForNextLoad();

// Whether a load makes each task's dueText (on by default). Nothing reads
// it back; a process that ends once it knows nothing is due (the plain
// start) skips the locale's formatting of a thousand dates.
void setDueTextsMade(bool made);

// Writes both tables whole through an atomic replace, inside the list's
// lock (listlock.h; WriteFailed when another writer kept it). On failure the
// old file stays as it was; the new one keeps owner, group, mode and user.*
// attributes (what could not be kept is in `notice`). A file that no longer
// holds what this process last read or wrote is not written (ChangedOutside):
// the caller reads it again. Only a link of this user's or root's is written
// through. syncDirectory=false skips the folder's fsync (benchmarks only).
FileStatus saveTasks();
FileStatus saveTasks(const QString &path, bool syncDirectory = true);

// The file's bytes for the current tables (what saveTasks writes).
QByteArray serializeTables();

// A file size limit (ulimit -f) would kill the process in the middle of a
// write; ignored, the write fails with EFBIG and is reported like any other.
void ignoreFileSizeSignal();

}  // namespace Module1
