#include "remind/desktopnotifications.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QTimer>
#include <QVariantMap>

namespace remind {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

constexpr int kCallMs = 10'000;
constexpr int kServiceGraceMs = 5'000;
// Services that never say a notification was closed must not make the list
// of ours grow for the whole session.
constexpr qsizetype kOursKept = 200;

QDBusMessage call(const QString &method)
{
    return QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
}

bool serviceUnknown(const QDBusMessage &reply)
{
    return reply.type() == QDBusMessage::ErrorMessage &&
           (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
            reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"));
}

}  // namespace

DesktopNotifications::DesktopNotifications(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_bus(bus),
      m_owner(kService, m_bus, QDBusServiceWatcher::WatchForOwnerChange)
{
    connect(&m_owner, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] {
        m_ours.clear();
        m_tokens.clear();
    });
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                  SLOT(actionInvoked(uint, QString)));
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActivationToken"), this,
                  SLOT(activationToken(uint, QString)));
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                  SLOT(notificationClosed(uint, uint)));
}

bool DesktopNotifications::connectToService(QString *why)
{
    QDBusMessage reply = m_bus.call(call(QStringLiteral("GetCapabilities")), QDBus::Block, kCallMs);
    if (serviceUnknown(reply)) {
        QDBusServiceWatcher watcher(kService, m_bus, QDBusServiceWatcher::WatchForRegistration);
        QEventLoop wait;
        connect(&watcher, &QDBusServiceWatcher::serviceRegistered, &wait, &QEventLoop::quit);
        QTimer::singleShot(kServiceGraceMs, &wait, &QEventLoop::quit);
        // It may have come between the call and the watch.
        if (!m_bus.interface()->isServiceRegistered(kService))
            wait.exec();
        reply = m_bus.call(call(QStringLiteral("GetCapabilities")), QDBus::Block, kCallMs);
    }
    if (reply.type() != QDBusMessage::ReplyMessage) {
        *why = serviceUnknown(reply)
                   ? QStringLiteral("no notification service (%1) on the session bus").arg(kService)
                   : QStringLiteral("the notification service does not answer: %1")
                         .arg(reply.errorMessage());
        return false;
    }
    const QStringList capabilities = reply.arguments().value(0).toStringList();
    m_bodyMarkup = capabilities.contains(QLatin1String("body-markup"));
    return true;
}

void DesktopNotifications::send(const QString &summary, const QString &body)
{
    QDBusMessage notify = call(QStringLiteral("Notify"));
    const QStringList actions{QStringLiteral("default"), QStringLiteral("Show all"),
                              QStringLiteral("show-all"), QStringLiteral("Show all")};
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("quillet")}};
    // Where the body is read as markup, a "<" or "&" of a task text must
    // stay text. The summary never is.
    notify << QStringLiteral("Quillet") << uint(0) << QStringLiteral("quillet") << summary
           << (m_bodyMarkup ? body.toHtmlEscaped() : body) << actions << hints << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(notify, kCallMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isError()) {
            emit sendFailed(reply.error().message());
            return;
        }
        m_ours.append(reply.value());
        if (m_ours.size() > kOursKept)
            m_ours.removeFirst();
    });
}

void DesktopNotifications::actionInvoked(uint id, const QString &action)
{
    // The service tells every client of every notification.
    if (!m_ours.contains(id))
        return;
    if (action == QLatin1String("default") || action == QLatin1String("show-all"))
        emit showAllRequested(m_tokens.take(id));
}

void DesktopNotifications::activationToken(uint id, const QString &token)
{
    if (m_ours.contains(id))
        m_tokens.insert(id, token);
}

void DesktopNotifications::notificationClosed(uint id, uint)
{
    m_ours.removeAll(id);
    m_tokens.remove(id);
}

}  // namespace remind
