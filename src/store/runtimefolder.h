#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace Module1 {

// Opens `path` (O_PATH) when it is a folder that only `uid` can enter: a
// real directory (not a link), owned by uid, closed to group and others.
// A missing one is created 0700. -1 and why it cannot be used otherwise;
// a folder that is not private is left as it is.
int openPrivateFolder(const QByteArray &path, uid_t uid, QString *why);

// <runtime dir>/quillet, created (0700) on first use; empty when there is
// no runtime dir or the folder is not this user's alone.
QString privateRuntimeFolder();

// Where this user's kernel locks (and the hand-over socket) lie: the
// private runtime folder, else a folder of our own in the temporary
// folder, made 0700 and checked as QStandardPaths does for its own
// fallback; never a bare name in a folder others can write to. Held open
// (O_PATH); -1 and why when neither can be used. `name` is for messages.
int openLockFolder(QString *name, QString *why);

// Opens the lock file `name` in `folder`, made 0600 when missing: whatever
// stands at the name, opening it neither waits (a FIFO) nor leads
// elsewhere (a link), and only a regular file of this user is kept. -1
// and why otherwise.
int openLockFile(int folder, const QByteArray &name, QString *why);

// The process holding a flock on the file behind `fd`, as the kernel lists
// it (a lock file's own content could say anything); 0 when none is listed.
qint64 flockHolder(int fd);

}  // namespace Module1
