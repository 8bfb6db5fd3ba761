#include "app/commandline.h"

#include "store/listlocation.h"
#include "store/systemtext.h"
#include "store/taskfile.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <utility>

#include <fcntl.h>
#include <stdio_ext.h>
#include <unistd.h>

namespace {

// Written out rather than made by QCommandLineParser, whose text needs an
// application object and lists Qt's own options.
const char kHelp[] =
    "Usage: quillet [OPTION]...\n"
    "  or:  quillet --list|--week [OPTION]... [WORD]...\n"
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
    "      --remind            stay in the background and notify each task when due\n"
    "      --file=PATH         use the task file PATH, or PATH/tasks.txt\n"
    "      --list              print the current tasks, their due time and days left\n"
    "      --recycled          with --list, print the recycled tasks instead\n"
    "      --json              with --list, print the tasks as JSON\n"
    "      --week              print the tasks of the next seven days, by day\n"
    "      --due-within=N      with --list or --week, only tasks due within N days\n"
    "      --overdue           with --list or --week, only tasks due before today\n"
    "      --wide              with --list or --week, never cut a title\n"
    "      --add=TITLE         add a task, due when --due says\n"
    "      --due=WHEN          with --add or --edit, when the task is due\n"
    "      --for=WHO           whom the task is for; with --list, whose to show\n"
    "      --note=TEXT         with --add or --edit, the task's description\n"
    "      --done=N            recycle task N of the last --list\n"
    "      --restore=N         restore task N of the last --list --recycled\n"
    "      --delete=N          delete task N of the last --list --recycled for good\n"
    "      --edit=N            change the fields given of task N of the last listing\n"
    "      --title=T           with --edit, the task's new title\n"
    "      --export-ics=FILE   write the tasks to the iCalendar FILE (-: stdout)\n"
    "      --import-ics=FILE   add the to-dos of the iCalendar FILE as tasks\n"
    "      --sync              sync the list with the CalDAV calendar set up for it\n"
    "      --sync-setup=URL    set up the sync with the CalDAV server or calendar URL\n"
    "      --user=NAME         with --sync-setup, the user name on the server\n"
    "      --calendar=NAME     with --sync-setup, the server's calendar to use\n"
    "      --password-command=CMD  with --sync-setup, a command printing the password\n"
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
    "--list and --week print each task's number, due time, days left, title and\n"
    "whom it is for in columns, a title cut to the terminal's width. A WORD\n"
    "keeps the tasks whose title or description holds it, in any case; the\n"
    "filters --due-within (overdue tasks included), --overdue, --for and the\n"
    "words combine, and apply to --json too. --week shows the overdue tasks\n"
    "first, then each of the seven days from today under its date, \"No tasks\"\n"
    "under a day without any. When no task is shown, \"No tasks.\" is said on\n"
    "standard error, with status 0.\n"
    "\n"
    "Colours are 24-bit where COLORTERM is truecolor or 24bit, otherwise the\n"
    "nearest of the 256-colour palette. A rule colour with too little contrast\n"
    "to read on the terminal's background (dark unless COLORFGBG says light) is\n"
    "shown as a coloured mark before the task instead.\n"
    "\n"
    "--list numbers the tasks it prints, the recycled ones on their own. --done,\n"
    "--restore, --delete and --edit take a number of the last listing of the\n"
    "same list, and refuse when the list changed since in a way that moves that\n"
    "task, or when there was no listing: run --list again.\n"
    "\n"
    "--sync-setup finds the server's calendars that hold to-dos, takes the one\n"
    "--calendar names or the only one, or makes one called Quillet. A password\n"
    "asked for is kept in the desktop's keyring, never in a file; with\n"
    "--password-command the command is run at each sync instead. --sync then\n"
    "merges both sides field by field and prints what it sent, received,\n"
    "merged, and how many conflicts it met. A field changed on both sides keeps\n"
    "Quillet's value; the calendar's is added to the end of the description as\n"
    "Sync conflict 2026-12-09 14:02, the calendar had: title \"...\"\n"
    "\n"
    "Examples:\n"
    "  quillet --list\n"
    "  quillet --list --json\n"
    "  quillet --list --due-within 3\n"
    "  quillet --list --for Anna\n"
    "  quillet --list dentist\n"
    "  quillet --week\n"
    "  quillet --done 3\n"
    "  quillet --edit 2 --due tomorrow\n"
    "  quillet --add 'Pay the rent' --due tomorrow --for Sam\n"
    "  quillet --add Dentist --due '2026-12-24 09:30' --note 'Bring the card'\n"
    "  quillet --export-ics tasks.ics\n"
    "  quillet --import-ics tasks.ics\n"
    "  quillet --sync-setup https://dav.example.org/ --user sam\n"
    "  quillet --sync\n"
    "  quillet --file ~/work/tasks.txt --show-all\n"
    "\n"
    "Exit status:\n"
    " 0  if OK,\n"
    " 1  if the task file could not be read or saved or no window could be shown,\n"
    "    or a sync failed (the server unreachable, a password refused),\n"
    "    or, with --remind, if there is no session bus or notification service,\n"
    " 2  if an option or its value was wrong.\n";

// What --version prints after the name and version, as GNU programs do.
const char kVersionText[] =
    "Copyright (C) 2026 The Quillet developers\n"
    "License: MIT (Expat) <https://opensource.org/license/mit>\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

// Every option but --help and --version; a value's name says it takes one.
struct OptionRow {
    const char *name;
    const char *value = nullptr;
};
const OptionRow kOptionRows[] = {
    {"show-all"},
    {"remind"},
    {"file", "PATH"},
    {"list"},
    {"recycled"},
    {"json"},
    {"add", "TITLE"},
    {"due", "WHEN"},
    {"for", "WHO"},
    {"note", "TEXT"},
    {"export-ics", "FILE"},
    {"import-ics", "FILE"},
    {"done", "N"},
    {"restore", "N"},
    {"delete", "N"},
    {"edit", "N"},
    {"title", "T"},
    {"week"},
    {"wide"},
    {"due-within", "N"},
    {"overdue"},
    {"sync"},
    {"sync-setup", "URL"},
    {"user", "NAME"},
    {"calendar", "NAME"},
    {"password-command", "CMD"},
};

// Which options go together, in the order they are checked: the first rule
// broken is told (%1: the options given together, or the one given twice).
struct OptionRule {
    enum Kind {
        OneAtMost,  // start modes and commands: each excludes the others
        Once,       // a value given twice is a mistake, not "the last one wins"
        Needs,      // each of these only with `other`
        NotEmpty,   // a value that must say something
    } kind;
    const char *options[16];  // the rest null
    const char *message;
    const char *other = nullptr;
    const char *orOther = nullptr;  // Needs: either one will do
    const char *orMore[2] = {};     // Needs: or these
};
const OptionRule kOptionRules[] = {
    {OptionRule::OneAtMost,
     {"show-all", "remind", "list", "add", "export-ics", "import-ics", "done", "restore", "delete",
      "edit", "week", "sync", "sync-setup"},
     "%1 cannot be used together"},
    // The first of these given twice is named.
    {OptionRule::Once,
     {"import-ics", "export-ics", "note", "for", "due", "add", "file", "done", "restore", "delete",
      "edit", "title", "due-within"},
     "%1 is given more than once"},
    {OptionRule::Needs, {"recycled", "json"}, "--recycled and --json go with --list", "list"},
    {OptionRule::Needs, {"due", "note"}, "--due and --note go with --add or --edit", "add", "edit"},
    {OptionRule::Needs,
     {"for"},
     "--for goes with --add, --edit, --list or --week",
     "add",
     "edit",
     {"list", "week"}},
    {OptionRule::Needs,
     {"due-within", "overdue", "wide"},
     "--due-within, --overdue and --wide go with --list or --week",
     "list",
     "week"},
    {OptionRule::Needs, {"title"}, "--title goes with --edit", "edit"},
    {OptionRule::Needs, {"add"}, "--add needs --due WHEN", "due"},
    {OptionRule::Once,
     {"sync-setup", "user", "calendar", "password-command"},
     "%1 is given more than once"},
    {OptionRule::Needs,
     {"user", "calendar", "password-command"},
     "--user, --calendar and --password-command go with --sync-setup",
     "sync-setup"},
    {OptionRule::NotEmpty, {"file"}, "--file needs a path"},
    {OptionRule::NotEmpty, {"sync-setup"}, "--sync-setup needs a URL"},
};

// The option that asks for each command.
const std::pair<const char *, StartOptions::Command> kCommands[] = {
    {"list", StartOptions::List},
    {"week", StartOptions::Week},
    {"add", StartOptions::Add},
    {"export-ics", StartOptions::ExportIcs},
    {"import-ics", StartOptions::ImportIcs},
    {"done", StartOptions::Done},
    {"restore", StartOptions::Restore},
    {"delete", StartOptions::Delete},
    {"edit", StartOptions::Edit},
    {"sync", StartOptions::Sync},
    {"sync-setup", StartOptions::SyncSetup},
};

// The option as it was typed: "--name" or, among short ones run together,
// "-n".
QString typedOption(const QString &name, const QStringList &arguments)
{
    const QString longForm = QStringLiteral("--") + name;
    for (const QString &argument : arguments.mid(1)) {
        if (argument == QLatin1String("--"))
            break;
        if (argument == longForm || argument.startsWith(longForm + QLatin1Char('=')))
            return longForm;
    }
    return name.size() == 1 ? QStringLiteral("-") + name : longForm;
}

// Why the parser refused, in the words of the other usage messages (its own
// text names an option without its dashes).
QString parseMistake(const QCommandLineParser &parser, const QStringList &arguments)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty())
        return QStringLiteral("unknown option '%1'").arg(typedOption(unknown.first(), arguments));
    // Qt's texts for the other two mistakes; the option is quoted in them.
    const QString text = parser.errorText();
    static const QRegularExpression quoted(QStringLiteral("'-*([^']*)'"));
    const QString name = quoted.match(text).captured(1);
    if (!name.isEmpty()) {
        const QString option = typedOption(name, arguments);
        for (const OptionRow &row : kOptionRows) {
            if (row.value && name == QLatin1String(row.name))
                return QStringLiteral("%1 needs %2").arg(option, QLatin1String(row.value));
        }
        return QStringLiteral("%1 takes no value").arg(option);
    }
    return text;
}

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
        Module1::complain(error != 0 ? QStringLiteral("write error: ") + Module1::systemError(error)
                                     : QStringLiteral("write error"));
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
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}));
    parser.addOption(QCommandLineOption(QStringLiteral("version")));
    for (const OptionRow &row : kOptionRows) {
        parser.addOption(
            row.value ? QCommandLineOption(QLatin1String(row.name), {}, QLatin1String(row.value))
                      : QCommandLineOption(QLatin1String(row.name)));
    }
    const auto isSet = [&](const char *name) { return parser.isSet(QLatin1String(name)); };

    const bool parsed = parser.parse(arguments);
    if (parsed && isSet("help")) {
        // One buffer for the whole text, so that a write that fails does so
        // at the close, where its reason is read.
        static char whole[sizeof kHelp + 1];
        std::setvbuf(stdout, whole, _IOFBF, sizeof whole);
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (parsed && isSet("version")) {
        std::printf("quillet %s\n%s", QUILLET_VERSION, kVersionText);
        return 0;
    }
    QString wrong;
    if (!parsed)
        wrong = parseMistake(parser, arguments);
    else if (!parser.positionalArguments().isEmpty() && !isSet("list") && !isSet("week"))
        wrong =
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
    const auto breaks = [&](const OptionRule &rule, const QString &option) {
        switch (rule.kind) {
        case OptionRule::OneAtMost: return parser.isSet(option);
        case OptionRule::Once: return parser.values(option).size() > 1;
        case OptionRule::Needs:
            return parser.isSet(option) && !isSet(rule.other) &&
                   !(rule.orOther && isSet(rule.orOther)) &&
                   std::none_of(std::begin(rule.orMore), std::end(rule.orMore),
                                [&](const char *o) { return o && isSet(o); });
        case OptionRule::NotEmpty: return parser.isSet(option) && parser.value(option).isEmpty();
        }
        return false;
    };
    for (const OptionRule &rule : kOptionRules) {
        if (!wrong.isEmpty())
            break;
        QStringList broken;
        for (const char *name : rule.options) {
            if (name && breaks(rule, QLatin1String(name)))
                broken << QStringLiteral("--") + QLatin1String(name);
        }
        if (broken.size() <= (rule.kind == OptionRule::OneAtMost ? 1 : 0))
            continue;
        wrong = QString::fromLatin1(rule.message);
        if (rule.kind == OptionRule::OneAtMost)
            wrong = wrong.arg(broken.join(QStringLiteral(" and ")));
        else if (rule.kind == OptionRule::Once)
            wrong = wrong.arg(broken.constFirst());
    }
    if (!wrong.isEmpty()) {
        complainOfUsage(wrong);
        return 2;
    }
    const auto value = [&](const char *name) { return parser.value(QLatin1String(name)); };
    options->showAll = isSet("show-all");
    options->remind = isSet("remind");
    options->file = value("file");
    options->recycled = isSet("recycled");
    options->json = isSet("json");
    options->title = value("add");
    options->due = value("due");
    options->forWhom = value("for");
    options->note = value("note");
    options->titleGiven = isSet("title");
    options->dueGiven = isSet("due");
    options->forGiven = isSet("for");
    options->noteGiven = isSet("note");
    options->wide = isSet("wide");
    options->dueWithin = value("due-within");
    options->overdue = isSet("overdue");
    options->words = parser.positionalArguments();
    options->syncUrl = value("sync-setup");
    options->user = value("user");
    options->calendar = value("calendar");
    options->passwordCommand = value("password-command");
    for (const auto &[name, command] : kCommands) {
        if (isSet(name)) {
            options->command = command;
            if (command == StartOptions::ExportIcs || command == StartOptions::ImportIcs)
                options->icsFile = value(name);
            else if (command != StartOptions::List && command != StartOptions::Week &&
                     command != StartOptions::Add)
                options->number = value(name);
            if (command == StartOptions::Edit)
                options->title = value("title");
        }
    }
    return std::nullopt;
}

void complainOfUsage(const QString &text)
{
    Module1::complain(text + QStringLiteral("\nTry 'quillet --help' for more information."));
}

bool settleTaskList(const StartOptions &options)
{
    const Module1::ListPlace place = Module1::chooseTaskList(options.file);
    QString why;
    if (!Module1::prepareListFolder(place, &why)) {
        Module1::complain(why);
        return false;
    }
    Module1::useTaskList(place.folder, place.fileName);
    return true;
}

std::optional<int> beginProgram(int argc, char **argv, StartOptions *options)
{
    watchStandardOutput();
    Module1::ignoreFileSizeSignal();
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const std::optional<int> code = parseCommandLine(arguments, options))
        return code;
    if (!settleTaskList(*options))
        return 1;
    return std::nullopt;
}

void printTasksText(QString text)
{
    text.replace(QChar(0), QChar::ReplacementCharacter);
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}
