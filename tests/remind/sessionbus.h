#pragma once

// A private session bus and a stand-in desktop notification service on it,
// for tests of the reminder: nothing reaches the user's own desktop.
#include <QDBusConnection>
#include <QDBusContext>
#include <QMutex>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QVariantMap>

#include <memory>
#include <optional>
#include <vector>

namespace testsupport {

// dbus-daemon on a socket in a temporary folder, with no services it could
// start by itself (so that a notification daemon installed on the machine
// never answers in place of the fake).
class PrivateBus {
public:
    PrivateBus() = default;
    ~PrivateBus();
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    bool start(QString *why);
    void stop();
    QString address() const { return m_address; }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
};

// One Notify call as the service received it.
struct Shown {
    uint id = 0;
    QString appName;
    uint replacesId = 0;
    QString icon, summary, body;
    QStringList actions;
    QVariantMap hints;
    int timeout = 0;
};

// What the service says of the next notification before it answers the
// Notify call that shows it.
struct SaidFirst {
    QString action, token;  // clicked, when action is set
    bool closed = false;
};

// The object exported at /org/freedesktop/Notifications; it lives in the
// service's own thread.
class FakeNotificationsObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    FakeNotificationsObject(QStringList capabilities, QMutex *mutex, std::vector<Shown> *shown,
                            int *capabilityCalls, std::vector<uint> *closeCalls,
                            std::optional<SaidFirst> *saidFirst)
        : m_capabilities(std::move(capabilities)), m_mutex(mutex), m_shown(shown),
          m_capabilityCalls(capabilityCalls), m_closeCalls(closeCalls), m_saidFirst(saidFirst)
    { }

public slots:
    uint Notify(const QString &appName, uint replacesId, const QString &icon,
                const QString &summary, const QString &body, const QStringList &actions,
                const QVariantMap &hints, int timeout);
    QStringList GetCapabilities();
    void CloseNotification(uint id);
    QString GetServerInformation(QString &vendor, QString &version, QString &specVersion);

signals:
    void ActionInvoked(uint id, const QString &actionKey);
    void ActivationToken(uint id, const QString &token);
    void NotificationClosed(uint id, uint reason);

private:
    QStringList m_capabilities;
    QMutex *m_mutex;
    std::vector<Shown> *m_shown;
    int *m_capabilityCalls;
    std::vector<uint> *m_closeCalls;
    std::optional<SaidFirst> *m_saidFirst;
    uint m_nextId = 1;
};

// org.freedesktop.Notifications on the private bus, answered from a thread
// of its own, so that a test may call the service through a blocking call
// on its main thread. Every method may be called from the test's thread.
class FakeNotificationService {
public:
    explicit FakeNotificationService(const QString &busAddress,
                                     QStringList capabilities = {"actions", "body"});
    ~FakeNotificationService();

    bool registered() const { return m_registered; }
    std::vector<Shown> shown() const;
    int capabilityCalls() const;
    // The ids a client asked to close, in order.
    std::vector<uint> closeCalls() const;

    // As the desktop does when the user clicks: the token first (where
    // given), then the action.
    void invoke(uint id, const QString &action, const QString &token = {});
    void close(uint id);
    // The next Notify is answered only after these signals.
    void sayFirst(const SaidFirst &said);

private:
    template <typename F> void inThread(F f);

    QString m_connectionName;
    QThread m_thread;
    QObject *m_context = nullptr;  // lives in m_thread
    mutable QMutex m_mutex;
    std::vector<Shown> m_shown;
    int m_capabilityCalls = 0;
    std::vector<uint> m_closeCalls;
    std::optional<SaidFirst> m_saidFirst;
    FakeNotificationsObject *m_object = nullptr;
    bool m_registered = false;
};

}  // namespace testsupport
