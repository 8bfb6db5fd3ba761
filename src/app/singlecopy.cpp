#include "app/singlecopy.h"

#include "store/runtimefolder.h"
#include "store/taskidentity.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>

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

}  // namespace

SingleCopy::SingleCopy(const QString &taskFile, uid_t trustedPeer)
    : m_taskFile(taskFile), m_trustedPeer(trustedPeer)
{
}

SingleCopy::~SingleCopy()
{
    // The server removes its socket through the folder: close it first,
    // and only then let a later start take the lock and the name.
    m_server.reset();
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

void SingleCopy::askToShowTask(const QByteArray &task)
{
    m_task = task;
}

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
    m_server = std::make_unique<QLocalServer>();
    if (!m_server->listen(m_socketPath)) {
        m_listenError =
            QStringLiteral("%1/%2 could not be listened on: %3")
                .arg(m_folderName, QString::fromLatin1(m_socketName), m_server->errorString());
        m_server.reset();
        return;
    }
    connect(m_server.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *peer = m_server->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            if (!trusts(int(peer->socketDescriptor()))) {
                peer->abort();
                peer->deleteLater();
                continue;
            }
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                if (!peer->canReadLine()) {
                    if (peer->bytesAvailable() > kLongestRequest)
                        peer->abort();
                    return;
                }
                if (!answer(peer->readLine(kLongestRequest))) {
                    peer->abort();
                    return;
                }
                peer->write(kShown);
                peer->flush();
            });
        }
    });
}

SingleCopy::Claim SingleCopy::askRunningCopy()
{
    if (m_folder < 0)
        return Claim::Unreachable;
    // The running copy may have just taken the lock and not listen yet.
    QDeadlineTimer deadline(kListenMs);
    QLocalSocket socket;
    QLocalSocket::LocalSocketError lastError = QLocalSocket::ServerNotFoundError;
    while (!deadline.hasExpired()) {
        socket.connectToServer(m_socketPath);
        if (socket.waitForConnected(int(deadline.remainingTime())))
            break;
        lastError = socket.error();
        socket.abort();
        QThread::msleep(20);
    }
    if (socket.state() != QLocalSocket::ConnectedState) {
        // Nobody listens there (no socket, or one nobody accepts on): the
        // running copy cannot be reached. A listener too busy to accept
        // is there but does not answer.
        return lastError == QLocalSocket::SocketTimeoutError ? Claim::NoAnswer : Claim::Unreachable;
    }
    // Tell a stranger nothing, and believe nothing it says.
    if (!trusts(int(socket.socketDescriptor())))
        return Claim::NoAnswer;
    // Only the answer says the list is shown: a copy that hangs (or
    // refused and closed) takes the request and shows nothing.
    deadline.setRemainingTime(kAnswerMs);
    socket.write(m_task.isEmpty() ? QByteArray(kShowAll) : kShowTask + m_task + '\n');
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return Claim::NoAnswer;
    while (!socket.canReadLine() && socket.state() == QLocalSocket::ConnectedState &&
           socket.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())))) { }
    if (socket.canReadLine() && socket.readLine(kLongestRequest) == kShown)
        return Claim::HandedOver;
    return Claim::NoAnswer;
}
