#pragma once

#include "store/safefile.h"

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace Module1 {

// Opens `path` (O_PATH) when it is a folder that only `uid` can enter: a
// real directory (not a link), owned by uid, closed to group and others.
// A missing one is created 0700. -1 and why it cannot be used otherwise;
// a folder that is not private is left as it is.
int openPrivateFolder(const QByteArray &path, uid_t uid, QString *why);

// A folder of this user's alone, opened and checked once and held
// (O_PATH): its users work through the descriptor, so nothing swapped in at
// its name after the check is ever used.
struct PrivateFolder {
    UniqueFd fd;   // not valid when there is none
    QString path;  // its name, for messages (empty when there is no name at all)
    QString why;   // when there is none: why
    bool valid() const { return fd.valid(); }
};

// <runtime dir>/quillet, created (0700) on first use; none when there is no
// runtime dir or the folder is not this user's alone.
PrivateFolder privateRuntimeFolder();

// Where this user's kernel locks (and the hand-over socket) lie: the
// private runtime folder, else a folder of our own in the temporary
// folder, made 0700 and checked as QStandardPaths does for its own
// fallback; never a bare name in a folder others can write to. When
// neither can be used, `why` gives both reasons.
PrivateFolder openLockFolder();

// Opens the lock file `name` in `folder`, made 0600 when missing: whatever
// stands at the name, opening it neither waits (a FIFO) nor leads
// elsewhere (a link), and only a regular file of this user is kept. -1
// and why otherwise.
int openLockFile(int folder, const QByteArray &name, QString *why);

// The process holding a flock on the file behind `fd`, as the kernel lists
// it (a lock file's own content could say anything); 0 when none is listed.
qint64 flockHolder(int fd);

}  // namespace Module1
