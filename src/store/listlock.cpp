#include "store/listlock.h"

#include "store/runtimefolder.h"
#include "store/safefile.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QHash>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Module1 {
namespace {

// The lists whose lock this process holds, and how often: a flock belongs
// to one open file, and a second open of the lock file here would wait for
// this process's own first.
struct Hold {
    int fd = -1;
    int depth = 0;
};
QHash<QByteArray, Hold> &holds()
{
    static QHash<QByteArray, Hold> held;
    return held;
}

// list-<device>-<inode>-<hash of the name>.lock: every name of the folder
// (a link, a bind mount) meets the same lock, and --file other.txt in the
// same folder is another list. The name is hashed so that any bytes of any
// length make one short, plain name.
QByteArray lockName(int folder, const QByteArray &name)
{
    struct stat st { };
    if (folder < 0 || ::fstat(folder, &st) != 0)
        return {};
    const QByteArray hash =
        QCryptographicHash::hash(name, QCryptographicHash::Sha256).toHex().left(12);
    return "list-" + QByteArray::number(quint64(st.st_dev), 16) + '-' +
           QByteArray::number(quint64(st.st_ino), 16) + '-' + hash + ".lock";
}

QString heldByAnother(const QString &shown, qint64 holder)
{
    const QString who = holder > 0 ? QStringLiteral("another Quillet (process %1)").arg(holder)
                                   : QStringLiteral("another Quillet");
    return QStringLiteral("%1 is being changed by %2, so the change was not saved; try again.")
        .arg(shown, who);
}

}  // namespace

ListLock::ListLock(int folder, const QByteArray &name, const QString &shown)
{
    const QByteArray key = lockName(folder, name);
    if (key.isEmpty())
        return;
    if (const auto held = holds().find(key); held != holds().end()) {
        ++held->depth;
        m_key = key;
        return;
    }
    const PrivateFolder lockFolder = openLockFolder();
    if (!lockFolder.valid())
        return;
    QString why;
    UniqueFd lock(openLockFile(lockFolder.fd.get(), key, &why));
    if (!lock.valid())
        return;
    // Polled rather than blocking, so that the wait has an end; the pauses
    // grow so that fifty waiters cost little.
    const QDeadlineTimer deadline(kListLockWaitMs);
    int pauseMs = 1;
    while (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
        // A file system that takes no lock (ENOLCK) is as no lock folder.
        if (errno != EWOULDBLOCK && errno != EINTR)
            return;
        if (deadline.hasExpired()) {
            m_busy = heldByAnother(shown, flockHolder(lock.get()));
            return;
        }
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::min<qint64>(pauseMs, deadline.remainingTime())));
        pauseMs = std::min(pauseMs * 2, 50);
    }
    holds().insert(key, Hold{lock.release(), 1});
    m_key = key;
    m_outermost = true;
}

ListLock::ListLock(ListLock &&other) noexcept
    : m_key(std::exchange(other.m_key, {})), m_busy(std::move(other.m_busy)),
      m_outermost(std::exchange(other.m_outermost, false))
{ }

ListLock::~ListLock()
{
    if (m_key.isEmpty())
        return;
    const auto held = holds().find(m_key);
    if (held == holds().end() || --held->depth > 0)
        return;
    // Closing the only descriptor of that open file drops the lock.
    ::close(held->fd);
    holds().erase(held);
}

}  // namespace Module1
