#include "app/commandline.h"

#include <QCommandLineParser>

#include <cstdio>

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

}  // namespace

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
