#include "remind/sessionbus.h"

#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QFile>
#include <QMutexLocker>

namespace testsupport {

PrivateBus::~PrivateBus() { stop(); }

bool PrivateBus::start(QString *why)
{
    if (!m_dir.isValid()) {
        *why = QStringLiteral("no temporary folder");
        return false;
    }
    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile f(config);
    if (!f.open(QIODevice::WriteOnly)) {
        *why = f.errorString();
        return false;
    }
    f.write(
        QStringLiteral(
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig>\n"
            "  <type>session</type>\n"
            "  <listen>unix:dir=%1</listen>\n"
            "  <auth>EXTERNAL</auth>\n"
            "  <policy context=\"default\">\n"
            "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
            "    <allow eavesdrop=\"true\"/>\n"
            "    <allow own=\"*\"/>\n"
            "  </policy>\n"
            "</busconfig>\n")
            .arg(m_dir.path())
            .toUtf8());
    f.close();
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                    QStringLiteral("--nopidfile"), QStringLiteral("--print-address")});
    if (!m_daemon.waitForStarted(5000)) {
        *why = QStringLiteral("dbus-daemon: ") + m_daemon.errorString();
        return false;
    }
    QByteArray out;
    QElapsedTimer t;
    t.start();
    while (!out.contains('\n') && t.elapsed() < 10000 && m_daemon.state() == QProcess::Running) {
        m_daemon.waitForReadyRead(100);
        out += m_daemon.readAllStandardOutput();
    }
    m_address = QString::fromUtf8(out).trimmed();
    if (m_address.isEmpty()) {
        *why = QStringLiteral("dbus-daemon printed no address: ") +
               QString::fromLocal8Bit(m_daemon.readAllStandardError());
        return false;
    }
    return true;
}

void PrivateBus::stop()
{
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(3000)) {
            m_daemon.kill();
            m_daemon.waitForFinished(3000);
        }
    }
}

uint FakeNotificationsObject::Notify(const QString &appName, uint replacesId, const QString &icon,
                                     const QString &summary, const QString &body,
                                     const QStringList &actions, const QVariantMap &hints,
                                     int timeout)
{
    QMutexLocker lock(m_mutex);
    Shown s{m_nextId++, appName, replacesId, icon, summary, body, actions, hints, timeout};
    m_shown->push_back(s);
    const std::optional<SaidFirst> said = std::exchange(*m_saidFirst, std::nullopt);
    lock.unlock();
    if (said) {
        // The signals go out before the reply, in that order on the bus.
        setDelayedReply(true);
        const QDBusMessage reply = message().createReply(s.id);
        if (!said->token.isEmpty())
            emit ActivationToken(s.id, said->token);
        if (!said->action.isEmpty())
            emit ActionInvoked(s.id, said->action);
        if (said->closed)
            emit NotificationClosed(s.id, 2);
        connection().send(reply);
    }
    return s.id;
}

QStringList FakeNotificationsObject::GetCapabilities()
{
    QMutexLocker lock(m_mutex);
    ++*m_capabilityCalls;
    return m_capabilities;
}

void FakeNotificationsObject::CloseNotification(uint id)
{
    {
        QMutexLocker lock(m_mutex);
        m_closeCalls->push_back(id);
    }
    emit NotificationClosed(id, 3);
}

QString FakeNotificationsObject::GetServerInformation(QString &vendor, QString &version,
                                                      QString &specVersion)
{
    vendor = QStringLiteral("Quillet tests");
    version = QStringLiteral("1");
    specVersion = QStringLiteral("1.2");
    return QStringLiteral("fake");
}

template <typename F> void FakeNotificationService::inThread(F f)
{
    QMetaObject::invokeMethod(m_context, f, Qt::BlockingQueuedConnection);
}

FakeNotificationService::FakeNotificationService(const QString &busAddress,
                                                 QStringList capabilities)
{
    static int serial = 0;
    m_connectionName = QStringLiteral("fake-notifications-%1").arg(++serial);
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, m_context, &QObject::deleteLater);
    m_thread.start();
    inThread([&] {
        m_object = new FakeNotificationsObject(std::move(capabilities), &m_mutex, &m_shown,
                                               &m_capabilityCalls, &m_closeCalls, &m_saidFirst);
        QDBusConnection bus = QDBusConnection::connectToBus(busAddress, m_connectionName);
        m_registered = bus.isConnected() &&
                       bus.registerObject(
                           QStringLiteral("/org/freedesktop/Notifications"), m_object,
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals) &&
                       bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    });
}

FakeNotificationService::~FakeNotificationService()
{
    inThread([&] {
        QDBusConnection::disconnectFromBus(m_connectionName);
        delete m_object;
    });
    m_thread.quit();
    m_thread.wait();
}

std::vector<Shown> FakeNotificationService::shown() const
{
    QMutexLocker lock(&m_mutex);
    return m_shown;
}

int FakeNotificationService::capabilityCalls() const
{
    QMutexLocker lock(&m_mutex);
    return m_capabilityCalls;
}

std::vector<uint> FakeNotificationService::closeCalls() const
{
    QMutexLocker lock(&m_mutex);
    return m_closeCalls;
}

void FakeNotificationService::invoke(uint id, const QString &action, const QString &token)
{
    inThread([&] {
        if (!token.isEmpty())
            emit m_object->ActivationToken(id, token);
        emit m_object->ActionInvoked(id, action);
    });
}

void FakeNotificationService::sayFirst(const SaidFirst &said)
{
    QMutexLocker lock(&m_mutex);
    m_saidFirst = said;
}

void FakeNotificationService::close(uint id)
{
    inThread([&] { emit m_object->NotificationClosed(id, 2); });
}

}  // namespace testsupport
