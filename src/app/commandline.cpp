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
    "Usage: quillet [OPTION]...\n"
    "Keep a task list and be alerted to the tasks that are due soon.\n"
    "\n"
    "Without an option, show the tasks that are due soon or overdue and end at\n"
    "once when nothing is due.\n"
    "\n"
    "The task list is tasks.txt in the current directory when it has one, and\n"
    "otherwise your own list, the one the menu entry opens:\n"
    "$XDG_DATA_HOME/quillet/tasks.txt (normally ~/.local/share/quillet).\n"
    "--file names another one, for any start or command.\n"
    "\n"
    "With --remind, stay in the background for the session and send a desktop\n"
    "notification when a task falls due; quillet-launch --autostart on starts\n"
    "it at every login, with the alert.\n"
    "\n"
    "      --show-all          open the task list, whatever is due\n"
    "      --remind            stay in the background and notify each task as it falls due\n"
    "      --file=PATH         use the task file PATH, or PATH/tasks.txt\n"
    "      --list              print the current tasks, their due time and days left\n"
    "      --recycled          with --list, print the recycled tasks instead\n"
    "      --json              with --list, print the tasks as JSON\n"
    "      --add=TITLE         add a task, due when --due says\n"
    "      --due=WHEN          with --add, when the task is due\n"
    "      --for=WHO           with --add, whom the task is for\n"
    "      --note=TEXT         with --add, the task's description\n"
    "      --export-ics=FILE   write the tasks to the iCalendar FILE (-: stdout)\n"
    "      --import-ics=FILE   add the to-dos of the iCalendar FILE as tasks\n"
    "  -h, --help              display this help and exit\n"
    "      --version           output version information and exit\n"
    "\n"
    "WHEN is a date (2026-12-24), today, tomorrow, +N (N days from today) or a\n"
    "weekday name (monday or mon: the next one, a week ahead on that day), each\n"
    "optionally followed by a time (2026-12-24 09:30); without one, 0:00.\n"
    "\n"
    "--list colours each task as the rules colour it in the task list when\n"
    "standard output is a terminal and NO_COLOR is not set. An exported task\n"
    "keeps its UID as long as it exists, so importing a calendar exported\n"
    "before updates its tasks instead of adding them again.\n"
    "\n"
    "Examples:\n"
    "  quillet --list\n"
    "  quillet --list --json\n"
    "  quillet --add 'Pay the rent' --due tomorrow --for Sam\n"
    "  quillet --add Dentist --due '2026-12-24 09:30' --note 'Bring the card'\n"
    "  quillet --export-ics tasks.ics\n"
    "  quillet --import-ics tasks.ics\n"
    "  quillet --file ~/work/tasks.txt --show-all\n"
    "\n"
    "Exit status:\n"
    " 0  if OK,\n"
    " 1  if the task file could not be read or saved or no window could be shown,\n"
    "    or, with --remind, if there is no session bus or notification service,\n"
    " 2  if an option or its value was wrong.\n";

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
    const QCommandLineOption file(QStringLiteral("file"), {}, QStringLiteral("PATH"));
    const QCommandLineOption list(QStringLiteral("list"));
    const QCommandLineOption recycled(QStringLiteral("recycled"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption add(QStringLiteral("add"), {}, QStringLiteral("TITLE"));
    const QCommandLineOption due(QStringLiteral("due"), {}, QStringLiteral("WHEN"));
    const QCommandLineOption forWhom(QStringLiteral("for"), {}, QStringLiteral("WHO"));
    const QCommandLineOption note(QStringLiteral("note"), {}, QStringLiteral("TEXT"));
    const QCommandLineOption exportIcs(QStringLiteral("export-ics"), {}, QStringLiteral("FILE"));
    const QCommandLineOption importIcs(QStringLiteral("import-ics"), {}, QStringLiteral("FILE"));
    parser.addOptions({showAll, remind, help, version, file, list, recycled, json, add, due,
                       forWhom, note, exportIcs, importIcs});

    const bool parsed = parser.parse(arguments);
    if (parsed && parser.isSet(help)) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (parsed && parser.isSet(version)) {
        std::printf("quillet %s\n", QUILLET_VERSION);
        return 0;
    }
    // Each command and start mode excludes the others; a value given twice
    // is a mistake rather than "the last one wins".
    const QList<const QCommandLineOption *> modes{&showAll, &remind,    &list,
                                                  &add,     &exportIcs, &importIcs};
    QStringList given;
    for (const QCommandLineOption *mode : modes) {
        if (parsed && parser.isSet(*mode))
            given << QStringLiteral("--") + mode->names().constFirst();
    }
    QString twice;
    for (const QCommandLineOption *o : {&file, &add, &due, &forWhom, &note, &exportIcs, &importIcs}) {
        if (parsed && parser.values(*o).size() > 1)
            twice = o->names().constFirst();
    }
    const auto needs = [&](const QCommandLineOption &o, const QCommandLineOption &with) {
        return parser.isSet(o) && !parser.isSet(with);
    };
    QString wrong;
    if (!parsed)
        wrong = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        wrong = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
    else if (given.size() > 1)
        wrong = QStringLiteral("%1 cannot be used together").arg(given.join(QStringLiteral(" and ")));
    else if (!twice.isEmpty())
        wrong = QStringLiteral("--%1 is given more than once").arg(twice);
    else if (needs(recycled, list) || needs(json, list))
        wrong = QStringLiteral("--recycled and --json go with --list");
    else if (needs(due, add) || needs(forWhom, add) || needs(note, add))
        wrong = QStringLiteral("--due, --for and --note go with --add");
    else if (needs(add, due))
        wrong = QStringLiteral("--add needs --due WHEN");
    else if (parser.isSet(file) && parser.value(file).isEmpty())
        wrong = QStringLiteral("--file needs a path");
    if (!wrong.isEmpty()) {
        std::fprintf(stderr, "quillet: %s\n", qPrintable(wrong));
        std::fputs("Try 'quillet --help' for more information.\n", stderr);
        return 2;
    }
    options->showAll = parser.isSet(showAll);
    options->remind = parser.isSet(remind);
    options->file = parser.value(file);
    options->recycled = parser.isSet(recycled);
    options->json = parser.isSet(json);
    options->title = parser.value(add);
    options->due = parser.value(due);
    options->forWhom = parser.value(forWhom);
    options->note = parser.value(note);
    if (parser.isSet(list)) {
        options->command = StartOptions::List;
    } else if (parser.isSet(add)) {
        options->command = StartOptions::Add;
    } else if (parser.isSet(exportIcs)) {
        options->command = StartOptions::ExportIcs;
        options->icsFile = parser.value(exportIcs);
    } else if (parser.isSet(importIcs)) {
        options->command = StartOptions::ImportIcs;
        options->icsFile = parser.value(importIcs);
    }
    return std::nullopt;
}

void printTasksText(QString text)
{
    text.replace(QChar(0), QChar::ReplacementCharacter);
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}
