#pragma once

#include "remind/notice.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

class OrgFreedesktopNotificationsInterface;

namespace remind {

// The desktop's notification service (org.freedesktop.Notifications) as the
// reminder uses it. Nothing here waits: calls are answered in the event
// loop, and what cannot be shown while the service is away (not started
// yet, restarting) is kept and shown once when its name is back on the bus.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    enum class Later { Snooze, Tomorrow };
    Q_ENUM(Later)

    explicit DesktopNotifications(const QDBusConnection &bus, QObject *parent = nullptr);
    ~DesktopNotifications() override;

    // Asks the service what it can do, which starts it where the bus knows
    // how to. Answered by ready(), or by unavailable() when no service came
    // within a few seconds (at login it may start after its users).
    void start();

    // A task's notice shown kLateMs or more after it was given here (the
    // service was away) is marked urgent.
    void send(const Notice &notice);
    // The clock in ms since the epoch (tests set their own).
    void setClock(std::function<qint64()> nowMs) { m_nowMs = std::move(nowMs); }

signals:
    void ready();
    void unavailable(const QString &why);
    // A notification of ours was clicked: its task (none: the whole list).
    // The token, when the service gave one, lets the window come to the
    // front.
    void openRequested(const QByteArray &task, const QString &activationToken);
    void laterRequested(const QByteArray &task, Later when);
    void sendFailed(const QString &why);

private:
    struct Pending {
        Notice notice;
        qint64 given;  // when send() had it, ms since the epoch
    };
    struct Shown {
        QByteArray task;
        bool group = false;
        QString token;
    };
    // What the service said of an id before its Notify reply was read.
    struct Early {
        enum class Kind { Token, Action, Closed } kind;
        uint id;
        QString text;
    };

    void ask();
    void flush();
    void notify(quint64 serial, const Pending &pending);
    void ownerChanged(const QString &newOwner);
    void actionInvoked(uint id, const QString &action);
    void activationToken(uint id, const QString &token);
    void notificationClosed(uint id);
    bool keptForItsReply(uint id, Early::Kind kind, const QString &text);

    std::unique_ptr<OrgFreedesktopNotificationsInterface> m_service;
    QDBusServiceWatcher m_owner;
    QTimer m_grace;  // how long a missing service is waited for at start
    bool m_everReady = false;
    bool m_ready = false;  // the service answered and has not gone since
    bool m_asking = false;
    bool m_askAgain = false;  // the owner changed while asking
    bool m_bodyMarkup = false;
    bool m_persistence = false;
    quint64 m_sent = 0;                       // notices given to send(), numbered
    std::map<quint64, Pending> m_pending;     // not shown yet: the service was away
    std::pair<quint64, Pending> m_lastGroup;  // the latest "N more tasks due"
    QHash<uint, Shown> m_ours;                // the notifications we sent that are still shown
    QList<uint> m_order;                      // the same, oldest first
    int m_inFlight = 0;                       // Notify calls not answered yet
    std::vector<Early> m_early;
    std::function<qint64()> m_nowMs;
};

}  // namespace remind
