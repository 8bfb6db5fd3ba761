#pragma once
// Tests only: points inside the store where a test puts what the world
// may do at that moment (a sync tool's write, a failing disk).

#include "store/taskfile.h"

#include <QByteArray>
#include <QByteArrayView>

#include <functional>

namespace Module1 {

// Runs after the new file is synced, right before the last check and the
// rename, where a sync tool's write may land.
void setBeforeRenameHook(std::function<void()> hook);

// Runs right after a save's new file is made, before anything is written
// to it (its name in the target's folder).
void setNewFileHook(std::function<void(const QByteArray &name)> hook);

// Stands in for fsync(2) on the files a save writes: a disk that fails
// late. Cleared with an empty function.
void setSyncHook(std::function<int(int fd)> hook);

// readTasks as it is plainly done: the whole file decoded at once, then
// split into lines. The reader, which decodes line by line, must make the
// same of any bytes.
FileStatus readTasksDecodedWhole(QByteArrayView bytes);

// Forgets what this run read and saved, as a new run would start.
void forgetThisRun();

}  // namespace Module1
