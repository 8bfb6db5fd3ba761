#include "app/commandline.h"

#include <QCommandLineParser>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <stdio_ext.h>
#include <unistd.h>

namespace {

// Written out rather than made by QCommandLineParser, whose text needs an
// application object and lists Qt's own options.
const char kHelp[] =
    "Usage: quillet [OPTION]\n"
    "Keep a task list and be alerted to the tasks that are due soon.\n"
    "\n"
    "Without an option, show the tasks that are due soon or overdue and end at\n"
    "once when nothing is due. The tasks live in tasks.txt in the current\n"
    "directory.\n"
    "\n"
    "With --remind, stay in the background for the session and send a desktop\n"
    "notification when a task falls due; quillet-launch --autostart on starts\n"
    "it at every login, with the alert.\n"
    "\n"
    "      --show-all   open the task list, whatever is due\n"
    "      --remind     stay in the background and notify each task as it falls due\n"
    "  -h, --help       display this help and exit\n"
    "      --version    output version information and exit\n"
    "\n"
    "Exit status:\n"
    " 0  if OK,\n"
    " 1  if the task file could not be read or no window could be shown,\n"
    "    or, with --remind, if there is no session bus or notification service,\n"
    " 2  if an option was wrong.\n";

// At exit: flushes and closes standard output. Only a closed descriptor
// with nothing to write is no error.
void closeStandardOutput()
{
    const bool pending = __fpending(stdout) != 0;
    const bool failedBefore = std::ferror(stdout) != 0;
    errno = 0;
    const bool closeFailed = std::fclose(stdout) != 0;
    if (failedBefore || (closeFailed && (pending || errno != EBADF))) {
        const int error = closeFailed ? errno : 0;
        if (error != 0)
            std::fprintf(stderr, "quillet: write error: %s\n", std::strerror(error));
        else
            std::fputs("quillet: write error\n", stderr);
        ::_exit(1);
    }
}

}  // namespace

void watchStandardOutput()
{
    // A closed standard stream is held by /dev/null opened the other way
    // round: no file this program opens takes its number (a warning would
    // land in the task file), and writes to it still fail.
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int held = ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
            if (held >= 0 && held != fd) {
                ::dup2(held, fd);
                ::close(held);
            }
        }
    }
    std::atexit(closeStandardOutput);
}

std::optional<int> parseCommandLine(const QStringList &arguments, StartOptions *options)
{
    QCommandLineParser parser;
    const QCommandLineOption showAll(QStringLiteral("show-all"));
    const QCommandLineOption remind(QStringLiteral("remind"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({showAll, remind, help, version});

    const bool parsed = parser.parse(arguments);
    if (parsed && parser.isSet(help)) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (parsed && parser.isSet(version)) {
        std::printf("quillet %s\n", QUILLET_VERSION);
        return 0;
    }
    if (parsed && !parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "quillet: unexpected argument '%s'\n",
                     qPrintable(parser.positionalArguments().first()));
    } else if (!parsed) {
        std::fprintf(stderr, "quillet: %s\n", qPrintable(parser.errorText()));
    } else if (parser.isSet(showAll) && parser.isSet(remind)) {
        std::fprintf(stderr, "quillet: --show-all and --remind cannot be used together\n");
    } else {
        options->showAll = parser.isSet(showAll);
        options->remind = parser.isSet(remind);
        return std::nullopt;
    }
    std::fputs("Try 'quillet --help' for more information.\n", stderr);
    return 2;
}
