// quillet-remind: `quillet --remind`, exec'd by the front program so that
// the plain start, at every login, maps no D-Bus library. It stays for the
// session and sends a desktop notification when a task of its list (the
// one every other command uses) falls due. QtCore and QtDBus only; it never writes the task
// file and takes no lock. The exit status: 0 when another reminder already
// serves this folder, 1 when it cannot work (no session bus, no
// notification service) or its folder is removed or moved away.
#include "app/commandline.h"
#include "app/siblings.h"
#include "app/terminalcommands.h"
#include "remind/desktopnotifications.h"
#include "remind/realtimealarm.h"
#include "remind/reminder.h"
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

#include <cstdio>
#include <optional>

#include <unistd.h>

namespace {

constexpr int kPutOffMinutes = 10;

void say(const QString &text) { std::fprintf(stderr, "quillet: %s\n", qPrintable(text)); }

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
        say(QStringLiteral("quillet-windows is not installed beside quillet-remind"));
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
        say(QStringLiteral("cannot start %1: %2").arg(process.program(), process.errorString()));
}

int runReminder(int argc, char **argv, const StartOptions &options)
{
    QCoreApplication app(argc, argv);
    // The list the other commands chose; its folder is not held (below).
    const Module1::ListPlace place = Module1::chooseTaskList(options.file);
    const QString folder = place.folder.isEmpty() ? QDir::currentPath() : place.folder;
    const QString taskFile = folder + QLatin1Char('/') + place.fileName;
    const std::optional<Module1::FolderIdentity> id = Module1::folderIdentity(folder);
    if (!id) {
        say(QStringLiteral("cannot read the folder %1").arg(folder));
        return 1;
    }
    // Neither held open nor the working directory: a folder in use is
    // removed only when its last user lets go, and the removal would never
    // be told. The file is read by its name, which the watch checks.
    if (::chdir("/") != 0) {
        say(QStringLiteral("cannot leave the folder %1").arg(folder));
        return 1;
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        say(QStringLiteral("no session bus to send reminders on: %1")
                .arg(bus.lastError().message()));
        return 1;
    }
    // One reminder per folder, whatever name it is reached by: a bus name
    // of the folder's identity, which the bus frees when the process ends
    // however it ends.
    const QString identity = identityText(*id, place.fileName);
    const QString name = QStringLiteral("io.github.quillet.Quillet.Reminder.") + identity;
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> claimed =
        bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!claimed.isValid()) {
        say(QStringLiteral("the session bus refused the reminder: %1")
                .arg(claimed.error().message()));
        return 1;
    }
    if (claimed.value() != QDBusConnectionInterface::ServiceRegistered) {
        say(QStringLiteral("the reminders for %1 run already").arg(taskFile));
        return 0;
    }

    remind::RealtimeAlarm alarm;
    if (!alarm.isValid()) {
        say(QStringLiteral("cannot set a timer: %1").arg(alarm.errorString()));
        return 1;
    }
    Module1::FolderWatch watch(folder, place.fileName);
    if (!watch.isValid()) {
        say(QStringLiteral("cannot watch %1: %2").arg(taskFile, watch.errorString()));
        return 1;
    }

    remind::DesktopNotifications notifications(bus);
    remind::Reminder reminder({
                                  [] { return QDateTime::currentDateTime(); },
                                  [&](const remind::Notice &notice) { notifications.send(notice); },
                                  [&](std::optional<QDateTime> at) { alarm.setAt(at); },
                                  [](const QString &message) { say(message); },
                              },
                              taskFile, putOffFile(identity));
    QObject::connect(&alarm, &remind::RealtimeAlarm::rang, [&] { reminder.wake(); });
    QObject::connect(&watch, &Module1::FolderWatch::changed, [&] {
        reminder.fileChanged();
        watch.followLink();
    });
    QObject::connect(&watch, &Module1::FolderWatch::folderGone, [&] {
        say(QStringLiteral("the folder of %1 was removed; no more reminders for it").arg(taskFile));
        app.exit(1);
    });
    QObject::connect(&watch, &Module1::FolderWatch::folderMoved, [&] {
        // Its name may lead to it still (moved away and back); else the
        // tasks a user finds there are not the ones reminded of.
        const std::optional<Module1::FolderIdentity> now = Module1::folderIdentity(folder);
        if (now && now->device == id->device && now->inode == id->inode)
            return;
        say(QStringLiteral("the folder of %1 was renamed or moved; no more reminders for it")
                .arg(taskFile));
        app.exit(1);
    });
    QObject::connect(&notifications, &remind::DesktopNotifications::unavailable,
                     [&](const QString &why) {
                         say(why);
                         app.exit(1);
                     });
    QObject::connect(&notifications, &remind::DesktopNotifications::openRequested,
                     [&](const QByteArray &task, const QString &token) {
                         openList(folder, taskFile, task, token);
                     });
    QObject::connect(&notifications, &remind::DesktopNotifications::laterRequested,
                     [&](const QByteArray &task, remind::DesktopNotifications::Later when) {
                         const QDateTime now = QDateTime::currentDateTime();
                         reminder.putOff(task, when == remind::DesktopNotifications::Later::Snooze
                                                   ? now.addSecs(kPutOffMinutes * 60)
                                                   : now.addDays(1));
                     });
    QObject::connect(
        &notifications, &remind::DesktopNotifications::sendFailed,
        [](const QString &why) { say(QStringLiteral("a reminder was not shown: ") + why); });
    // The session ends with its bus.
    bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"), &app,
                SLOT(quit()));

    reminder.start();
    notifications.start();
    return app.exec();
}

}  // namespace

int main(int argc, char **argv)
{
    // The same list as the front program chose: --file, or the rule.
    StartOptions options;
    if (const std::optional<int> code = beginProgram(argc, argv, &options))
        return *code;
    return runReminder(argc, argv, options);
}
