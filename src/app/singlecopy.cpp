#include "app/singlecopy.h"

#include "startup/alertpage.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

namespace {

constexpr char kShowAll[] = "show-all\n";
constexpr char kShown[] = "shown\n";
constexpr int kAnswerMs = 900;

QString lockPathFor(const QString &taskFile)
{
    const QFileInfo file(taskFile);
    return file.absolutePath() + QStringLiteral("/.") + file.fileName() + QStringLiteral(".lock");
}

// Derived from the folder's real path, so every start in one folder meets
// the same copy, whichever way the folder was named.
QString serverNameFor(const QString &taskFile)
{
    const QString folder = QFileInfo(QFileInfo(taskFile).absolutePath()).canonicalFilePath();
    const QByteArray id =
        QCryptographicHash::hash(QFile::encodeName(folder), QCryptographicHash::Sha1)
            .toHex()
            .left(20);
    const QString runtime = privateRuntimeFolder();
    const QString name = QStringLiteral("copy-") + QString::fromLatin1(id);
    return runtime.isEmpty() ? name : runtime + QLatin1Char('/') + name;
}

}  // namespace

SingleCopy::SingleCopy(const QString &taskFile)
    : m_serverName(serverNameFor(taskFile)), m_lock(lockPathFor(taskFile))
{
    // A lock is stale only when its process is gone, however old it is.
    m_lock.setStaleLockTime(0);
}

SingleCopy::~SingleCopy() = default;

SingleCopy::Claim SingleCopy::claim()
{
    if (m_lock.tryLock(0)) {
        listen();
        return Claim::Ours;
    }
    // A folder we may not write in cannot be saved to either: nothing to
    // protect, so this copy runs and reports its failed saves.
    if (m_lock.error() != QLockFile::LockFailedError)
        return Claim::Ours;
    return askRunningCopy() ? Claim::HandedOver : Claim::Unsure;
}

void SingleCopy::onShowAll(std::function<void()> showAll) { m_showAll = std::move(showAll); }

void SingleCopy::listen()
{
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket left by a crashed copy would block the name.
    QLocalServer::removeServer(m_serverName);
    if (!m_server->listen(m_serverName))
        return;
    connect(m_server.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *peer = m_server->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                if (!peer->canReadLine())
                    return;
                if (peer->readLine() == kShowAll && m_showAll)
                    m_showAll();
                peer->write(kShown);
                peer->flush();
            });
        }
    });
}

bool SingleCopy::askRunningCopy() const
{
    // The running copy may have just taken the lock and not listen yet.
    const QDeadlineTimer deadline(kAnswerMs);
    QLocalSocket socket;
    while (!deadline.hasExpired()) {
        socket.connectToServer(m_serverName);
        if (socket.waitForConnected(int(deadline.remainingTime())))
            break;
        socket.abort();
        QThread::msleep(20);
    }
    if (socket.state() != QLocalSocket::ConnectedState)
        return false;
    socket.write(kShowAll);
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return false;
    // The request is on its way; the answer only confirms it arrived.
    while (!socket.canReadLine() &&
           socket.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())))) { }
    return true;
}
