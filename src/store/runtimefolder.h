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

}  // namespace Module1
