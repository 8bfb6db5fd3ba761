#pragma once

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

namespace remind {

// The desktop's notification service (org.freedesktop.Notifications) as the
// reminder uses it: one notification per due task, with the actions that
// open the task list.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotifications(const QDBusConnection &bus, QObject *parent = nullptr);

    // Asks the service what it can do, which starts it where the bus knows
    // how to. One that is not there yet is waited for a few seconds: at
    // login it may start after the programs that use it.
    bool connectToService(QString *why);

    void send(const QString &summary, const QString &body);

signals:
    // A notification of ours was clicked, or its "Show all" pressed. The
    // token, when the service gave one, lets the window come to the front.
    void showAllRequested(const QString &activationToken);
    void sendFailed(const QString &why);

private slots:
    void actionInvoked(uint id, const QString &action);
    void activationToken(uint id, const QString &token);
    void notificationClosed(uint id, uint reason);

private:
    QDBusConnection m_bus;
    QDBusServiceWatcher m_owner;  // a new service numbers from the start again
    bool m_bodyMarkup = false;
    QList<uint> m_ours;  // the notifications we sent and that are still shown
    QHash<uint, QString> m_tokens;
};

}  // namespace remind
