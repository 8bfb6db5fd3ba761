#include "remind/desktopnotifications.h"

#include "notifications_interface.h"

#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDateTime>
#include <QScopeGuard>
#include <QVariantMap>

#include <algorithm>

namespace remind {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

constexpr int kCallMs = 10'000;
constexpr int kServiceGraceMs = 5'000;
// Services that never say a notification was closed must not make the list
// of ours grow for the whole session.
constexpr qsizetype kOursKept = 200;
// The Desktop Notifications urgency levels.
constexpr uchar kNormal = 1;
constexpr uchar kCritical = 2;

// The call did not reach a service, or the service went away before it
// answered: nothing was shown, and the service's return will tell.
bool serviceAway(const QDBusError &error)
{
    const QString name = error.name();
    return name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
           name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
           name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
           error.type() == QDBusError::Disconnected;
}

}  // namespace

DesktopNotifications::DesktopNotifications(const QDBusConnection &bus, QObject *parent)
    : QObject(parent),
      m_service(std::make_unique<OrgFreedesktopNotificationsInterface>(kService, kPath, bus)),
      m_owner(kService, bus, QDBusServiceWatcher::WatchForOwnerChange),
      m_nowMs([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    m_service->setTimeout(kCallMs);
    m_grace.setSingleShot(true);
    m_grace.setInterval(kServiceGraceMs);
    connect(&m_grace, &QTimer::timeout, this, [this] {
        if (!m_everReady)
            emit unavailable(
                QStringLiteral("no notification service (%1) on the session bus").arg(kService));
    });
    connect(&m_owner, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &newOwner) {
                ownerChanged(newOwner);
            });
    connect(m_service.get(), &OrgFreedesktopNotificationsInterface::ActionInvoked, this,
            &DesktopNotifications::actionInvoked);
    connect(m_service.get(), &OrgFreedesktopNotificationsInterface::ActivationToken, this,
            &DesktopNotifications::activationToken);
    connect(m_service.get(), &OrgFreedesktopNotificationsInterface::NotificationClosed, this,
            [this](uint id, uint) { notificationClosed(id); });
}

DesktopNotifications::~DesktopNotifications() = default;

void DesktopNotifications::start()
{
    m_grace.start();
    if (!m_asking)
        ask();
}

void DesktopNotifications::ask()
{
    m_asking = true;
    auto *watcher = new QDBusPendingCallWatcher(m_service->GetCapabilities(), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        m_asking = false;
        // The service came or went while we asked: the answer may be the
        // old one's, or an error from before the new one came.
        if (std::exchange(m_askAgain, false)) {
            ask();
            return;
        }
        const QDBusPendingReply<QStringList> reply = *w;
        if (reply.isError()) {
            m_ready = false;
            // Not there (yet): its name on the bus says when it comes.
            if (!serviceAway(reply.error()) && !m_everReady)
                emit unavailable(QStringLiteral("the notification service does not answer: %1")
                                     .arg(reply.error().message()));
            return;
        }
        m_bodyMarkup = reply.value().contains(QLatin1String("body-markup"));
        m_persistence = reply.value().contains(QLatin1String("persistence"));
        m_ready = true;
        if (!m_everReady) {
            m_everReady = true;
            m_grace.stop();
            emit ready();
        }
        flush();
    });
}

void DesktopNotifications::ownerChanged(const QString &newOwner)
{
    // A new service numbers its notifications from the start again.
    m_ours.clear();
    m_order.clear();
    m_early.clear();
    m_ready = false;
    if (m_asking)
        m_askAgain = !newOwner.isEmpty();
    else if (!newOwner.isEmpty())
        ask();
}

void DesktopNotifications::send(const Notice &notice)
{
    const quint64 serial = ++m_sent;
    const Pending pending{notice, m_nowMs()};
    if (notice.group) {
        // Only the latest count is worth showing.
        std::erase_if(m_pending, [](const auto &p) { return p.second.notice.group; });
        m_lastGroup = {serial, pending};
    }
    m_pending.emplace(serial, pending);
    flush();
}

void DesktopNotifications::flush()
{
    if (!m_ready) {
        // Asking starts a service the bus knows how to start; one that is
        // not there is waited for through its name.
        if (!m_asking)
            ask();
        return;
    }
    const std::map<quint64, Pending> now = std::exchange(m_pending, {});
    for (const auto &[serial, pending] : now)
        notify(serial, pending);
}

void DesktopNotifications::notify(quint64 serial, const Pending &pending)
{
    const Notice &notice = pending.notice;
    // Held back while the service was away: the task is overdue by now.
    const bool critical =
        notice.critical || (!notice.task.isEmpty() && m_nowMs() - pending.given >= kLateMs);
    QStringList actions;
    if (notice.task.isEmpty()) {
        actions = {QStringLiteral("default"), QStringLiteral("Show all")};
    } else {
        actions = {QStringLiteral("default"),  QStringLiteral("Open"),
                   QStringLiteral("snooze"),   QStringLiteral("Snooze"),
                   QStringLiteral("tomorrow"), QStringLiteral("Tomorrow")};
    }
    QVariantMap hints{
        {QStringLiteral("desktop-entry"), QStringLiteral("quillet")},
        {QStringLiteral("urgency"), QVariant::fromValue(critical ? kCritical : kNormal)}};
    // Kept by the service until the user acts; closed by us once they do.
    if (m_persistence)
        hints.insert(QStringLiteral("resident"), true);
    uint replaces = 0;
    if (notice.group) {
        for (auto it = m_ours.cbegin(); it != m_ours.cend(); ++it) {
            if (it->group)
                replaces = it.key();
        }
    }
    // Where the body is read as markup, a "<" or "&" of a task text must
    // stay text. The summary never is.
    const QDBusPendingReply<uint> call = m_service->Notify(
        QStringLiteral("Quillet"), replaces, QStringLiteral("quillet"), notice.summary,
        m_bodyMarkup ? notice.body.toHtmlEscaped() : notice.body, actions, hints, 0);
    ++m_inFlight;
    auto *watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, serial, pending](QDBusPendingCallWatcher *w) {
                const Notice &notice = pending.notice;
                w->deleteLater();
                --m_inFlight;
                // What came for ids no call of ours was given is another
                // program's.
                const auto forgetEarly = qScopeGuard([this] {
                    if (m_inFlight == 0)
                        m_early.clear();
                });
                const QDBusPendingReply<uint> reply = *w;
                if (reply.isError()) {
                    if (serviceAway(reply.error())) {
                        m_ready = false;
                        // Kept in the order they were sent, whatever
                        // order the failures come back in.
                        if (!notice.group)
                            m_pending.emplace(serial, pending);
                        else if (std::none_of(m_pending.cbegin(), m_pending.cend(),
                                              [](const auto &p) { return p.second.notice.group; }))
                            m_pending.insert(m_lastGroup);  // the count as it is now
                    } else {
                        emit sendFailed(reply.error().message());
                    }
                    return;
                }
                const uint id = reply.value();
                if (!m_ours.contains(id))
                    m_order.append(id);
                m_ours.insert(id, {notice.task, notice.group, {}});
                if (m_order.size() > kOursKept)
                    m_ours.remove(m_order.takeFirst());
                // A click can be read before the reply that names its id:
                // QtDBus does not keep a reply and a signal in order.
                std::vector<Early> early;
                std::erase_if(m_early, [&](const Early &e) {
                    if (e.id != id)
                        return false;
                    early.push_back(e);
                    return true;
                });
                for (const Early &e : early) {
                    switch (e.kind) {
                    case Early::Kind::Token:
                        activationToken(e.id, e.text);
                        break;
                    case Early::Kind::Action:
                        actionInvoked(e.id, e.text);
                        break;
                    case Early::Kind::Closed:
                        notificationClosed(e.id);
                        break;
                    }
                }
            });
}

bool DesktopNotifications::keptForItsReply(uint id, Early::Kind kind, const QString &text)
{
    if (m_ours.contains(id) || m_inFlight == 0)
        return false;
    m_early.push_back({kind, id, text});
    return true;
}

void DesktopNotifications::actionInvoked(uint id, const QString &action)
{
    // The service tells every client of every notification.
    if (keptForItsReply(id, Early::Kind::Action, action))
        return;
    const auto it = m_ours.find(id);
    if (it == m_ours.end())
        return;
    // A token lets one window come to the front, once.
    const Shown shown = *it;
    it->token.clear();
    if (action == QLatin1String("default"))
        emit openRequested(shown.task, shown.token);
    else if (action == QLatin1String("snooze") && !shown.task.isEmpty())
        emit laterRequested(shown.task, Later::Snooze);
    else if (action == QLatin1String("tomorrow") && !shown.task.isEmpty())
        emit laterRequested(shown.task, Later::Tomorrow);
    else
        return;
    // Withdrawn whatever the service said it can do: a resident one stays
    // until its sender closes it, and some services (dunst) keep any
    // notification with actions after one was invoked.
    m_service->CloseNotification(id);
}

void DesktopNotifications::activationToken(uint id, const QString &token)
{
    if (keptForItsReply(id, Early::Kind::Token, token))
        return;
    const auto it = m_ours.find(id);
    if (it != m_ours.end())
        it->token = token;
}

void DesktopNotifications::notificationClosed(uint id)
{
    if (keptForItsReply(id, Early::Kind::Closed, {}))
        return;
    m_ours.remove(id);
    m_order.removeOne(id);
}

}  // namespace remind
