#include "app/singlecopy.h"

#include "page/alertpage.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <cerrno>

#include <fcntl.h>
#include <sys/socket.h>

namespace {

constexpr char kShowAll[] = "show-all\n";
constexpr char kShown[] = "shown\n";
// A copy that has just taken the lock listens within moments; one that
// listens answers within moments, unless it hangs.
constexpr int kListenMs = 900;
constexpr int kAnswerMs = 5000;
constexpr qint64 kLongestRequest = 64;

QString lockPathFor(const QString &taskFile)
{
    const QFileInfo file(taskFile);
    return file.absolutePath() + QStringLiteral("/.") + file.fileName() + QStringLiteral(".lock");
}

// Where this user's copies meet: <runtime dir>/quillet when it is private;
// else (XDG_RUNTIME_DIR unset or open to others) a folder of our own in
// the temporary folder, made 0700 and checked as QStandardPaths does for
// its own fallback. Never a bare name in a folder others can write to.
int openMeetingFolder(QString *name, QString *why)
{
    const QString runtime = privateRuntimeFolder();
    if (!runtime.isEmpty()) {
        const int fd = openPrivateFolder(QFile::encodeName(runtime), ::geteuid(), why);
        if (fd >= 0) {
            *name = runtime;
            return fd;
        }
    }
    *name = QDir::tempPath() + QStringLiteral("/quillet-%1").arg(::geteuid());
    return openPrivateFolder(QFile::encodeName(*name), ::geteuid(), why);
}

}  // namespace

bool isPrivateFolder(const struct stat &st, uid_t uid)
{
    return S_ISDIR(st.st_mode) && st.st_uid == uid && (st.st_mode & 077) == 0;
}

int openPrivateFolder(const QByteArray &path, uid_t uid, QString *why)
{
    const QString shown = QFile::decodeName(path);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        *why = QStringLiteral("%1 could not be made: %2").arg(shown, qt_error_string(errno));
        return -1;
    }
    // O_NOFOLLOW: a link is refused, wherever it points.
    const int fd = ::open(path.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st { };
    if (fd < 0 || ::fstat(fd, &st) != 0 || !isPrivateFolder(st, uid)) {
        if (fd >= 0)
            ::close(fd);
        *why = QStringLiteral("%1 is not a folder of this user's alone").arg(shown);
        return -1;
    }
    return fd;
}

SingleCopy::SingleCopy(const QString &taskFile, uid_t trustedPeer)
    : m_taskFile(taskFile), m_trustedPeer(trustedPeer), m_lock(lockPathFor(taskFile))
{
    // A lock is stale only when its process is gone, however old it is.
    m_lock.setStaleLockTime(0);
}

SingleCopy::~SingleCopy()
{
    // The server removes its socket through the folder: close it first.
    m_server.reset();
    if (m_folder >= 0)
        ::close(m_folder);
}

void SingleCopy::findMeetingPlace()
{
    const QString folder = QFileInfo(m_taskFile).absolutePath();
    const std::optional<Module1::FolderIdentity> id = Module1::folderIdentity(folder);
    if (!id) {
        m_meetingError =
            QStringLiteral("%1 could not be looked at: %2").arg(folder, qt_error_string(errno));
        return;
    }
    m_folder = openMeetingFolder(&m_folderName, &m_meetingError);
    if (m_folder < 0)
        return;
    m_socketName = QByteArray("copy-") + QByteArray::number(quint64(id->device), 16) + '-' +
                   QByteArray::number(quint64(id->inode), 16);
    // Through the held folder the name is short whatever the folder's path,
    // and always names the folder that was checked.
    m_socketPath =
        QStringLiteral("/proc/self/fd/%1/").arg(m_folder) + QString::fromLatin1(m_socketName);
}

SingleCopy::Claim SingleCopy::claim()
{
    findMeetingPlace();
    if (m_lock.tryLock(0)) {
        listen();
        return Claim::Ours;
    }
    // A folder we may not write in cannot be saved to either: nothing to
    // protect, so this copy runs and reports its failed saves.
    if (m_lock.error() != QLockFile::LockFailedError)
        return Claim::Ours;
    return askRunningCopy();
}

void SingleCopy::onShowAll(std::function<void()> showAll) { m_showAll = std::move(showAll); }

qint64 SingleCopy::holder() const
{
    qint64 pid = 0;
    QString host, app;
    return m_lock.getLockInfo(&pid, &host, &app) ? pid : 0;
}

bool SingleCopy::trusts(int socket) const
{
    struct ucred peer { };
    socklen_t size = sizeof peer;
    return ::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           peer.uid == m_trustedPeer;
}

void SingleCopy::listen()
{
    if (m_folder < 0) {
        m_listenError = m_meetingError;
        return;
    }
    // A socket left by a killed copy would block the name. Nothing but our
    // own copies can put anything in this folder.
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
                if (peer->readLine(kLongestRequest) != kShowAll) {
                    peer->abort();
                    return;
                }
                if (m_showAll)
                    m_showAll();
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
    socket.write(kShowAll);
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return Claim::NoAnswer;
    while (!socket.canReadLine() && socket.state() == QLocalSocket::ConnectedState &&
           socket.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())))) { }
    if (socket.canReadLine() && socket.readLine(kLongestRequest) == kShown)
        return Claim::HandedOver;
    return Claim::NoAnswer;
}
