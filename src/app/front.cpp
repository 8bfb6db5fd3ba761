// quillet: decides the start with QtCore alone. Most starts (at every
// login) announce nothing and end here without loading the window
// libraries; the others go on in quillet-windows, and --remind in
// quillet-remind, and the iCalendar commands in quillet-ics, with the same
// arguments. Listing and adding from a terminal need QtCore alone and are
// done here.
#include "app/commandline.h"
#include "app/display.h"
#include "app/siblings.h"
#include "app/startplan.h"
#include "app/terminalcommands.h"
#include "store/taskfile.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>

#include <cerrno>
#include <optional>

#include <unistd.h>

namespace {

int execHelper(const QString &name, char **argv)
{
    const QString path = siblingProgram(name);
    const QByteArray program = QFile::encodeName(path);
    if (program.isEmpty()) {
        Module1::complain(QStringLiteral("%1 is not installed beside quillet").arg(name));
        return 1;
    }
    argv[0] = const_cast<char *>(program.constData());
    ::execv(program.constData(), argv);
    Module1::complain(QStringLiteral("cannot start %1: %2").arg(path, Module1::systemError(errno)));
    return 1;
}

}  // namespace

int main(int argc, char **argv)
{
    StartOptions options;
    if (const std::optional<int> code = beginProgram(argc, argv, &options))
        return *code;
    if (options.command == StartOptions::List || options.command == StartOptions::Week)
        return listTasks(options);
    if (options.command == StartOptions::Add)
        return addTask(options);
    if (options.command == StartOptions::Done || options.command == StartOptions::Restore ||
        options.command == StartOptions::Delete || options.command == StartOptions::Edit)
        return changeNumberedTask(options);
    // iCalendar needs libical, which the other starts never map.
    if (options.command == StartOptions::ExportIcs || options.command == StartOptions::ImportIcs)
        return execHelper(QStringLiteral("quillet-ics"), argv);
    // The sync needs QtNetwork, libical and libsecret.
    if (options.command == StartOptions::Sync || options.command == StartOptions::SyncSetup)
        return execHelper(QStringLiteral("quillet-sync"), argv);
    if (options.remind)
        return execHelper(QStringLiteral("quillet-remind"), argv);
    // This process shows no due text: the windows read the list again.
    Module1::setDueTextsMade(false);
    const StartPlan plan = planStart(options, displayAvailable());
    if (plan.next == StartPlan::End) {
        reportRefusal(plan);
        return plan.exitCode;
    }
    return execHelper(QStringLiteral("quillet-windows"), argv);
}
