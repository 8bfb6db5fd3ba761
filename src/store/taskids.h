#pragma once

#include "store/taskidentity.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace Module1 {

// Each task's UID for calendars (iCalendar), stable while the task lives.
// The task file has no room for it and must stay as it is, so the UIDs are
// kept beside it, in a hidden file (".tasks.txt.uids"), each with a
// fingerprint of its task, its calendar print (printOf, of
// store/taskidentity.h): title, for whom, due, description. A task is
// known again by its print; one that was edited since (by the windows, by
// hand, by another program) by the entry that shares most of it (the title
// or the due at least). Recycling and restoring change no print; sorting
// changes no task.

struct KnownUid {
    QString uid;
    TaskPrint print;
};

// A UID for each print: an exact entry first, then the entry that shares
// most of its print (title and due count twice as much as for and the
// description; at least one of title and due must agree), each entry used
// once; otherwise a new UID.
// `lastPaired`: given, the one task left without an entry takes the one
// entry left (an outside edit of its title and due together), and it says
// whether that was done.
QStringList assignUids(const std::vector<TaskPrint> &tasks, const std::vector<KnownUid> &known,
                       bool *lastPaired = nullptr);

QString newTaskUid();

// A task Quillet itself changed (the editor's Ok, `--edit`): its UID goes
// from the entry of its print before to its print after, so that a task
// whose title and due changed together is still the same to-do.
struct UidMove {
    TaskPrint from, to;
};
// The entries with each move made: the first entry holding `from` and not
// moved already now holds `to`.
void moveUids(std::vector<KnownUid> *known, const std::vector<UidMove> &moves);

// A UID longer than this (in UTF-8) is not kept: calendars' UIDs are
// a few dozen bytes, and the UID file must stay bounded to be read.
inline constexpr qsizetype kLongestUid = 4096;
// No UID file is larger: a line a task, each UID escaped (three bytes a
// byte at most) and four hashes. A larger one is refused unread.
inline constexpr qint64 kLargestUidFile = qint64(kTaskSlots) * (3 * kLongestUid + 4 * 25 + 2) + 64;

// The file that keeps the UIDs of a task file at `taskFile`.
QString uidFilePath(const QString &taskFile);
// Its entries; none, and the reason in `why`, when it cannot be read (a
// missing file is no failure).
std::vector<KnownUid> readUidFile(const QString &path, QString *why = nullptr);
// Replaced whole through the store's writer; false with the reason.
// `folderReadOnly`: the failure is the list's folder taking no new files.
bool writeUidFile(const QString &path, const QStringList &uids, QString *why,
                  bool *folderReadOnly = nullptr);

// The UIDs of tasks[0..taskCount) of the held list, in table order, kept
// in its UID file (made on the first call). False with the reason when the
// file could not be read or written; the UIDs are still given.
bool taskUids(QStringList *uids, QString *why, bool *folderReadOnly = nullptr,
              const std::vector<UidMove> &moves = {});
// After a save: the UID file follows the tables, when there is one, with
// the UIDs of `moves` moved first. A list never exported gets none.
bool refreshTaskUids(QString *why, const std::vector<UidMove> &moves = {});
// Just after a load, before any change: a task of the held list edited
// outside in title and due together keeps its UID when it is the only task
// the UID file does not know and one entry is the only one gone. Later in
// the same change a task added would make two unknown, so it is paired now.
bool pairOutsideEdit(QString *why);
// Remembers `uids` for tasks[0..taskCount) in the held list's UID file.
bool rememberTaskUids(const QStringList &uids, QString *why, bool *folderReadOnly = nullptr);

}  // namespace Module1
