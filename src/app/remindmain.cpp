// quillet-remind: `quillet --remind`, exec'd by the front program so that
// the plain start, at every login, maps no D-Bus library. It stays for the
// session and sends a desktop notification when a task of its list (the
// one every other command uses) falls due. QtCore and QtDBus only; it never writes the task
// file and takes no lock. The exit status: 0 when another reminder already
// serves this folder, 1 when it cannot work (no session bus, no
// notification service) or its folder is removed or moved away.
#include "app/commandline.h"
#include "app/siblings.h"
#include "remind/desktopnotifications.h"
#include "remind/realtimealarm.h"
#include "remind/reminder.h"
#include "remind/syncschedule.h"
#include "store/folderwatch.h"
#include "store/listlocation.h"
#include "store/safefile.h"
#include "store/taskfile.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <memory>
#include <optional>

#include <unistd.h>

namespace {

using Module1::complain;

// The list's identity as a bus name element: its folder's device and
// inode, and for a list not named tasks.txt a digest of its name, so that
// two lists of one folder each get their reminder.
QString identityText(const Module1::FolderIdentity &id, const QString &fileName)
{
    QString text = QStringLiteral("d%1_i%2").arg(quint64(id.device)).arg(quint64(id.inode));
    if (fileName != QLatin1String(Module1::kTaskFileName))
        text += QStringLiteral("_n") +
                QString::fromLatin1(QCryptographicHash::hash(QFile::encodeName(fileName),
                                                             QCryptographicHash::Sha256)
                                        .toHex()
                                        .left(16));
    return text;
}

// Where the tasks put off for this list are kept: this user's state
// folder, never beside the task file.
QString putOffFile(const QString &identity)
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/quillet/put-off-") + identity;
}

// What "quillet --show-all --file LIST" does, with the task of the
// notification selected: the list opens, or the running copy shows it.
void openList(const QString &folder, const QString &taskFile, const QByteArray &task,
              const QString &activationToken)
{
    QProcess process;
    process.setProgram(siblingProgram(QStringLiteral("quillet-windows")));
    if (process.program().isEmpty()) {
        complain(QStringLiteral("quillet-windows is not installed beside quillet-remind"));
        return;
    }
    // The list named whole: the folder's own tasks.txt may not be it.
    process.setArguments({QStringLiteral("--show-all"), QStringLiteral("--file"), taskFile});
    process.setWorkingDirectory(folder);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Whatever this process was started with is spent.
    env.remove(QStringLiteral("XDG_ACTIVATION_TOKEN"));
    env.remove(QStringLiteral("DESKTOP_STARTUP_ID"));
    if (!activationToken.isEmpty()) {
        // How the desktop lets a new window come to the front.
        env.insert(QStringLiteral("XDG_ACTIVATION_TOKEN"), activationToken);
        env.insert(QStringLiteral("DESKTOP_STARTUP_ID"), activationToken);
    }
    env.remove(QStringLiteral("QUILLET_SELECT_TASK"));
    if (!task.isEmpty())
        env.insert(QStringLiteral("QUILLET_SELECT_TASK"), QString::fromLatin1(task));
    process.setProcessEnvironment(env);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!process.startDetached())
        complain(
            QStringLiteral("cannot start %1: %2").arg(process.program(), process.errorString()));
}

// One reminder for one list and everything it is wired to: the bus name
// that keeps it the only one for its list, the alarm, the watch on the
// list's folder, the desktop's notifications and the reminder itself.
class ReminderProgram {
public:
    explicit ReminderProgram(QCoreApplication *app) : m_app(app) { }

    // Finds the list and claims it on the bus; the exit status when the
    // program ends here.
    std::optional<int> setUp(const StartOptions &options);
    int run();

private:
    std::optional<int> claimBusName();
    void follow();
    void answerNotifications();
    // Said, and the program ends: no more reminders for this list.
    void stop(const QString &why);

    QCoreApplication *m_app;
    QString m_folder;
    QString m_fileName;
    QString m_taskFile;
    QString m_identity;
    Module1::FolderIdentity m_id;
    QDBusConnection m_bus{QString()};
    std::unique_ptr<remind::RealtimeAlarm> m_alarm;
    std::unique_ptr<Module1::FolderWatch> m_watch;
    std::unique_ptr<remind::DesktopNotifications> m_notifications;
    std::unique_ptr<remind::Reminder> m_reminder;
    std::unique_ptr<remind::SyncSchedule> m_sync;
};

std::optional<int> ReminderProgram::setUp(const StartOptions &options)
{
    // The list the other commands chose; its folder is not held (below).
    const Module1::ListPlace place = Module1::chooseTaskList(options.file);
    m_folder = place.folder.isEmpty() ? QDir::currentPath() : place.folder;
    m_fileName = place.fileName;
    m_taskFile = m_folder + QLatin1Char('/') + m_fileName;
    const std::optional<Module1::FolderIdentity> id = Module1::folderIdentity(m_folder);
    if (!id) {
        complain(QStringLiteral("cannot read the folder %1").arg(m_folder));
        return 1;
    }
    m_id = *id;
    // Neither held open nor the working directory: a folder in use is
    // removed only when its last user lets go, and the removal would never
    // be told. The file is read by its name, which the watch checks.
    if (::chdir("/") != 0) {
        complain(QStringLiteral("cannot leave the folder %1").arg(m_folder));
        return 1;
    }
    if (const std::optional<int> code = claimBusName())
        return code;

    m_alarm = std::make_unique<remind::RealtimeAlarm>();
    if (!m_alarm->isValid()) {
        complain(QStringLiteral("cannot set a timer: %1").arg(m_alarm->errorString()));
        return 1;
    }
    m_watch = std::make_unique<Module1::FolderWatch>(m_folder, m_fileName);
    if (!m_watch->isValid()) {
        complain(QStringLiteral("cannot watch %1: %2").arg(m_taskFile, m_watch->errorString()));
        return 1;
    }
    m_notifications = std::make_unique<remind::DesktopNotifications>(m_bus);
    m_reminder = std::make_unique<remind::Reminder>(
        remind::Reminder::Hooks{
            [] { return QDateTime::currentDateTime(); },
            [this](const remind::Notice &notice) { m_notifications->send(notice); },
            [this](std::optional<QDateTime> at) { m_alarm->setAt(at); },
            [](const QString &message) { complain(message); },
        },
        m_taskFile, putOffFile(m_identity));
    QObject::connect(m_alarm.get(), &remind::RealtimeAlarm::rang, m_app,
                     [this] { m_reminder->wake(); });
    m_sync = std::make_unique<remind::SyncSchedule>(siblingProgram(QStringLiteral("quillet-sync")),
                                                    m_taskFile);
    follow();
    answerNotifications();
    // The session ends with its bus.
    m_bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                  QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"),
                  m_app, SLOT(quit()));
    return std::nullopt;
}

std::optional<int> ReminderProgram::claimBusName()
{
    m_bus = QDBusConnection::sessionBus();
    if (!m_bus.isConnected()) {
        complain(QStringLiteral("no session bus to send reminders on: %1")
                     .arg(m_bus.lastError().message()));
        return 1;
    }
    // One reminder per folder, whatever name it is reached by: a bus name
    // of the folder's identity, which the bus frees when the process ends
    // however it ends.
    m_identity = identityText(m_id, m_fileName);
    const QString name = QStringLiteral("io.github.quillet.Quillet.Reminder.") + m_identity;
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> claimed =
        m_bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                           QDBusConnectionInterface::DontAllowReplacement);
    if (!claimed.isValid()) {
        complain(QStringLiteral("the session bus refused the reminder: %1")
                     .arg(claimed.error().message()));
        return 1;
    }
    if (claimed.value() != QDBusConnectionInterface::ServiceRegistered) {
        complain(QStringLiteral("the reminders for %1 run already").arg(m_taskFile));
        return 0;
    }
    return std::nullopt;
}

void ReminderProgram::follow()
{
    Module1::FolderWatch *watch = m_watch.get();
    QObject::connect(watch, &Module1::FolderWatch::changed, m_app, [this, watch] {
        m_reminder->fileChanged();
        m_sync->listChanged();
        watch->followLink();
    });
    QObject::connect(watch, &Module1::FolderWatch::folderGone, m_app, [this] {
        stop(QStringLiteral("the folder of %1 was removed; no more reminders for it")
                 .arg(m_taskFile));
    });
    QObject::connect(watch, &Module1::FolderWatch::folderMoved, m_app, [this] {
        // Its name may lead to it still (moved away and back); else the
        // tasks a user finds there are not the ones reminded of.
        const std::optional<Module1::FolderIdentity> now = Module1::folderIdentity(m_folder);
        if (now && now->device == m_id.device && now->inode == m_id.inode)
            return;
        stop(QStringLiteral("the folder of %1 was renamed or moved; no more reminders for it")
                 .arg(m_taskFile));
    });
}

void ReminderProgram::answerNotifications()
{
    using remind::DesktopNotifications;
    DesktopNotifications *notifications = m_notifications.get();
    QObject::connect(notifications, &DesktopNotifications::unavailable, m_app,
                     [this](const QString &why) { stop(why); });
    QObject::connect(notifications, &DesktopNotifications::openRequested, m_app,
                     [this](const QByteArray &task, const QString &token) {
                         openList(m_folder, m_taskFile, task, token);
                     });
    QObject::connect(notifications, &DesktopNotifications::laterRequested, m_app,
                     [this](const QByteArray &task, DesktopNotifications::Later when) {
                         if (when == DesktopNotifications::Later::Snooze)
                             m_reminder->snooze(task);
                         else
                             m_reminder->putOffUntilTomorrow(task);
                     });
    QObject::connect(
        notifications, &DesktopNotifications::sendFailed, m_app,
        [](const QString &why) { complain(QStringLiteral("a reminder was not shown: ") + why); });
}

void ReminderProgram::stop(const QString &why)
{
    complain(why);
    m_app->exit(1);
}

int ReminderProgram::run()
{
    m_reminder->start();
    m_notifications->start();
    m_sync->start();
    return m_app->exec();
}

}  // namespace

int main(int argc, char **argv)
{
    // The same list as the front program chose: --file, or the rule.
    StartOptions options;
    if (const std::optional<int> code = beginProgram(argc, argv, &options))
        return *code;
    QCoreApplication app(argc, argv);
    ReminderProgram reminder(&app);
    if (const std::optional<int> code = reminder.setUp(options))
        return *code;
    return reminder.run();
}
