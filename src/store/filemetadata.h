#pragma once
// What a file keeps when the store's writer replaces it: who may read or
// write it (owner, group, mode, ACL) and its user.* attributes.

#include <QStringList>

#include <sys/stat.h>

namespace Module1 {

// Gives the new file `newFd` the old one's owner, group, ACL, mode and
// user.* attributes, so that a save changes nothing about who may read or
// write it. `oldFd` may be -1 (only the owner, group and mode of `old`
// then). Says what could not be kept.
QStringList keepMetadata(int oldFd, const struct stat &old, int newFd);

}  // namespace Module1
