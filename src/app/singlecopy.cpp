#include "app/singlecopy.h"

#include "store/runtimefolder.h"
#include "store/taskidentity.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QThread>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

namespace {

// A request is one line: "show-all", or "show-task <task key>" for the
// list with that task selected.
constexpr char kShowAll[] = "show-all\n";
constexpr char kShowTask[] = "show-task ";
constexpr char kShown[] = "shown\n";
// A copy that has just taken the lock listens within moments; one that
// listens answers within moments, unless it hangs.
constexpr int kListenMs = 900;
constexpr int kAnswerMs = 5000;
constexpr qint64 kLongestRequest = 64;

// The socket's address; false when the name does not fit.
bool addressOf(const QString &path, sockaddr_un *address, socklen_t *length)
{
    const QByteArray name = QFile::encodeName(path);
    *address = sockaddr_un{};
    address->sun_family = AF_UNIX;
    if (size_t(name.size()) >= sizeof address->sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(address->sun_path, name.constData(), size_t(name.size()));
    *length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(name.size()) + 1);
    return true;
}

// Waits for `events` on fd until the deadline; false when it passed.
bool waitFor(int fd, short events, const QDeadlineTimer &deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, int(std::max<qint64>(0, deadline.remainingTime())));
        if (n > 0)
            return true;
        if (n == 0 || errno != EINTR)
            return false;
    }
}

}  // namespace

SingleCopy::SingleCopy(const QString &taskFile, uid_t trustedPeer)
    : m_taskFile(taskFile), m_trustedPeer(trustedPeer)
{ }

SingleCopy::~SingleCopy()
{
    // The socket goes first, and only then may a later start take the lock
    // and the name.
    for (auto &[fd, peer] : m_peers)
        ::close(fd);
    if (m_server >= 0) {
        ::close(m_server);
        ::unlinkat(m_folder, m_socketName.constData(), 0);
    }
    if (m_lock >= 0)
        ::close(m_lock);
    if (m_folder >= 0)
        ::close(m_folder);
}

void SingleCopy::findMeetingPlace()
{
    const QString folder = QFileInfo(m_taskFile).absolutePath();
    const std::optional<Module1::FolderIdentity> id = Module1::folderIdentity(folder);
    if (!id) {
        m_meetingError = QStringLiteral("%1 could not be looked at: %2")
                             .arg(folder, Module1::systemError(errno));
        return;
    }
    Module1::PrivateFolder meeting = Module1::openLockFolder();
    m_folderName = meeting.path;
    if (!meeting.valid()) {
        m_meetingError = meeting.why;
        return;
    }
    m_folder = meeting.fd.release();
    m_socketName = QByteArray("copy-") + QByteArray::number(quint64(id->device), 16) + '-' +
                   QByteArray::number(quint64(id->inode), 16);
    // Through the held folder the name is short whatever the folder's path,
    // and always names the folder that was checked.
    m_socketPath =
        QStringLiteral("/proc/self/fd/%1/").arg(m_folder) + QString::fromLatin1(m_socketName);
}

// A flock on a file beside the socket: the kernel drops it when its copy
// ends, however it ends, so nothing left behind blocks a later start. Only
// this user's processes can put anything in that folder, so no other user
// can hold the lock or make opening it wait.
SingleCopy::Lock SingleCopy::takeLock()
{
    if (m_folder < 0) {
        m_listenError = m_meetingError;
        return Lock::Unavailable;
    }
    const QByteArray name = m_socketName + ".lock";
    QString why;
    m_lock = Module1::openLockFile(m_folder, name, &why);
    if (m_lock >= 0) {
        if (::flock(m_lock, LOCK_EX | LOCK_NB) == 0)
            return Lock::Taken;
        if (errno == EWOULDBLOCK)
            return Lock::Held;
        why = Module1::systemError(errno);
    }
    m_listenError = QStringLiteral("%1/%2 could not be locked: %3")
                        .arg(m_folderName, QString::fromLatin1(name), why);
    if (m_lock >= 0)
        ::close(m_lock);
    m_lock = -1;
    return Lock::Unavailable;
}

SingleCopy::Claim SingleCopy::claim()
{
    findMeetingPlace();
    switch (takeLock()) {
    case Lock::Taken: listen(); return Claim::Ours;
    case Lock::Held: return askRunningCopy();
    case Lock::Unavailable: break;
    }
    // No copy of ours can hold the file either: this one runs, unreachable,
    // and the outside-change check guards its saves.
    return Claim::Ours;
}

void SingleCopy::onShowAll(std::function<void()> showAll) { m_showAll = std::move(showAll); }

void SingleCopy::onShowTask(std::function<void(const QByteArray &task)> showTask)
{
    m_showTask = std::move(showTask);
}

void SingleCopy::askToShowTask(const QByteArray &task) { m_task = task; }

bool SingleCopy::answer(const QByteArray &request)
{
    if (request == kShowAll) {
        if (m_showAll)
            m_showAll();
        return true;
    }
    if (!request.startsWith(kShowTask) || !request.endsWith('\n'))
        return false;
    const QByteArray task = request.mid(qsizetype(sizeof kShowTask) - 1).chopped(1);
    if (!Module1::isTaskKey(task))
        return false;
    if (m_showTask)
        m_showTask(task);
    else if (m_showAll)
        m_showAll();
    return true;
}

qint64 SingleCopy::holder() const { return m_lock >= 0 ? Module1::flockHolder(m_lock) : 0; }

bool SingleCopy::trusts(int socket) const
{
    struct ucred peer { };
    socklen_t size = sizeof peer;
    return ::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           peer.uid == m_trustedPeer;
}

void SingleCopy::listen()
{
    // A socket left by a killed copy would block the name. Nothing but our
    // own copies can put anything in this folder, and none of them listens
    // there while we hold the lock.
    struct stat st { };
    if (::fstatat(m_folder, m_socketName.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISDIR(st.st_mode))
        ::unlinkat(m_folder, m_socketName.constData(), 0);
    sockaddr_un address{};
    socklen_t length = 0;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || !addressOf(m_socketPath, &address, &length) ||
        ::bind(fd, reinterpret_cast<const sockaddr *>(&address), length) != 0 ||
        ::listen(fd, 16) != 0) {
        m_listenError =
            QStringLiteral("%1/%2 could not be listened on: %3")
                .arg(m_folderName, QString::fromLatin1(m_socketName), Module1::systemError(errno));
        if (fd >= 0)
            ::close(fd);
        return;
    }
    m_server = fd;
    m_serverNotifier = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    connect(m_serverNotifier, &QSocketNotifier::activated, this, &SingleCopy::acceptPeers);
}

void SingleCopy::acceptPeers()
{
    for (;;) {
        const int peer = ::accept4(m_server, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (peer < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        if (!trusts(peer)) {
            ::close(peer);
            continue;
        }
        auto *notifier = new QSocketNotifier(qintptr(peer), QSocketNotifier::Read, this);
        m_peers[peer] = Peer{notifier, {}};
        connect(notifier, &QSocketNotifier::activated, this, [this, peer] { readPeer(peer); });
    }
}

void SingleCopy::readPeer(int peer)
{
    const auto it = m_peers.find(peer);
    if (it == m_peers.end())
        return;
    QByteArray &received = it->second.received;
    char buffer[kLongestRequest + 1];
    const ssize_t n = ::recv(peer, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        dropPeer(peer);
        ::close(peer);
        return;
    }
    received.append(buffer, n);
    const qsizetype end = received.indexOf('\n');
    if (end < 0) {
        if (received.size() > kLongestRequest) {
            dropPeer(peer);
            ::close(peer);
        }
        return;
    }
    // One request a connection; anything after its line is not read.
    const QByteArray request = received.left(end + 1);
    dropPeer(peer);
    if (request.size() <= kLongestRequest && answer(request))
        ::send(peer, kShown, sizeof kShown - 1, MSG_NOSIGNAL);
    ::close(peer);
}

// Stops watching the peer; the caller closes it.
void SingleCopy::dropPeer(int peer)
{
    const auto it = m_peers.find(peer);
    if (it == m_peers.end())
        return;
    it->second.notifier->setEnabled(false);
    it->second.notifier->deleteLater();
    m_peers.erase(it);
}

SingleCopy::Claim SingleCopy::askRunningCopy()
{
    if (m_folder < 0)
        return Claim::Unreachable;
    sockaddr_un address{};
    socklen_t length = 0;
    if (!addressOf(m_socketPath, &address, &length))
        return Claim::Unreachable;
    // The running copy may have just taken the lock and not listen yet.
    QDeadlineTimer deadline(kListenMs);
    bool busy = false;  // the last try found a listener too busy to accept
    int fd = -1;
    while (!deadline.hasExpired()) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            return Claim::Unreachable;
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), length) == 0)
            break;
        busy = errno == EAGAIN;
        ::close(fd);
        fd = -1;
        QThread::msleep(20);
    }
    if (fd < 0) {
        // Nobody listens there (no socket, or one nobody accepts on): the
        // running copy cannot be reached. A listener too busy to accept
        // is there but does not answer.
        return busy ? Claim::NoAnswer : Claim::Unreachable;
    }
    const auto done = [fd](Claim claim) {
        ::close(fd);
        return claim;
    };
    // Tell a stranger nothing, and believe nothing it says.
    if (!trusts(fd))
        return done(Claim::NoAnswer);
    // Only the answer says the list is shown: a copy that hangs (or
    // refused and closed) takes the request and shows nothing.
    deadline.setRemainingTime(kAnswerMs);
    QByteArray request = m_task.isEmpty() ? QByteArray(kShowAll) : kShowTask + m_task + '\n';
    while (!request.isEmpty()) {
        const ssize_t n = ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
        if (n > 0)
            request.remove(0, n);
        else if (n < 0 && errno == EINTR)
            continue;
        else if (n < 0 && errno == EAGAIN && waitFor(fd, POLLOUT, deadline))
            continue;
        else
            return done(Claim::NoAnswer);
    }
    QByteArray reply;
    while (!reply.contains('\n') && reply.size() <= kLongestRequest) {
        if (!waitFor(fd, POLLIN, deadline))
            return done(Claim::NoAnswer);
        char buffer[kLongestRequest];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return done(Claim::NoAnswer);
        reply.append(buffer, n);
    }
    return done(reply == kShown ? Claim::HandedOver : Claim::NoAnswer);
}
