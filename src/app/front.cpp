// quillet: decides the start with QtCore alone. Most starts (at every
// login) announce nothing and end here without loading the window
// libraries; the others go on in quillet-windows, and --remind in
// quillet-remind, and the iCalendar commands in quillet-ics, with the same
// arguments. Listing and adding from a terminal need QtCore alone and are
// done here.
#include "app/commandline.h"
#include "app/display.h"
#include "app/startplan.h"
#include "app/terminalcommands.h"
#include "store/taskfile.h"

#include <QByteArray>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include <unistd.h>

namespace {

// Beside this program (the build tree), or in libexec under the same
// prefix (an installed copy).
QByteArray helperProgram(const QString &name)
{
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const QString folder = QFileInfo(self).absolutePath();
    for (const QString &candidate : {folder + QLatin1Char('/') + name,
                                     folder + QStringLiteral("/../libexec/quillet/") + name}) {
        if (QFileInfo(candidate).isExecutable())
            return QFile::encodeName(QFileInfo(candidate).absoluteFilePath());
    }
    return {};
}

int execHelper(const QString &name, char **argv)
{
    const QByteArray program = helperProgram(name);
    if (program.isEmpty()) {
        std::fprintf(stderr, "quillet: %s is not installed beside quillet\n", qPrintable(name));
        return 1;
    }
    argv[0] = const_cast<char *>(program.constData());
    ::execv(program.constData(), argv);
    std::fprintf(stderr, "quillet: cannot start %s: %s\n", program.constData(),
                 std::strerror(errno));
    return 1;
}

}  // namespace

int main(int argc, char **argv)
{
    watchStandardOutput();
    Module1::ignoreFileSizeSignal();
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    StartOptions options;
    if (const std::optional<int> code = parseCommandLine(arguments, &options))
        return *code;
    if (!settleTaskList(options))
        return 1;
    if (options.command == StartOptions::List)
        return listTasks(options);
    if (options.command == StartOptions::Add)
        return addTask(options);
    // iCalendar needs libical, which the other starts never map.
    if (options.command == StartOptions::ExportIcs || options.command == StartOptions::ImportIcs)
        return execHelper(QStringLiteral("quillet-ics"), argv);
    if (options.remind)
        return execHelper(QStringLiteral("quillet-remind"), argv);
    const StartPlan plan = planStart(options, displayAvailable());
    if (plan.next == StartPlan::End) {
        reportRefusal(plan);
        return plan.exitCode;
    }
    return execHelper(QStringLiteral("quillet-windows"), argv);
}
