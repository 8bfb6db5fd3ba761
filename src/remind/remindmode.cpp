#include "remind/remindmode.h"

#include "remind/desktopnotifications.h"
#include "store/folderwatch.h"
#include "remind/realtimealarm.h"
#include "remind/reminder.h"
#include "store/safefile.h"
#include "store/taskfile.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include <cstdio>

#include <unistd.h>

namespace {

void say(const QString &text) { std::fprintf(stderr, "quillet: %s\n", qPrintable(text)); }

// One reminder per folder, whatever name it is reached by: a bus name of
// the folder's identity, which the bus frees when the process ends however
// it ends.
QString reminderBusName(const QString &folder)
{
    const std::optional<Module1::FolderIdentity> id = Module1::folderIdentity(folder);
    if (!id)
        return {};
    return QStringLiteral("io.github.quillet.Quillet.Reminder.d%1_i%2")
        .arg(quint64(id->device))
        .arg(quint64(id->inode));
}

// The windows program beside this one (both in libexec when installed),
// which is what "quillet --show-all" goes on in; as this program's file, a
// file that an upgrade replaced is named without " (deleted)".
QString windowsProgram()
{
    QString self = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    const QString deleted = QStringLiteral(" (deleted)");
    if (self.endsWith(deleted))
        self.chop(deleted.size());
    return QFileInfo(self).absolutePath() + QStringLiteral("/quillet-windows");
}

// What "quillet --show-all" in the folder does: the list opens, or the running copy
// shows it. The working directory is inherited, and it is the folder, as
// it was the folder when this started.
void showAll(const QString &activationToken)
{
    QProcess process;
    process.setProgram(windowsProgram());
    process.setArguments({QStringLiteral("--show-all")});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Whatever this process was started with is spent.
    env.remove(QStringLiteral("XDG_ACTIVATION_TOKEN"));
    env.remove(QStringLiteral("DESKTOP_STARTUP_ID"));
    if (!activationToken.isEmpty()) {
        // How the desktop lets a new window come to the front.
        env.insert(QStringLiteral("XDG_ACTIVATION_TOKEN"), activationToken);
        env.insert(QStringLiteral("DESKTOP_STARTUP_ID"), activationToken);
    }
    process.setProcessEnvironment(env);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!process.startDetached())
        say(QStringLiteral("cannot start %1: %2").arg(process.program(), process.errorString()));
}

}  // namespace

int runReminder(int argc, char **argv)
{
    // The folder is held from here: renamed, it is still the one watched.
    const QString folder = Module1::taskFolderAccessPath();
    QCoreApplication app(argc, argv);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        say(QStringLiteral("no session bus to send reminders on: %1")
                .arg(bus.lastError().message()));
        return 1;
    }
    const QString name = reminderBusName(folder);
    if (name.isEmpty()) {
        say(QStringLiteral("cannot read the folder %1").arg(Module1::taskFilePath()));
        return 1;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> claimed =
        bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!claimed.isValid()) {
        say(QStringLiteral("the session bus refused the reminder: %1")
                .arg(claimed.error().message()));
        return 1;
    }
    if (claimed.value() != QDBusConnectionInterface::ServiceRegistered) {
        say(QStringLiteral("the reminders for %1 run already").arg(Module1::taskFilePath()));
        return 0;
    }

    remind::DesktopNotifications notifications(bus);
    QString why;
    if (!notifications.connectToService(&why)) {
        say(why);
        return 1;
    }
    remind::RealtimeAlarm alarm;
    if (!alarm.isValid()) {
        say(QStringLiteral("cannot set a timer: %1").arg(alarm.errorString()));
        return 1;
    }
    Module1::FolderWatch watch(folder, Module1::taskFileName());
    if (!watch.isValid()) {
        say(QStringLiteral("cannot watch %1: %2")
                .arg(Module1::taskFilePath(), watch.errorString()));
        return 1;
    }

    remind::Reminder reminder({
        [] { return QDateTime::currentDateTime(); },
        [&](const QString &summary, const QString &body) { notifications.send(summary, body); },
        [&](std::optional<QDateTime> at) { alarm.setAt(at); },
        [](const QString &message) { say(message); },
    });
    QObject::connect(&alarm, &remind::RealtimeAlarm::rang, [&] { reminder.wake(); });
    QObject::connect(&watch, &Module1::FolderWatch::changed, [&] {
        reminder.fileChanged();
        watch.followLink();
    });
    QObject::connect(&watch, &Module1::FolderWatch::folderGone, [&] {
        say(QStringLiteral("the folder of %1 was removed; no more reminders for it")
                .arg(Module1::taskFilePath()));
        app.exit(1);
    });
    QObject::connect(&notifications, &remind::DesktopNotifications::showAllRequested, &showAll);
    QObject::connect(
        &notifications, &remind::DesktopNotifications::sendFailed,
        [](const QString &why) { say(QStringLiteral("a reminder was not shown: ") + why); });
    // The session ends with its bus.
    bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"), &app,
                SLOT(quit()));

    reminder.start();
    return app.exec();
}
