#pragma once

#include "store/taskfile.h"
#include "store/taskids.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace Module1 {

// What a change of the list came to.
struct ChangeResult {
    // The values are the terminal commands' exit statuses.
    enum Status {
        Changed = 0,     // the change is in the file
        NotChanged = 1,  // the file could not be read or saved, or its lock not had
        Refused = 2,     // the change itself refused
    };
    Status status = Changed;
    QString message;      // why not, for the user; empty when changed
    QStringList notices;  // changed, but something beside it could not be kept
};

// One change of the held list, as one transaction: the list's lock
// (listlock.h) is taken, the file loaded, `change` lets alter the tables
// (it returns a text to refuse), the file saved and then `afterSaved` run
// (what follows the file, such as its UID file; it returns a notice, empty
// when all went well), and only then is the lock let go. Every writer that
// takes the lock sees the others' changes; a writer the lock cannot see (a
// hand edit, another user) is met by the save's outside-change check, and
// the file is then read again and the change made again.
ChangeResult changeTaskList(const std::function<QString()> &change,
                            const std::function<QString()> &afterSaved = {});

// The held list read within one hold of its lock, for a step that writes
// what follows the file (its UID file) from what it read: the lock is
// taken, the file loaded, `inspect` run (it returns a text to refuse), and
// the lock let go; the task file itself is not saved.
ChangeResult readTaskList(const std::function<QString()> &inspect);

// A window's save of the tables it holds: saveTasks, and after a save that
// succeeded the UID file follows the tables (taskids.h refreshTaskUids),
// both within one hold of the lock. A UID file that could not be written is
// a notice of the status. `moves`: the tasks this save edited, whose UIDs
// go with them (taskids.h UidMove).
FileStatus saveTasksAndUids(const std::vector<UidMove> &moves = {});

}  // namespace Module1
