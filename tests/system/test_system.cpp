// Whole-program runs of the built binary in a temporary directory.
#include "support/taskfilebuilder.h"
#include "support/testsupport.h"
#include "support/testusers.h"
#include "system/runtool.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>

#include <array>
#include <functional>
#include <optional>

#include <gtest/gtest.h>

#include <cstdio>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using testsupport::dueOn;
using testsupport::rule;
using testsupport::taskFile;
using testsupport::whatIsAt;

class Program : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(runtime.isValid());
        QFile::setPermissions(runtime.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        env.insert("LANG", "en_US.UTF-8");
        pinToday(env);
    }

    void start(QProcess &p, bool offscreen, const QStringList &args = {})
    {
        if (offscreen)
            env.insert("QT_QPA_PLATFORM", "offscreen");
        if (asUser)
            p.setChildProcessModifier(asUser);
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir.path());
        p.start(QStringLiteral(QUILLET_BINARY), args);
        ASSERT_TRUE(p.waitForStarted(5000));
    }

    // Waits, bounded, for the process to print `text` on stderr.
    static bool waitForStderr(QProcess &p, const QByteArray &text, QByteArray &seen)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 5000 && p.state() != QProcess::NotRunning) {
            p.waitForReadyRead(100);
            seen += p.readAllStandardError();
            if (seen.contains(text))
                return true;
        }
        seen += p.readAllStandardError();
        return seen.contains(text);
    }

    static void stop(QProcess &p)
    {
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished(3000);
        }
    }

    QString tasksPath() const { return dir.filePath("tasks.txt"); }
    QString pagePath() const { return runtime.path() + "/quillet/al.html"; }

    // Runs the program to its end with standard output sent (or closed) by
    // `redirect` in the shell's words.
    void runRedirected(QProcess &p, const QString &redirect, const QStringList &args)
    {
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir.path());
        p.start("/bin/sh",
                QStringList{"-c", "exec \"$0\" \"$@\" " + redirect, QUILLET_BINARY} + args);
        ASSERT_TRUE(p.waitForStarted(5000));
        ASSERT_TRUE(p.waitForFinished(5000));
    }

    // True when the process holds a flock, as the kernel lists it.
    static bool holdsALock(qint64 pid)
    {
        QFile list("/proc/locks");
        if (!list.open(QIODevice::ReadOnly))
            return false;
        for (const QByteArray &line : list.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 4 && fields[1] == "FLOCK" && fields[4].toLongLong() == pid)
                return true;
        }
        return false;
    }

    // Waits, bounded, until a start holds the task file and listens for
    // later starts (the lock is taken before the socket is made).
    bool waitForLock(const QProcess &p) const
    {
        QElapsedTimer t;
        t.start();
        while (!holdsALock(p.processId()) && t.elapsed() < 5000 && p.state() == QProcess::Running)
            QThread::msleep(10);
        while (!listening() && t.elapsed() < 5000 && p.state() == QProcess::Running)
            QThread::msleep(10);
        return holdsALock(p.processId()) && listening();
    }

    // Whether a socket named for the task folder (its device and inode, in
    // hex) accepts connections, wherever its meeting folder is.
    bool listening() const
    {
        struct stat st { };
        if (::stat(QFile::encodeName(dir.path()).constData(), &st) != 0)
            return false;
        const QByteArray name = "/copy-" + QByteArray::number(quint64(st.st_dev), 16) + '-' +
                                QByteArray::number(quint64(st.st_ino), 16);
        QFile sockets(QStringLiteral("/proc/net/unix"));
        if (!sockets.open(QIODevice::ReadOnly))
            return true;  // nothing to look in: the bounded wait for the lock is all
        // Num RefCount Protocol Flags Type St Inode Path; flag 00010000: listening.
        for (const QByteArray &line : sockets.readAll().split('\n')) {
            const QList<QByteArray> f = line.simplified().split(' ');
            if (f.size() >= 8 && f[3] == "00010000" && f[7].endsWith(name))
                return true;
        }
        return false;
    }

    // A later start on the list: true when it handed over to the running
    // copy and ended at once.
    bool handsOver(QProcess &later, const QStringList &wrapper = {})
    {
        env.insert("QT_QPA_PLATFORM", "offscreen");
        if (asUser)
            later.setChildProcessModifier(asUser);
        later.setProcessEnvironment(env);
        later.setWorkingDirectory(dir.path());
        if (wrapper.isEmpty())
            later.start(QUILLET_BINARY, {"--show-all"});
        else
            later.start(wrapper.first(),
                        wrapper.mid(1) + QStringList{QUILLET_BINARY, "--show-all"});
        if (!later.waitForStarted(testsupport::hangGuardMs(5000)) ||
            !later.waitForFinished(testsupport::hangGuardMs(5000))) {
            stop(later);
            return false;
        }
        return later.exitStatus() == QProcess::NormalExit && later.exitCode() == 0;
    }

    QTemporaryDir dir;
    QTemporaryDir runtime;
    QProcessEnvironment env;
    std::function<void()> asUser;  // in the child before exec: become another user
};

TEST_F(Program, NothingAnnouncedEndsWithoutADisplay)
{
    const QDate today = kFixedToday;
    testsupport::writeFile(tasksPath(),
                           taskFile({dueOn("Later", today.addDays(30)), dueOn("Gone", today, "Y")},
                                    {rule(3, true), rule(40, false)}));
    const QByteArray before = testsupport::readFile(tasksPath());
    QProcess p;
    start(p, false);
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_EQ(testsupport::readFile(pagePath()),
              "<head><title>Alerts</title></head>\r\n<body><center><p align=center>\r\n"
              "<h2>Attention!</h2>\r\n</p></center></body></html>\r\n");
    EXPECT_EQ(testsupport::readFile(tasksPath()), before);
}

TEST_F(Program, AnnouncedTasksArePrintedWhenThereIsNoDisplay)
{
    testsupport::writeFile(tasksPath(),
                           taskFile({dueOn("In two days", kFixedToday.addDays(2)),
                                     dueOn("Overdue", kFixedToday.addDays(-3)),
                                     dueOn("Binned", kFixedToday, "Y"), dueOn("Now", kFixedToday)},
                                    {rule(3, true)}));
    QProcess p;
    start(p, false);
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_EQ(p.readAllStandardOutput().toStdString(),
              "Overdue, for Me, due December 05/26 at 9:05:00 AM: Late!\n"
              "Now, for Me, due December 08/26 at 9:05:00 AM: Today!\n"
              "In two days, for Me, due December 10/26 at 9:05:00 AM: 2 days left\n");
    EXPECT_TRUE(testsupport::readFile(pagePath()).contains("In two days"))
        << "the page is written as usual";
}

TEST_F(Program, ANulInATitlePrintsTheRest)
{
    QByteArray file =
        taskFile({dueOn("Before@after", kFixedToday), dueOn("Next", kFixedToday)}, {rule(3, true)});
    file.replace('@', '\0');
    testsupport::writeFile(tasksPath(), file);
    QProcess p;
    start(p, false);
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_EQ(p.readAllStandardOutput().toStdString(),
              "Before\xEF\xBF\xBD"
              "after, for Me, due December 08/26 at 9:05:00 AM: Today!\n"
              "Next, for Me, due December 08/26 at 9:05:00 AM: Today!\n");
}

// Files that the reader takes as task files, however they were edited:
// they load, and nothing is said.
TEST_F(Program, EveryFormOfATaskFileLoads)
{
    const struct {
        const char *name;
        QByteArray bytes;
    } cases[] = {
        {"keys with another fourth character", "ttl:Report\r\nfor Me\r\nact:addtask\r\n"},
        {"the header comments alone",
         "; Quillet\r\n; ----------\r\n; Tasks and settings\r\n; DO NOT MODIFY THIS FILE\r\n"},
        {"a section in lower case", "[tasks]\r\nttl=a\r\nact=addtask\r\n"},
        {"a section with a comment after it", "[Tasks] ; my list\r\nttl=a\r\nact=addtask\r\n"},
        {"a section with a tab after it", "[Tasks]\t\r\nttl=a\r\nact=addtask\r\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::writeFile(tasksPath(), c.bytes);
        QProcess p;
        start(p, false);
        ASSERT_TRUE(p.waitForFinished(5000));
        EXPECT_EQ(p.exitCode(), 0);
        EXPECT_EQ(p.readAllStandardError(), "");
        EXPECT_EQ(testsupport::readFile(tasksPath()), c.bytes);
    }
}

// Read no further than its size: refused at once.
TEST_F(Program, AFileLargerThanAnyTaskFileIsRefusedUnread)
{
    testsupport::writeFile(tasksPath(), "; Quillet\r\n[Tasks]\r\n");
    ASSERT_EQ(::truncate(QFile::encodeName(tasksPath()).constData(), 100 << 20), 0);
    QProcess p;
    start(p, false);
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(p.readAllStandardError().contains("is larger than any Quillet task file"));
    EXPECT_EQ(QFileInfo(tasksPath()).size(), 100 << 20);
}

TEST_F(Program, AFolderWhoseNameIsNotTextIsFound)
{
    // "café" in Latin-1, which Qt cannot hold as a path: reached by bytes.
    const QByteArray folder = QFile::encodeName(dir.path()) + "/caf\xE9";
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    const QByteArray bytes = taskFile({dueOn("Now", kFixedToday)}, {rule(3, true)});
    FILE *f = std::fopen((folder + "/tasks.txt").constData(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f);
    std::fclose(f);
    QProcess p;
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir.path());
    p.start("/bin/sh", {"-c", "cd \"$(printf 'caf\\351')\" && exec \"$0\"", QUILLET_BINARY});
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_EQ(p.readAllStandardOutput().toStdString(),
              "Now, for Me, due December 08/26 at 9:05:00 AM: Today!\n");
    ::unlink((folder + "/tasks.txt").constData());
    ::rmdir(folder.constData());
}

TEST_F(Program, EmptyFileEndsAtOnce)
{
    testsupport::writeFile(tasksPath(), QByteArray());
    QProcess p;
    start(p, false);
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_EQ(testsupport::readFile(tasksPath()), QByteArray());
}

TEST_F(Program, AnnouncedTaskKeepsTheWindowUp)
{
    testsupport::writeFile(tasksPath(),
                           taskFile({dueOn("Pay <i>rent</i>", kFixedToday)}, {rule(0, true)}));
    QProcess p;
    start(p, true);
    // Still running: the alert window waits for the user.
    EXPECT_FALSE(p.waitForFinished(1500));
    EXPECT_EQ(p.state(), QProcess::Running);
    const QByteArray page = testsupport::readFile(pagePath());
    EXPECT_TRUE(page.contains("<b> Pay <i>rent</i></b></td></tr><tr><td>\r\n"));
    EXPECT_TRUE(page.contains("<B>Today!</b>"));
    stop(p);
}

TEST_F(Program, AnnouncedPageShownEvenWhenItCannotBeWritten)
{
    // A runtime dir open to others is refused, so the page stays in memory.
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadOther | QFile::WriteOther |
                                              QFile::ExeOther);
    QDir(runtime.path()).mkdir("quillet");
    QFile::setPermissions(runtime.path() + "/quillet", QFile::ReadOwner | QFile::WriteOwner |
                                                           QFile::ExeOwner | QFile::ReadOther |
                                                           QFile::WriteOther | QFile::ExeOther);
    testsupport::writeFile(tasksPath(), taskFile({dueOn("Due", kFixedToday)}, {rule(0, true)}));
    QProcess p;
    start(p, true);
    EXPECT_FALSE(p.waitForFinished(1500));
    EXPECT_EQ(p.state(), QProcess::Running);
    EXPECT_FALSE(QFile::exists(pagePath()));
    stop(p);
}

TEST_F(Program, MissingFileOpensTheMainWindowAndWritesNothing)
{
    QProcess p;
    start(p, true);
    EXPECT_FALSE(p.waitForFinished(1500));
    EXPECT_EQ(p.state(), QProcess::Running);
    stop(p);
    EXPECT_FALSE(QFile::exists(tasksPath()));
}

TEST_F(Program, CommandLineAsGnuProgramsHaveIt)
{
    struct {
        QStringList args;
        int status;
        const char *out;  // on stdout for status 0, else on stderr
    } const cases[] = {
        {{"--help"}, 0, "Usage: quillet [OPTION]"},
        {{"-h"}, 0, "--show-all"},
        {{"--version"}, 0, "quillet 0.22\n"},
        {{"--frobnicate"}, 2, "unknown option '--frobnicate'"},
        {{"--show-all", "extra"}, 2, "unexpected argument 'extra'"},
        {{"--remind", "--show-all"}, 2, "cannot be used together"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QProcess p;
        start(p, false, c.args);
        ASSERT_TRUE(p.waitForFinished(5000));
        EXPECT_EQ(p.exitCode(), c.status);
        const QByteArray said =
            c.status == 0 ? p.readAllStandardOutput() : p.readAllStandardError();
        EXPECT_TRUE(said.contains(c.out)) << said.toStdString();
        if (c.status != 0) {
            EXPECT_TRUE(said.contains("Try 'quillet --help'")) << said.toStdString();
        }
        EXPECT_FALSE(QFile::exists(tasksPath()));
    }
}

TEST_F(Program, ShowAllOpensTheListWhenNothingIsDue)
{
    testsupport::writeFile(tasksPath(), taskFile({dueOn("Later", kFixedToday.addDays(30))}, {}));
    QProcess p;
    start(p, true, {"--show-all"});
    EXPECT_FALSE(p.waitForFinished(1500)) << "the list waits for the user";
    stop(p);
}

struct RefusedCase {
    const char *name;
    QByteArray bytes;
    bool unreadable;
    const char *reason;
};

void PrintTo(const RefusedCase &c, std::ostream *os) { *os << c.name; }

class RefusedFile : public Program, public ::testing::WithParamInterface<RefusedCase> { };

TEST_P(RefusedFile, ShowsWhyAndLeavesTheFileAlone)
{
    const RefusedCase &c = GetParam();
    if (c.unreadable && ::geteuid() == 0)
        GTEST_SKIP() << "root reads any file";
    testsupport::writeFile(tasksPath(), c.bytes);
    if (c.unreadable)
        QFile::setPermissions(tasksPath(), QFile::WriteOwner);
    QProcess p;
    start(p, true);
    QByteArray seen;
    const bool said = waitForStderr(p, c.reason, seen);
    stop(p);
    EXPECT_TRUE(said) << seen.toStdString();
    EXPECT_TRUE(seen.contains(QFile::encodeName(tasksPath()))) << seen.toStdString();

    // Without a display: the same words, and a failure status.
    QProcess text;
    env.remove("QT_QPA_PLATFORM");
    start(text, false);
    ASSERT_TRUE(text.waitForFinished(5000));
    EXPECT_EQ(text.exitCode(), 1);
    const QByteArray printed = text.readAllStandardError();
    EXPECT_EQ(printed.count(c.reason), 1) << printed.toStdString();

    QFile::setPermissions(tasksPath(), QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(testsupport::readFile(tasksPath()), c.bytes);
}

QByteArray tooManyTasks()
{
    std::vector<testsupport::TaskLines> tasks;
    for (int i = 0; i < 1002; ++i)
        tasks.push_back(dueOn(QStringLiteral("T%1").arg(i), QDate(2030, 1, 1)));
    return taskFile(tasks, {rule(0, true)});
}

QByteArray tooManyRules()
{
    std::vector<testsupport::RuleLines> rules;
    for (int i = 0; i < 102; ++i)
        rules.push_back(rule(i, true));
    return taskFile({dueOn("T", kFixedToday)}, rules);
}

TEST_F(Program, FileThatIsAFolderIsRefused)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("tasks.txt"));
    QProcess p;
    start(p, true);
    QByteArray seen;
    const bool said = waitForStderr(p, "could not be read", seen);
    stop(p);
    EXPECT_TRUE(said) << seen.toStdString();
    EXPECT_TRUE(QFileInfo(tasksPath()).isDir());
}

INSTANTIATE_TEST_SUITE_P(
    Program, RefusedFile,
    ::testing::Values(
        RefusedCase{"Unreadable", taskFile({dueOn("T", QDate(2030, 1, 1))}, {rule(0, true)}), true,
                    "could not be read"},
        RefusedCase{"TooManyTasks", tooManyTasks(), false, "more than 1001 tasks"},
        RefusedCase{"TooManyRules", tooManyRules(), false, "more than 101 alert rules"},
        RefusedCase{"Notes", "Buy milk\nCall Anna about the car\n", false,
                    "is not a Quillet task file"},
        RefusedCase{"Script", "#!/bin/sh\nfor f in *.txt; do\n  del=\"$f\"\n  act=1\ndone\n", false,
                    "is not a Quillet task file"},
        RefusedCase{"Settings", "[General]\r\nmin=5\r\n", false, "is not a Quillet task file"},
        RefusedCase{"ShoppingList", "milk\neggs\nfor=the kids\nbread\n", false,
                    "is not a Quillet task file"},
        RefusedCase{"Utf16",
                    QByteArray("\xFF\xFE;\0 \0Q\0u\0i\0l\0l\0e\0t\0\r\0\n\0[\0T\0a\0s\0k\0s\0]\0"
                               "\r\0\n\0",
                               42),
                    false, "is a UTF-16 text file"}),
    [](const auto &info) { return std::string(info.param.name); });

// Standard output that cannot take the text: as GNU programs do, a
// message on stderr and status 1. A closed output with nothing to say is
// no error.
struct OutputCase {
    const char *name;
    QStringList args;
    const char *redirect;
    bool announced;  // a task due today, announced by a rule
    int status;
    const char *said;  // on stderr
};

void PrintTo(const OutputCase &c, std::ostream *os) { *os << c.name; }

class LostOutput : public Program, public ::testing::WithParamInterface<OutputCase> { };

TEST_P(LostOutput, IsAnErrorNotASuccess)
{
    const OutputCase &c = GetParam();
    // The clock preload keeps a file open from before main, which takes
    // the number of a closed standard output: the real date here.
    env.remove("LD_PRELOAD");
    const QDate today = QDate::currentDate();
    testsupport::writeFile(
        tasksPath(),
        taskFile({dueOn("Due", c.announced ? today : today.addDays(30))}, {rule(0, true)}));
    const QByteArray before = testsupport::readFile(tasksPath());
    QProcess p;
    runRedirected(p, c.redirect, c.args);
    const QByteArray err = p.readAllStandardError();
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), c.status) << err.toStdString();
    if (*c.said)
        EXPECT_TRUE(err.contains(c.said)) << err.toStdString();
    else
        EXPECT_FALSE(err.contains("write error")) << err.toStdString();
    EXPECT_EQ(testsupport::readFile(tasksPath()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Program, LostOutput,
    ::testing::Values(OutputCase{"HelpToAFullDisk",
                                 {"--help"},
                                 ">/dev/full",
                                 false,
                                 1,
                                 "quillet: write error: No space left on device\n"},
                      OutputCase{"VersionToAFullDisk",
                                 {"--version"},
                                 ">/dev/full",
                                 false,
                                 1,
                                 "quillet: write error: No space left on device\n"},
                      OutputCase{"HelpToAClosedOutput",
                                 {"--help"},
                                 ">&-",
                                 false,
                                 1,
                                 "quillet: write error: Bad file descriptor\n"},
                      OutputCase{"DueTasksToAFullDisk",
                                 {},
                                 ">/dev/full",
                                 true,
                                 1,
                                 "quillet: write error: No space left on device\n"},
                      OutputCase{"DueTasksToAClosedOutput",
                                 {},
                                 ">&-",
                                 true,
                                 1,
                                 "quillet: write error: Bad file descriptor\n"},
                      OutputCase{"NothingDueToAClosedOutput", {}, ">&-", false, 0, ""},
                      OutputCase{"HelpToTheNullDevice", {"--help"}, ">/dev/null", false, 0, ""}),
    [](const auto &info) { return std::string(info.param.name); });

// Where a later start meets the running copy: always in a folder of this
// user's alone, under a name that fits, found from any spelling of the
// task folder.
struct MeetingCase {
    const char *name;
    enum { Private, LongPath, OpenToOthers, AnotherUsers, Unset } runtime;
    bool bindMount;  // the later start in a bind mount of the task folder
};

void PrintTo(const MeetingCase &c, std::ostream *os) { *os << c.name; }

class MeetingPlace : public Program, public ::testing::WithParamInterface<MeetingCase> { };

TEST_P(MeetingPlace, ALaterStartHandsOverToTheRunningCopy)
{
    const MeetingCase &c = GetParam();
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    env.insert("TMPDIR", temp.path());
    switch (c.runtime) {
    case MeetingCase::Private: break;
    case MeetingCase::LongPath: {
        // Far past the 108 bytes a socket's name may have.
        const QString deep = runtime.path() + '/' + QString(150, 'r');
        ASSERT_TRUE(QDir().mkpath(deep));
        QFile::setPermissions(deep, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert("XDG_RUNTIME_DIR", deep);
        break;
    }
    case MeetingCase::OpenToOthers: {
        const QByteArray folder = QFile::encodeName(runtime.path() + "/quillet");
        ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
        ASSERT_EQ(::chmod(folder.constData(), 0777), 0);
        break;
    }
    case MeetingCase::AnotherUsers:
        if (::chown(QFile::encodeName(runtime.path()).constData(), 65534, 65534) != 0)
            GTEST_SKIP() << "cannot give a folder away without root";
        break;
    case MeetingCase::Unset: env.remove("XDG_RUNTIME_DIR"); break;
    }
    QStringList wrapper;
    QTemporaryDir mount;
    if (c.bindMount) {
        if (QStandardPaths::findExecutable("unshare").isEmpty() ||
            !runTool({"unshare", "-m", "true"}, env))
            GTEST_SKIP() << "no mount namespace for a bind mount here";
        ASSERT_TRUE(mount.isValid());
        wrapper = {"unshare",
                   "-m",
                   "sh",
                   "-c",
                   "mount --bind \"$0\" \"$1\" && cd \"$1\" && exec \"$2\" \"$3\"",
                   dir.path(),
                   mount.path()};
    }

    // A list kept in this folder: a first run would use the user's list.
    testsupport::writeFile(tasksPath(), "; Quillet\r\n[Tasks]\r\n");
    QProcess running;
    start(running, true, {"--show-all"});
    ASSERT_TRUE(waitForLock(running));
    QProcess later;
    EXPECT_TRUE(handsOver(later, wrapper))
        << later.exitCode() << " " << later.readAllStandardError().toStdString();
    EXPECT_EQ(running.state(), QProcess::Running);
    stop(running);

    // Nothing in the shared temporary folder but a folder of our own.
    for (const QFileInfo &entry : QDir(temp.path())
                                      .entryInfoList(QDir::AllEntries | QDir::System |
                                                     QDir::NoDotAndDotDot | QDir::Hidden)) {
        SCOPED_TRACE(entry.fileName().toStdString());
        EXPECT_TRUE(entry.isDir() && !entry.isSymLink());
        EXPECT_EQ(entry.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                         QFile::ReadOther | QFile::WriteOther | QFile::ExeOther),
                  QFile::Permissions());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Program, MeetingPlace,
    ::testing::Values(MeetingCase{"PrivateRuntimeFolder", MeetingCase::Private, false},
                      MeetingCase{"RuntimePathTooLongForASocket", MeetingCase::LongPath, false},
                      MeetingCase{"RuntimeFolderOpenToOthers", MeetingCase::OpenToOthers, false},
                      MeetingCase{"RuntimeFolderOfAnotherUser", MeetingCase::AnotherUsers, false},
                      MeetingCase{"NoRuntimeFolder", MeetingCase::Unset, false},
                      MeetingCase{"BindMountOfTheFolder", MeetingCase::Private, true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Program, AKilledCopyBlocksNoLaterStart)
{
    // GIVEN a copy killed outright once it listens: its socket stays behind
    // (a list kept in this folder: a first run would use the user's list)
    testsupport::writeFile(tasksPath(), "; Quillet\r\n[Tasks]\r\n");
    QProcess killed;
    start(killed, true, {"--show-all"});
    ASSERT_TRUE(waitForLock(killed));
    ::kill(pid_t(killed.processId()), SIGKILL);
    ASSERT_TRUE(killed.waitForFinished(3000));
    ASSERT_FALSE(QDir(runtime.path() + "/quillet").entryList({"copy-*"}, QDir::System).isEmpty());

    // WHEN the user starts again, THEN it runs
    QProcess next;
    start(next, true, {"--show-all"});
    EXPECT_TRUE(waitForLock(next)) << next.readAllStandardError().toStdString();

    // AND a third start hands over to it
    QProcess third;
    EXPECT_TRUE(handsOver(third)) << third.readAllStandardError().toStdString();
    EXPECT_EQ(next.state(), QProcess::Running);
    stop(next);
}

bool makeFifo(const QString &path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

// A process number that nothing runs under.
pid_t gonePid()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

// A lock naming a process of this machine that has ended.
bool plantGoneProcess(const QString &p)
{
    testsupport::writeFile(p, QByteArray::number(gonePid()) + "\nquillet-windows\n" +
                                  QSysInfo::machineHostName().toUtf8() + "\n");
    return true;
}

// What a power cut, a sync tool or another user leaves at the name the
// lock once had beside the file: never read, never waited on, never in
// the way.
struct PlantedCase {
    const char *name;
    std::function<bool(const QString &path)> plant;
    bool inSharedFolder;  // planted by another user of the folder's group
};

void PrintTo(const PlantedCase &c, std::ostream *os) { *os << c.name; }

class PlantedLock : public Program, public ::testing::WithParamInterface<PlantedCase> { };

TEST_P(PlantedLock, NeitherHoldsNorLocksOutAStart)
{
    const PlantedCase &c = GetParam();
    const QString lock = dir.filePath(".tasks.txt.lock");
    testsupport::writeFile(tasksPath(), taskFile({dueOn("Due", kFixedToday)}, {rule(0, true)}));
    ASSERT_TRUE(c.plant(lock));
    std::optional<testsupport::TestUser> user;
    if (c.inSharedFolder) {
        if (::geteuid() != 0)
            GTEST_SKIP() << "only root can make the users of a shared folder";
        user = testsupport::testUser("qtest-alice", {"qtest-staff"});
        const auto colleague = testsupport::testUser("qtest-bob", {"qtest-staff"});
        const auto staff = testsupport::testGroup("qtest-staff");
        ASSERT_TRUE(user && colleague && staff) << "useradd or groupadd failed";
        // GIVEN a folder shared as groups share them (root's, setgid, and
        // sticky: each member's files stay their own), the lock planted by
        // the colleague, and the user starting the program
        const testsupport::TestUser owner = *user;
        ASSERT_EQ(::chown(QFile::encodeName(dir.path()).constData(), 0, *staff), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 03770), 0);
        ASSERT_EQ(::chown(QFile::encodeName(tasksPath()).constData(), owner.uid, *staff), 0);
        ASSERT_EQ(::lchown(QFile::encodeName(lock).constData(), colleague->uid, *staff), 0);
        ASSERT_EQ(::chown(QFile::encodeName(runtime.path()).constData(), owner.uid, owner.gid), 0);
        env.insert("HOME", runtime.path());
        // Between fork and exec: system calls only.
        const std::array<gid_t, 2> groups{owner.gid, *staff};
        asUser = [uid = owner.uid, groups] {
            if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(groups[0]) != 0 ||
                ::setuid(uid) != 0)
                ::_exit(127);
        };
    }
    const QByteArray planted = whatIsAt(lock);

    // WHEN the user starts, THEN the list opens, and a later start hands
    // over to it
    QProcess running;
    start(running, true, {"--show-all"});
    ASSERT_TRUE(waitForLock(running)) << running.readAllStandardError().toStdString();
    if (user) {
        struct stat process { };
        const QByteArray proc = "/proc/" + QByteArray::number(running.processId());
        ASSERT_EQ(::stat(proc.constData(), &process), 0);
        ASSERT_EQ(process.st_uid, user->uid) << "the program runs as the user";
    }
    QProcess later;
    EXPECT_TRUE(handsOver(later)) << later.readAllStandardError().toStdString();
    EXPECT_EQ(running.state(), QProcess::Running);
    stop(running);

    // AND whatever stands there stays as it was
    EXPECT_EQ(whatIsAt(lock), planted);
}

INSTANTIATE_TEST_SUITE_P(
    Program, PlantedLock,
    ::testing::Values(PlantedCase{"NothingThere", [](const QString &) { return true; }, false},
                      PlantedCase{"Fifo", [](const QString &p) { return makeFifo(p); }, false},
                      PlantedCase{"LinkToDevZero",
                                  [](const QString &p) { return QFile::link("/dev/zero", p); },
                                  false},
                      PlantedCase{"EmptyAfterAPowerCut",
                                  [](const QString &p) {
                                      testsupport::writeFile(p, {});
                                      return true;
                                  },
                                  false},
                      PlantedCase{"NamesAGoneProcess", plantGoneProcess, false},
                      PlantedCase{"NamesAGoneProcessInASharedFolder", plantGoneProcess, true}),
    [](const auto &info) { return std::string(info.param.name); });

// The window settings are read only from a regular file: a FIFO would hold
// the program (and the task file's lock) until someone writes to it.
struct SettingsCase {
    const char *name;
    std::function<bool(const QString &conf, const QString &scratch)> plant;
    bool fifo;  // a reader waiting on it would be the program
};

void PrintTo(const SettingsCase &c, std::ostream *os) { *os << c.name; }

class OddSettingsFile : public Program, public ::testing::WithParamInterface<SettingsCase> { };

TEST_P(OddSettingsFile, NeverHoldsTheProgram)
{
    const SettingsCase &c = GetParam();
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    ASSERT_TRUE(QDir(config.path()).mkdir("quillet"));
    const QString conf = config.path() + "/quillet/quillet.conf";
    ASSERT_TRUE(c.plant(conf, config.path()));
    env.insert("XDG_CONFIG_HOME", config.path());
    testsupport::writeFile(tasksPath(), taskFile({dueOn("Due", kFixedToday)}, {rule(0, true)}));

    QProcess running;
    start(running, true, {"--show-all"});
    ASSERT_TRUE(waitForLock(running));
    QProcess later;
    EXPECT_TRUE(handsOver(later)) << "the running copy answers";
    if (c.fifo) {
        // Opening for writing without blocking succeeds only when a reader
        // waits on the other end.
        QElapsedTimer t;
        t.start();
        bool readerWaits = false;
        while (!readerWaits && t.elapsed() < 2000) {
            const int fd = ::open(QFile::encodeName(conf).constData(), O_WRONLY | O_NONBLOCK);
            readerWaits = fd >= 0;
            if (fd >= 0)
                ::close(fd);
            QThread::msleep(50);
        }
        EXPECT_FALSE(readerWaits) << "the program waits on the FIFO";
    }
    EXPECT_EQ(running.state(), QProcess::Running);
    stop(running);
}

INSTANTIATE_TEST_SUITE_P(
    Program, OddSettingsFile,
    ::testing::Values(
        SettingsCase{"Fifo", [](const QString &conf, const QString &) { return makeFifo(conf); },
                     true},
        SettingsCase{"LinkToAFifo",
                     [](const QString &conf, const QString &scratch) {
                         return makeFifo(scratch + "/fifo") && QFile::link(scratch + "/fifo", conf);
                     },
                     true},
        SettingsCase{"Folder",
                     [](const QString &conf, const QString &) { return QDir().mkdir(conf); },
                     false}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
