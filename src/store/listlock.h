#pragma once

#include <QByteArray>
#include <QString>

namespace Module1 {

// How long a writer waits for another to finish with the list: a change
// takes milliseconds, so only a writer that hangs holds it this long.
inline constexpr int kListLockWaitMs = 5000;

// The kernel lock of one list, held from before its load until the new file
// is in place, so that two writers never both compare and replace: a flock
// on a file in this user's lock folder (runtimefolder.h) named by the
// list's folder (device and inode) and the file's name. The kernel drops
// it when its process ends, however it ends. Taken again by the process
// that holds it, it is only counted, so a transaction's own save goes on.
//
// Where there is no lock folder, or whatever stands at the lock's name is
// not this user's regular file, there is no lock: the change goes ahead and
// the outside-change check alone guards it, as for the one-copy lock.
class ListLock {
public:
    // `folder`: the list's folder, held open; `name` the file's name in it;
    // `shown` the list's path, for the message.
    ListLock(int folder, const QByteArray &name, const QString &shown);
    ~ListLock();
    ListLock(ListLock &&other) noexcept;
    ListLock(const ListLock &) = delete;
    ListLock &operator=(const ListLock &) = delete;
    ListLock &operator=(ListLock &&) = delete;

    // False when another process held the list for the whole wait.
    bool held() const { return m_busy.isEmpty(); }
    // Then: the list, who holds it, and that nothing was changed.
    const QString &busyText() const { return m_busy; }
    // True for the hold that took the kernel lock, not a nested one.
    bool outermost() const { return m_outermost; }

private:
    QByteArray m_key;  // the lock file's name; empty: no lock held
    QString m_busy;
    bool m_outermost = false;
};

// The lock of the list this process works on (taskfile.h: the held
// folder's task file), waited for. saveTasks takes the lock of the list it
// saves the same way, and fails (WriteFailed, with busyText) without it.
ListLock lockTaskList();

}  // namespace Module1
