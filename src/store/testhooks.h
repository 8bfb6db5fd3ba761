#pragma once
// Tests only: points inside the store where a test puts what the world
// may do at that moment (a sync tool's write, a failing disk).

#include <QByteArray>

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

// Forgets what this run read and saved, as a new run would start.
void forgetThisRun();

}  // namespace Module1
