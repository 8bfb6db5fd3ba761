// The commands typed in a terminal, in one process: which list a start
// uses, the due moments --add reads, what --list prints, and the UIDs that
// keep a task known to calendars.
#include "app/commandline.h"
#include "app/terminalcommands.h"
#include "store/listlocation.h"
#include "store/ordering.h"
#include "store/taskids.h"

#include "support/taskfilebuilder.h"
#include "support/testsupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>

#include <unistd.h>

namespace {

using testsupport::dueOn;
using testsupport::rule;
using testsupport::taskFile;
using namespace Module1;

// A temporary folder made current, and another as the user's data folder.
class InFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(work.isValid() && data.isValid());
        previous = QDir::currentPath();
        savedData = qgetenv("XDG_DATA_HOME");
        QDir::setCurrent(work.path());
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    }
    void TearDown() override
    {
        QDir::setCurrent(previous);
        qputenv("XDG_DATA_HOME", savedData);
    }
    QTemporaryDir work, data;
    QString previous;
    QByteArray savedData;
};

TEST_F(InFolder, EachStartUsesTheFolderListOnlyWhenTheFolderHasOne)
{
    const QString here = QDir::currentPath();
    const ListPlace user{data.path() + "/quillet", "tasks.txt"};
    // No list here: the user's, never a new one in this folder.
    EXPECT_EQ(chooseTaskList({}), user);
    QString why;
    ASSERT_TRUE(prepareListFolder(user, &why)) << why.toStdString();
    EXPECT_TRUE(QFileInfo(user.folder).isDir());
    EXPECT_FALSE(QFile::exists("tasks.txt"));

    struct {
        const char *name;
        QString file;
        ListPlace expected;
    } const cases[] = {
        {"--file names a file", "other/list.txt", {here + "/other", "list.txt"}},
        {"--file names a folder", here + "/", {here, "tasks.txt"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(chooseTaskList(c.file), c.expected);
    }
    // Whatever stands here as tasks.txt (even a folder, refused later) is this folder's list.
    ASSERT_TRUE(QDir().mkdir("tasks.txt"));
    EXPECT_EQ(chooseTaskList({}), (ListPlace{{}, "tasks.txt"}));
}

TEST(Due, EachFormAndEachRefusal)
{
    // Tuesday 2026-12-08.
    const Days today = Days{testsupport::kToday};
    struct {
        const char *when;
        std::optional<DueMoment> due;
    } const cases[] = {
        {"2026-12-24", DueMoment{2026, 12, 24, 0, 0}},
        {"2026-12-24 09:30", DueMoment{2026, 12, 24, 9, 30}},
        {"2026-12-24T23:59", DueMoment{2026, 12, 24, 23, 59}},
        {"today", DueMoment{2026, 12, 8, 0, 0}},
        {"Tomorrow 7:05", DueMoment{2026, 12, 9, 7, 5}},
        {"+0", DueMoment{2026, 12, 8, 0, 0}},
        {"+30", DueMoment{2027, 1, 7, 0, 0}},
        {"friday", DueMoment{2026, 12, 11, 0, 0}},
        {"mon", DueMoment{2026, 12, 14, 0, 0}},
        {"tuesday", DueMoment{2026, 12, 15, 0, 0}},  // today's weekday: a week ahead
        {"2028-02-29", DueMoment{2028, 2, 29, 0, 0}},
        // A day in from the ends of the years calendar readers take.
        {"0001-01-02", DueMoment{1, 1, 2, 0, 0}},
        {"9999-12-30 23:59", DueMoment{9999, 12, 30, 23, 59}},
        {"0001-01-01", std::nullopt},
        {"9999-12-31", std::nullopt},
        {"2026-02-29", std::nullopt},
        {"2026-13-01", std::nullopt},
        {"2026-12-24 24:00", std::nullopt},
        {"2026-12-24 09:60", std::nullopt},
        {"24.12.2026", std::nullopt},
        {"12/24/2026", std::nullopt},
        {"yesterday", std::nullopt},
        {"-1", std::nullopt},
        {"+", std::nullopt},
        {"+9999999", std::nullopt},
        {"fri day", std::nullopt},
        {"next week", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.when);
        const std::optional<DueMoment> got = parseWhen(QString::fromUtf8(c.when), today);
        ASSERT_EQ(got.has_value(), c.due.has_value());
        if (got) {
            EXPECT_EQ(std::tie(got->year, got->month, got->day, got->hour, got->minute),
                      std::tie(c.due->year, c.due->month, c.due->day, c.due->hour, c.due->minute));
        }
    }
}

TEST(CommandLine, CommandsAndTheirOptions)
{
    struct {
        QStringList arguments;
        std::optional<int> ends;
        StartOptions::Command command;
    } const cases[] = {
        {{"q", "--list"}, std::nullopt, StartOptions::List},
        {{"q", "--list", "--json", "--recycled"}, std::nullopt, StartOptions::List},
        {{"q", "--list", "--for", "Ann", "--due-within", "3", "--overdue", "rent"},
         std::nullopt,
         StartOptions::List},
        {{"q", "--week", "--wide", "--for", "Ann"}, std::nullopt, StartOptions::Week},
        {{"q", "--week", "--list"}, 2, {}},
        {{"q", "--week", "--json"}, 2, {}},
        {{"q", "--add", "T", "--due", "today", "word"}, 2, {}},
        {{"q", "--overdue"}, 2, {}},
        {{"q", "--add", "T", "--due", "today", "--for", "Me", "--note", "N"},
         std::nullopt,
         StartOptions::Add},
        {{"q", "--export-ics", "-"}, std::nullopt, StartOptions::ExportIcs},
        {{"q", "--import-ics", "a.ics", "--file", "x.txt"}, std::nullopt, StartOptions::ImportIcs},
        {{"q", "--add", "T"}, 2, {}},
        {{"q", "--due", "today"}, 2, {}},
        {{"q", "--json"}, 2, {}},
        {{"q", "--list", "--add", "T", "--due", "today"}, 2, {}},
        {{"q", "--list", "--show-all"}, 2, {}},
        {{"q", "--add", "A", "--add", "B", "--due", "today"}, 2, {}},
        {{"q", "--file"}, 2, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        StartOptions options;
        EXPECT_EQ(parseCommandLine(c.arguments, &options), c.ends);
        if (!c.ends) {
            EXPECT_EQ(options.command, c.command);
        }
    }
}

// What `run` says on standard error.
QByteArray stderrOf(const std::function<void()> &run)
{
    QTemporaryFile said;
    if (!said.open())
        return "(stderr not captured)";
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(said.handle(), STDERR_FILENO);
    run();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    said.seek(0);
    return said.readAll();
}

// Which mistake is told when several are made, and in which words.
TEST(CommandLine, EachMistakeIsToldInItsOwnWordsTheFirstRuleBrokenFirst)
{
    struct {
        QStringList arguments;
        const char *said;  // before the line that points to --help
    } const cases[] = {
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
        {{"--list=yes"}, "--list takes no value"},
        {{"--show-all", "extra"}, "unexpected argument 'extra'"},
        {{"--remind", "--show-all"}, "--show-all and --remind cannot be used together"},
        {{"--import-ics", "a", "--list", "--add", "T"},
         "--list and --add and --import-ics cannot be used together"},
        {{"--list", "--show-all", "--file", "a", "--file", "b"},
         "--show-all and --list cannot be used together"},
        {{"--add", "A", "--add", "B", "--due", "today"}, "--add is given more than once"},
        {{"--note", "x", "--note", "y", "--file", "a", "--file", "b", "--add", "T", "--due", "t"},
         "--note is given more than once"},
        {{"--recycled", "--due", "a", "--due", "b"}, "--due is given more than once"},
        {{"--json"}, "--recycled and --json go with --list"},
        {{"--recycled", "--for", "Me"}, "--recycled and --json go with --list"},
        {{"--add", "T", "--due", "today", "--recycled"}, "--recycled and --json go with --list"},
        {{"--note", "N"}, "--due and --note go with --add or --edit"},
        {{"--list", "--due", "today"}, "--due and --note go with --add or --edit"},
        {{"--for", "Me"}, "--for goes with --add, --edit, --list or --week"},
        {{"--export-ics", "-", "--wide"},
         "--due-within, --overdue and --wide go with --list or --week"},
        {{"--list", "--due-within", "1", "--due-within", "2"},
         "--due-within is given more than once"},
        {{"--add", "T"}, "--add needs --due WHEN"},
        {{"--add", "T", "--for", "Me"}, "--add needs --due WHEN"},
        {{"--file", ""}, "--file needs a path"},
        {{"--file=", "--json"}, "--recycled and --json go with --list"},
        {{"--file"}, "--file needs PATH"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        StartOptions options;
        std::optional<int> ends;
        const QByteArray said =
            stderrOf([&] { ends = parseCommandLine(QStringList{"q"} + c.arguments, &options); });
        EXPECT_EQ(ends, 2);
        EXPECT_EQ(said.toStdString(), std::string("quillet: ") + c.said +
                                          "\nTry 'quillet --help' for more information.\n");
    }
}

// Rules: within 2 days red with popup, within 10 days green.
void loadListWithRules()
{
    const QDate today(2026, 12, 8);
    auto late = dueOn("Late", today.addDays(-1));
    late.forWhom = "Ann";
    auto soon = dueOn("Soon", today.addDays(1));
    soon.description = "two|~lines";
    const QByteArray file =
        taskFile({dueOn("Far", today.addDays(40)), soon, late, dueOn("Week", today.addDays(7)),
                  dueOn("Gone", today.addDays(1), "Y")},
                 {rule(2, true, 0x0000FF), rule(10, false, 0x00FF00)});
    ASSERT_TRUE(readTasks(file).ok());
    sortMode = 2;
    sortTasks();
}

TEST(List, TextColourAndJsonFollowTheRules)
{
    loadListWithRules();
    const Days today = Days{testsupport::kToday};
    // Columns as wide as their widest cell; "for" only where there is one.
    EXPECT_EQ(listingText(false, {}, {}, today),
              "1  December 07/26 at 9:05:00 AM  Late!         Late  for Ann\n"
              "2  December 09/26 at 9:05:00 AM  1 day left    Soon  for Me\n"
              "3  December 15/26 at 9:05:00 AM  7 days left   Week  for Me\n"
              "4  January 17/27 at 9:05:00 AM   40 days left  Far   for Me\n");
    // The recycled tasks are numbered on their own.
    EXPECT_EQ(listingText(true, {}, {}, today),
              "1  December 09/26 at 9:05:00 AM  1 day left  Gone  for Me\n");
    // Late and Soon count under the red rule (in the list's weight: overdue
    // or due within a day is bold); Week under the green one; Far under none.
    const QStringList coloured =
        listingText(false, {}, {.colour = true, .trueColour = true}, today).split('\n');
    EXPECT_EQ(coloured[0].toStdString(),
              "1  \x1b[38;2;255;0;0m\x1b[1mDecember 07/26 at 9:05:00 AM  "
              "Late!         Late  for Ann\x1b[0m");
    EXPECT_TRUE(coloured[1].startsWith("2  \x1b[38;2;255;0;0m")) << coloured[1].toStdString();
    EXPECT_TRUE(coloured[2].startsWith("3  \x1b[38;2;0;255;0mDecember 15"))
        << coloured[2].toStdString();
    EXPECT_TRUE(coloured[3].startsWith("4  January")) << coloured[3].toStdString();

    const QJsonArray json = QJsonDocument::fromJson(tasksAsJson(false, today)).array();
    ASSERT_EQ(json.size(), 4);
    const QJsonObject soon = json[1].toObject();
    EXPECT_EQ(soon["number"].toInt(), 2);
    EXPECT_EQ(soon["title"].toString(), "Soon");
    EXPECT_EQ(soon["for"].toString(), "Me");
    EXPECT_EQ(soon["due"].toString(), "2026-12-09T09:05:00");
    EXPECT_EQ(soon["daysLeft"].toInt(), 1);
    EXPECT_EQ(soon["note"].toString(), "two\nlines");
    EXPECT_EQ(soon["color"].toString(), "#ff0000");
    EXPECT_TRUE(soon["announced"].toBool());
    EXPECT_FALSE(soon["recycled"].toBool());
    EXPECT_TRUE(json[3].toObject()["color"].isNull());
    EXPECT_FALSE(json[3].toObject()["announced"].toBool());
}

// The built program in a folder of its own, as a user runs it from a
// terminal: no display, the list in the folder, the zone TZ names.
class Program : public ::testing::Test {
protected:
    struct Run {
        int status = -1;
        QByteArray out, err;
    };
    Run quillet(const QStringList &args, const QByteArray &zone)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "NO_COLOR"})
            env.remove(name);
        env.insert("HOME", home.path());
        env.insert("XDG_DATA_HOME", home.path() + "/data");
        env.insert("XDG_RUNTIME_DIR", home.path());
        env.insert("TZ", zone);
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(home.path());
        p.start(QStringLiteral(QUILLET_BINARY), args);
        Run run;
        // A hang guard only.
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished();
            ADD_FAILURE() << "quillet " << args.join(' ').toStdString() << " did not end";
            return run;
        }
        run.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        run.out = p.readAllStandardOutput();
        run.err = p.readAllStandardError();
        return run;
    }
    QString list() const { return home.path() + "/tasks.txt"; }
    QTemporaryDir home;
};

// A wall time the clocks skip is refused with the time they skip to; the
// times around it, a time that comes twice and a zone without changes are
// kept as given.
TEST_F(Program, AddRefusesADueTimeTheClocksSkipNamingTheNextValidTime)
{
    struct {
        const char *zone, *due;
        const char *refusal;  // nullptr: added, at the time given
    } const rows[] = {
        {"Europe/Berlin", "2027-03-28 02:30",
         "02:30 on 2027-03-28 does not exist in Europe/Berlin (the clocks go forward); the next "
         "valid time is 03:00"},
        {"Europe/Berlin", "2027-03-28 02:00", "the next valid time is 03:00"},
        {"Europe/Berlin", "2027-03-28 01:59", nullptr},
        {"Europe/Berlin", "2027-03-28 03:00", nullptr},
        {"Europe/Berlin", "2027-10-31 02:30", nullptr},  // twice, not never
        {"America/New_York", "2027-03-14 02:15", "the next valid time is 03:00"},
        // Half an hour forward.
        {"Australia/Lord_Howe", "2027-10-03 02:10",
         "does not exist in Australia/Lord_Howe (the clocks go forward); the next valid time is "
         "02:30"},
        // Cuba skips midnight: a date alone is 0:00.
        {"America/Havana", "2027-03-14", "00:00 on 2027-03-14 does not exist in America/Havana"},
        {"America/Havana", "2027-03-14 01:00", nullptr},
        {"UTC", "2027-03-28 02:30", nullptr},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::string(r.zone) + " " + r.due);
        QFile::remove(list());
        const Run run = quillet({"--file", list(), "--add", "Call", "--due", r.due}, r.zone);
        if (r.refusal) {
            EXPECT_EQ(run.status, 2) << run.err.toStdString();
            EXPECT_TRUE(run.err.contains(r.refusal)) << run.err.toStdString();
            EXPECT_FALSE(QFile::exists(list())) << "nothing written";
            continue;
        }
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        const QString when = QString::fromLatin1(r.due);
        const QTime time =
            when.size() > 10 ? QTime::fromString(when.mid(11), "HH:mm") : QTime(0, 0);
        const QByteArray file = testsupport::readFile(list());
        EXPECT_TRUE(file.contains(QStringLiteral("\r\nhou=%1\r\nmin=%2\r\n")
                                      .arg(time.hour())
                                      .arg(time.minute())
                                      .toUtf8()))
            << file.toStdString();
    }
}

// --list --json gives the due moment every other user takes: the date the
// list counts days to (daysLeft), the time of day the list writes, however
// far the hour, minute or second in the file carries back or forward.
TEST_F(Program, JsonDueIsTheDateTheDaysLeftCountAtTheTimeTheListWrites)
{
    struct {
        int day, month, year, hour, minute, second;
        const char *due;
    } const rows[] = {
        {8, 12, 2026, 9, 5, 0, "2026-12-08T09:05:00"},
        {8, 12, 2026, -1, 0, 0, "2026-12-08T23:00:00"},
        {8, 12, 2026, 0, -1, 0, "2026-12-08T23:59:00"},
        {8, 12, 2026, 0, 0, -1, "2026-12-08T23:59:59"},
        {8, 12, 2026, -25, 0, 0, "2026-12-08T23:00:00"},
        {8, 12, 2026, -24, 0, 1, "2026-12-08T00:00:01"},
        {8, 12, 2026, 0, -1440, 0, "2026-12-08T00:00:00"},
        {8, 12, 2026, 25, 0, 0, "2026-12-08T01:00:00"},
        {8, 12, 2026, 9, 75, 0, "2026-12-08T10:15:00"},
        {8, 12, 2026, 23, 59, 61, "2026-12-08T00:00:01"},
        {0, 1, 2027, -1, 0, 0, "2026-12-31T23:00:00"},
        {1, 13, 2026, 0, 0, -3600, "2027-01-01T23:00:00"},
    };
    std::vector<testsupport::TaskLines> lines;
    for (const auto &r : rows)
        lines.push_back({QString::fromLatin1(r.due),
                         "Me",
                         r.day,
                         r.month,
                         r.year,
                         r.hour,
                         r.minute,
                         r.second,
                         "N",
                         {}});
    testsupport::writeFile(list(), taskFile(lines, {}));
    const Run run = quillet({"--file", list(), "--list", "--json"}, "UTC");
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QJsonArray json = QJsonDocument::fromJson(run.out).array();
    ASSERT_EQ(json.size(), qsizetype(std::size(rows))) << run.out.toStdString();
    for (const QJsonValue &v : json) {
        const QJsonObject task = v.toObject();
        // Each task is titled with the due moment it should have.
        const QString expected = task["title"].toString();
        SCOPED_TRACE(expected.toStdString());
        EXPECT_EQ(task["due"].toString().toStdString(), expected.toStdString());
        // The program's today is this process's (UTC both).
        const QDate due = QDate::fromString(expected.left(10), Qt::ISODate);
        EXPECT_EQ(QDate::currentDate().daysTo(due), task["daysLeft"].toInteger());
    }
}

TaskPrint print(const char *title, const char *due, const char *forWhom = "Me",
                const char *note = "")
{
    Task t;
    t.title = title;
    t.forWhom = forWhom;
    t.description = note;
    const QDate d = QDate::fromString(due, Qt::ISODate);
    t.year = qint16(d.year());
    t.month = qint16(d.month());
    t.day = qint16(d.day());
    return printOf(t);
}

TEST(TaskUids, KnownAgainThroughEditsAndCopies)
{
    const std::vector<KnownUid> known{
        {"a", print("Rent", "2026-12-01")},
        {"b", print("Rent", "2026-12-01")},  // the same task twice: two UIDs
        {"c", print("Dentist", "2026-12-24", "Me", "card")},
        {"d", print("Call Bob", "2026-12-10", "Ann")},
        {"e", print("Removed", "2026-12-30")},
    };
    const QStringList uids = assignUids(
        {
            print("Call Robert", "2026-12-10", "Ann"),     // retitled
            print("Rent", "2026-12-01"),                   // sorted elsewhere
            print("Dentist", "2027-01-05", "Me", "card"),  // moved
            print("Rent", "2026-12-01"),
            print("New", "2027-02-02"),
        },
        known);
    ASSERT_EQ(uids.size(), 5);
    EXPECT_EQ(uids[0], "d");
    EXPECT_EQ(uids[1], "a");
    EXPECT_EQ(uids[2], "c");
    EXPECT_EQ(uids[3], "b");
    EXPECT_TRUE(uids[4].endsWith("@quillet") && uids[4] != "e") << uids[4].toStdString();
}

// Each task takes one entry at most, and each entry goes to one task at
// most: a task that took an entry by its exact print or by likeness takes
// no other, which stays for the task it fits. "" is a new UID.
TEST(TaskUids, OneEntryATaskAndOneTaskAnEntry)
{
    struct Row {
        const char *name;
        std::vector<KnownUid> known;
        std::vector<TaskPrint> tasks;
        QStringList uids;
    } const rows[] = {
        {"an edited task takes its best entry only",
         {{"x", print("Rent", "2026-12-01")}, {"y", print("Rent", "2026-12-05", "Ann")}},
         {print("Rent", "2026-12-01", "Ann")},
         {"x"}},
        {"the entry it did not take stays for the task it fits",
         {{"x", print("Rent", "2026-12-01")}, {"y", print("Rent", "2026-12-05", "Ann")}},
         {print("Rent", "2026-12-01", "Ann"), print("Rent", "2026-12-06", "Ann")},
         {"x", "y"}},
        {"a task known by its print takes no entry by likeness",
         {{"a", print("Rent", "2026-12-01")}, {"b", print("Rent", "2026-12-01", "Me", "note")}},
         {print("Rent", "2026-12-01")},
         {"a"}},
        {"nor does it take the entry of its edited copy",
         {{"a", print("Rent", "2026-12-01")}, {"b", print("Rent", "2026-12-01", "Me", "note")}},
         {print("Rent", "2026-12-01"), print("Rent", "2026-12-01", "Me", "later")},
         {"a", "b"}},
        {"two copies and one entry",
         {{"a", print("Rent", "2026-12-01")}},
         {print("Rent", "2026-12-01"), print("Rent", "2026-12-01")},
         {"a", ""}},
        {"two edits that fit one entry",
         {{"d", print("Call Bob", "2026-12-10", "Ann")}},
         {print("Call Robert", "2026-12-10", "Ann"), print("Call Bob", "2026-12-11", "Ann")},
         {"d", ""}},
        {"an entry taken by print is not taken by likeness",
         {{"d", print("Call Bob", "2026-12-10", "Ann")}},
         {print("Call Robert", "2026-12-10", "Ann"), print("Call Bob", "2026-12-10", "Ann")},
         {"", "d"}},
        {"neither title nor due kept",
         {{"z", print("Rent", "2026-12-01", "Me", "note")}},
         {print("Rant", "2026-12-02", "Me", "note")},
         {""}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const QStringList uids = assignUids(r.tasks, r.known);
        ASSERT_EQ(uids.size(), r.uids.size());
        for (qsizetype i = 0; i < uids.size(); ++i) {
            SCOPED_TRACE(i);
            if (r.uids[i].isEmpty()) {
                EXPECT_TRUE(uids[i].endsWith("@quillet")) << uids[i].toStdString();
                EXPECT_EQ(uids.count(uids[i]), 1);
            } else {
                EXPECT_EQ(uids[i].toStdString(), r.uids[i].toStdString());
            }
        }
    }
}

// Just after a load, an outside edit of title and due together keeps its
// UID only where no other task could be the one edited.
TEST(TaskUids, TheOneTaskLeftTakesTheOneEntryLeftWhenAsked)
{
    const std::vector<KnownUid> known{{"r", print("Rent", "2026-12-01", "Sam")},
                                      {"m", print("Mum", "2026-12-10")}};
    struct Row {
        const char *name;
        std::vector<TaskPrint> tasks;
        bool paired;
    } const rows[] = {
        {"title and due edited",
         {print("Pay", "2027-01-06", "Sam"), print("Mum", "2026-12-10")},
         true},
        {"and one more unknown",
         {print("Pay", "2027-01-06", "Sam"), print("Mum", "2026-12-10"),
          print("New", "2027-02-02")},
         false},
        {"one gone, none unknown", {print("Mum", "2026-12-10")}, false},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        bool paired = !r.paired;
        const QStringList uids = assignUids(r.tasks, known, &paired);
        EXPECT_EQ(paired, r.paired);
        EXPECT_EQ(uids.first() == "r", r.paired);
        // Not asked, it stays a new task.
        EXPECT_NE(assignUids(r.tasks, known).first(), "r");
    }
}

}  // namespace
