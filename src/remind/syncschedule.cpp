#include "remind/syncschedule.h"

#include "store/settingsfile.h"
#include "store/systemtext.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInformation>

namespace remind {

namespace {

constexpr int kSettleMs = 5 * 1000;
constexpr int kEveryMs = 15 * 60 * 1000;

QString syncConfigPath()
{
    QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (home.isEmpty() || !QDir::isAbsolutePath(home))
        home = QDir::homePath() + QStringLiteral("/.config");
    return home + QStringLiteral("/quillet/sync.conf");
}

}  // namespace

SyncSchedule::SyncSchedule(const QString &program, const QString &taskFile, QObject *parent)
    : QObject(parent), m_program(program), m_taskFile(QFileInfo(taskFile).absoluteFilePath())
{
    m_soon.setSingleShot(true);
    m_soon.setInterval(kSettleMs);
    // Settable for a test, or for a user who wants a calendar's changes
    // sooner (or less often): QUILLET_SYNC_EVERY, in seconds.
    bool given = false;
    const int every = qEnvironmentVariableIntValue("QUILLET_SYNC_EVERY", &given);
    m_every.setInterval(given && every > 0 && every <= 24 * 3600 ? every * 1000 : kEveryMs);
    connect(&m_soon, &QTimer::timeout, this, &SyncSchedule::runNow);
    connect(&m_every, &QTimer::timeout, this, &SyncSchedule::runNow);
}

void SyncSchedule::start()
{
    m_every.start();
    m_soon.start();
    if (QNetworkInformation::loadDefaultBackend()) {
        QNetworkInformation *network = QNetworkInformation::instance();
        connect(network, &QNetworkInformation::reachabilityChanged, this,
                [this](QNetworkInformation::Reachability r) {
                    if (r == QNetworkInformation::Reachability::Online)
                        m_soon.start();
                });
    }
}

void SyncSchedule::listChanged() { m_soon.start(); }

bool SyncSchedule::configured() const
{
    const std::optional<QByteArray> lists = Module1::readSettingsBytes(
        syncConfigPath(), QByteArrayLiteral("sync"), QByteArrayLiteral("lists"));
    return lists && QJsonDocument::fromJson(*lists).object().contains(m_taskFile);
}

void SyncSchedule::runNow()
{
    if (m_running) {
        m_again = true;  // the list changed during the sync
        return;
    }
    if (m_program.isEmpty() || !configured())
        return;
    m_running = new QProcess(this);
    m_running->setProcessChannelMode(QProcess::SeparateChannels);
    m_running->setStandardOutputFile(QProcess::nullDevice());
    connect(m_running, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        const QString error = QString::fromLocal8Bit(m_running->readAllStandardError()).trimmed();
        m_running->deleteLater();
        m_running = nullptr;
        // A failure is said once, not at every attempt while offline.
        const QString failure = status == QProcess::NormalExit && code == 0 ? QString() : error;
        if (!failure.isEmpty() && failure != m_lastFailure)
            Module1::complain(failure);
        m_lastFailure = failure;
        if (std::exchange(m_again, false))
            m_soon.start();
    });
    m_running->start(m_program, {QStringLiteral("--sync"), QStringLiteral("--file"), m_taskFile});
}

}  // namespace remind
