// quillet --remind as a whole program, on a private session bus with a
// stand-in notification service, on the real clock: tasks fall due a few
// seconds after the test writes them.
#include "remind/printers.h"
#include "remind/sessionbus.h"
#include "store/ordering.h"
#include "store/tables.h"
#include "store/taskfile.h"
#include "store/taskidentity.h"
#include "support/taskfilebuilder.h"
#include "support/testsupport.h"
#include "support/testusers.h"

#include <QDir>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using testsupport::rule;
using testsupport::TaskLines;

constexpr int kGuardMs = 20000;  // for anything the program should do in a second or two

// A task due `seconds` from now, in whole seconds as the file holds them.
TaskLines dueIn(int seconds, const QString &title, const QString &deleted = "N")
{
    const QDateTime when = QDateTime::currentDateTime().addSecs(seconds);
    const QDate d = when.date();
    const QTime t = when.time();
    return {title,    "Me",       d.day(),    d.month(), d.year(),
            t.hour(), t.minute(), t.second(), deleted,   {}};
}

QDateTime momentOf(const TaskLines &t)
{
    return QDateTime(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second));
}

QString bodyOf(const TaskLines &t)
{
    qint16 day = qint16(t.day), month = qint16(t.month), year = qint16(t.year);
    return QStringLiteral("for %1, due %2 at %3")
        .arg(t.forWhom, Module1::formatDate(day, month, year),
             Module1::longTimeText(t.hour, t.minute, t.second));
}

class RemindProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable("dbus-daemon").isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed";
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(runtime.isValid());
        QString why;
        ASSERT_TRUE(bus.start(&why)) << why.toStdString();
        service = std::make_unique<testsupport::FakeNotificationService>(bus.address());
        ASSERT_TRUE(service->registered());
        env = QProcessEnvironment::systemEnvironment();
        for (const char *name :
             {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LD_PRELOAD", "LC_ALL", "LC_TIME"})
            env.remove(name);
        env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        // The user's own list, for a folder that has none.
        env.insert("XDG_DATA_HOME", dataHome.path());
        env.insert("XDG_STATE_HOME", dataHome.filePath("state"));
        env.insert("LANG", "en_US.UTF-8");
    }

    void TearDown() override
    {
        for (QProcess *p : {&reminder, &other}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(3000);
            }
        }
    }

    void start(QProcess &p, const QString &folder, const QStringList &more = {})
    {
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(folder);
        p.start(QStringLiteral(QUILLET_BINARY), QStringList{"--remind"} + more);
        ASSERT_TRUE(p.waitForStarted(5000));
    }

    // Running, with its file read and watched: it asked the service what
    // it can do just before.
    bool ready(int reminders = 1)
    {
        return QTest::qWaitFor([&] { return service->capabilityCalls() >= reminders; }, kGuardMs);
    }

    static bool ended(QProcess &p)
    {
        return p.state() == QProcess::NotRunning || p.waitForFinished(kGuardMs);
    }

    void writeTasks(const std::vector<TaskLines> &tasks,
                    const std::vector<testsupport::RuleLines> &rules = {rule(0, true)})
    {
        testsupport::writeFile(tasksPath(), testsupport::taskFile(tasks, rules));
    }

    QString tasksPath() const { return dir.filePath("tasks.txt"); }

    // Lets the time run on to well past a moment.
    static void waitPast(const QDateTime &moment)
    {
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return QDateTime::currentDateTime() > moment.addSecs(2); }, kGuardMs));
    }

public:  // set up differently by table rows
    QTemporaryDir dir;
    QTemporaryDir runtime;
    QTemporaryDir dataHome;
    testsupport::PrivateBus bus;
    std::unique_ptr<testsupport::FakeNotificationService> service;
    QProcessEnvironment env;
    QProcess reminder;
    QProcess other;
};

TEST_F(RemindProgram, ATaskIsNotifiedWhenItFallsDueOnceAndARecycledOneNever)
{
    // No rules, as a first run writes the file.
    const TaskLines rent = dueIn(3, "Pay the rent");
    writeTasks({rent, dueIn(3, "Old bill", "Y"), dueIn(-60, "Passed before the start")}, {});
    const QByteArray before = testsupport::readFile(tasksPath());

    start(reminder, dir.path());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !service->shown().empty(); }, kGuardMs))
        << reminder.readAllStandardError().toStdString();
    EXPECT_GE(QDateTime::currentDateTime(), momentOf(rent));
    // Well past the moment: still one.
    waitPast(momentOf(rent));
    const std::vector<testsupport::Shown> shown = service->shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].appName, "Quillet");
    EXPECT_EQ(shown[0].icon, "quillet");
    EXPECT_EQ(shown[0].summary, "Pay the rent");
    EXPECT_EQ(shown[0].body, bodyOf(rent));
    EXPECT_EQ(shown[0].actions,
              (QStringList{"default", "Open", "snooze", "Snooze", "tomorrow", "Tomorrow"}));
    EXPECT_EQ(shown[0].hints.value("desktop-entry").toString(), "quillet");
    EXPECT_EQ(shown[0].hints.value("urgency").value<uchar>(), 1);

    // It stays for the session, and never wrote anything: not the file,
    // not a lock beside it.
    EXPECT_EQ(reminder.state(), QProcess::Running);
    EXPECT_EQ(testsupport::readFile(tasksPath()), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"tasks.txt"});
}

// The list is the one --list and --add use, not whatever the folder holds.
TEST_F(RemindProgram, RemindsOfTheListEveryOtherCommandUses)
{
    struct Row {
        const char *name;
        QString list;         // where the task is
        QStringList options;  // besides --remind, started in dir
    } rows[] = {
        {"a folder without tasks.txt: the user's list", dataHome.filePath("quillet/tasks.txt"), {}},
        {"--file PATH",
         dir.filePath("lists/plans.txt"),
         {"--file", dir.filePath("lists/plans.txt")}},
        {"--file FOLDER, without a slash",
         dir.filePath("lists/tasks.txt"),
         {"--file", dir.filePath("lists")}},
    };
    ASSERT_TRUE(QDir().mkpath(dir.filePath("lists")));
    ASSERT_TRUE(QDir().mkpath(dataHome.filePath("quillet")));
    int reminders = 0;
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const TaskLines task = dueIn(3, QStringLiteral("Due in %1").arg(r.name));
        testsupport::writeFile(r.list, testsupport::taskFile({task}, {rule(0, true)}));
        auto p = std::make_unique<QProcess>();
        start(*p, dir.path(), r.options);
        ASSERT_TRUE(ready(++reminders)) << p->readAllStandardError().toStdString();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                const auto shown = service->shown();
                return std::any_of(shown.begin(), shown.end(),
                                   [&](const auto &s) { return s.summary == task.title; });
            },
            kGuardMs))
            << p->readAllStandardError().toStdString();
        EXPECT_EQ(p->state(), QProcess::Running);
        p->kill();
        p->waitForFinished(3000);
        QFile::remove(r.list);
    }
}

TEST_F(RemindProgram, FollowsTheFileAsTheListSavesIt)
{
    writeTasks({dueIn(4, "Rent")});
    start(reminder, dir.path());
    ASSERT_TRUE(ready());

    // GIVEN a save as the main window makes it: Rent recycled, Call added
    const TaskLines call = dueIn(4, "Call the bank");
    QSaveFile save(tasksPath());
    ASSERT_TRUE(save.open(QIODevice::WriteOnly));
    save.write(testsupport::taskFile({dueIn(4, "Rent", "Y"), call}, {rule(0, true)}));
    ASSERT_TRUE(save.commit());
    const QByteArray after = testsupport::readFile(tasksPath());

    // THEN only Call comes, once
    ASSERT_TRUE(QTest::qWaitFor([&] { return !service->shown().empty(); }, kGuardMs))
        << reminder.readAllStandardError().toStdString();
    waitPast(momentOf(call));
    ASSERT_EQ(service->shown().size(), 1u);
    EXPECT_EQ(service->shown()[0].summary, "Call the bank");
    EXPECT_EQ(testsupport::readFile(tasksPath()), after);
}

TEST_F(RemindProgram, OneReminderPerFolderWhateverItIsCalled)
{
    writeTasks({});
    start(reminder, dir.path());
    ASSERT_TRUE(ready());

    // The same folder through a link to it: ends at once, and not as a failure.
    QTemporaryDir links;
    ASSERT_TRUE(QFile::link(dir.path(), links.filePath("same")));
    start(other, links.filePath("same"));
    ASSERT_TRUE(ended(other));
    EXPECT_EQ(other.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(other.exitCode(), 0);
    EXPECT_TRUE(other.readAllStandardError().contains("run already"));
    EXPECT_EQ(reminder.state(), QProcess::Running);

    // Another folder has its own.
    other.close();
    QTemporaryDir elsewhere;
    start(other, elsewhere.path());
    EXPECT_TRUE(ready(2));
    EXPECT_EQ(other.state(), QProcess::Running);
}

TEST_F(RemindProgram, SaysWhyItCannotWorkAndEndsWithStatusOne)
{
    struct Row {
        const char *name;
        std::function<void(RemindProgram &)> setUp;
        const char *said;
    } rows[] = {
        {"no session bus",
         [](RemindProgram &t) {
             t.env.remove("DBUS_SESSION_BUS_ADDRESS");
             t.env.remove("DISPLAY");
         },
         "no session bus"},
        {"a bus address that leads nowhere",
         [](RemindProgram &t) {
             t.env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + t.dir.filePath("no-bus"));
         },
         "no session bus"},
        {"no notification service", [](RemindProgram &t) { t.service.reset(); },
         "no notification service"},
    };
    const QProcessEnvironment usual = env;
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        env = usual;
        r.setUp(*this);
        QProcess p;
        start(p, dir.path());
        ASSERT_TRUE(ended(p));
        EXPECT_EQ(p.exitCode(), 1);
        const QByteArray said = p.readAllStandardError();
        EXPECT_TRUE(said.startsWith("quillet: ")) << said.toStdString();
        EXPECT_TRUE(said.contains(r.said)) << said.toStdString();
    }
}

TEST_F(RemindProgram, EndsWithStatusOneWhenItsFolderIsRemovedOrMovedAway)
{
    struct Row {
        const char *name;
        std::function<bool(const QString &folder, const QString &elsewhere)> act;
        const char *said;
    } rows[] = {
        {"removed",
         [](const QString &folder, const QString &) { return QDir(folder).removeRecursively(); },
         "was removed"},
        {"renamed",
         [](const QString &folder, const QString &) {
             return QDir().rename(folder, folder + " (old)");
         },
         "was renamed or moved"},
        // As a file manager's "Move to Trash" does.
        {"moved into another folder",
         [](const QString &folder, const QString &elsewhere) {
             return QDir().rename(folder, elsewhere + "/list");
         },
         "was renamed or moved"},
    };
    QTemporaryDir trash;
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const QString folder = dir.filePath(QString("list %1").arg(r.name));
        ASSERT_TRUE(QDir().mkpath(folder));
        testsupport::writeFile(folder + "/tasks.txt",
                               testsupport::taskFile({dueIn(3600, "Rent")}, {rule(0, true)}));
        QProcess p;
        const int before = service->capabilityCalls();
        start(p, folder);
        ASSERT_TRUE(QTest::qWaitFor([&] { return service->capabilityCalls() > before; }, kGuardMs));
        ASSERT_TRUE(r.act(folder, trash.path()));
        ASSERT_TRUE(ended(p));
        EXPECT_EQ(p.exitCode(), 1);
        const QByteArray said = p.readAllStandardError();
        EXPECT_TRUE(said.contains(r.said)) << said.toStdString();
        QDir(trash.path() + "/list").removeRecursively();
    }
}

TEST_F(RemindProgram, EndsWithTheSession)
{
    start(reminder, dir.path());
    ASSERT_TRUE(ready());
    service.reset();
    bus.stop();
    EXPECT_TRUE(ended(reminder));
}

// Each action withdraws its bubble (a service such as dunst keeps it
// otherwise); a task put off to a moment that passed while no reminder ran
// comes at once at the next start, late and so urgent.
TEST_F(RemindProgram, AnActedOnNotificationIsWithdrawnAndALateOneIsUrgent)
{
    QTemporaryDir state;
    env.insert("XDG_STATE_HOME", state.path());
    // The bill's moment passed before the start: only a put-off brings it.
    writeTasks({dueIn(2, "Pay the rent"), dueIn(-120, "Old bill")}, {});
    ASSERT_TRUE(Module1::loadTasks(tasksPath()).ok());
    const int bill = Module1::tasks[0].title == "Old bill" ? 0 : 1;
    const QByteArray billKey = Module1::taskKeys()[size_t(bill)];
    struct stat folder { };
    ASSERT_EQ(::stat(QFile::encodeName(dir.path()).constData(), &folder), 0);
    const QString putOff = state.path() + QStringLiteral("/quillet/put-off-d%1_i%2")
                                              .arg(quint64(folder.st_dev))
                                              .arg(quint64(folder.st_ino));
    struct Row {
        const char *action;
        const char *title;
        bool putOffBefore;  // to a moment that passed while no reminder ran
        uchar urgency;
    } const rows[] = {
        {"snooze", "Pay the rent", false, 1},
        {"tomorrow", "Old bill", true, 2},
        {"default", "Old bill", true, 2},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.action);
        if (r.putOffBefore) {
            ASSERT_TRUE(QDir().mkpath(state.path() + "/quillet"));
            const qint64 passed = QDateTime::currentMSecsSinceEpoch() - 1000;
            testsupport::writeFile(putOff, QByteArray::number(passed) + ' ' + billKey + '\n');
        }
        const size_t before = service->shown().size();
        start(reminder, dir.path());
        ASSERT_TRUE(QTest::qWaitFor([&] { return service->shown().size() > before; }, kGuardMs))
            << reminder.readAllStandardError().toStdString();
        const testsupport::Shown shown = service->shown().back();
        EXPECT_EQ(shown.summary, r.title);
        EXPECT_EQ(shown.hints.value("urgency").value<uchar>(), r.urgency);
        // Heard once its match rules are on the bus: pressed until withdrawn.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                service->invoke(shown.id, r.action);
                const std::vector<uint> closed = service->closeCalls();
                return std::find(closed.begin(), closed.end(), shown.id) != closed.end();
            },
            kGuardMs));
        reminder.kill();
        ASSERT_TRUE(ended(reminder));
    }
}

// What stands at the put-off file's name (in the user's state folder,
// named by the list's folder) holds nothing up and is not written through:
// the task is notified, Snooze says it could not keep it.
struct PutOffCase {
    const char *name;
    // Plants at `at`; false: cannot here (not root).
    std::function<bool(const QString &at, const QString &victim)> plant;
};

void PrintTo(const PutOffCase &c, std::ostream *os) { *os << c.name; }

class PlantedPutOff : public RemindProgram, public ::testing::WithParamInterface<PutOffCase> { };

TEST_P(PlantedPutOff, HoldsNothingUpAndIsNotWrittenThrough)
{
    QTemporaryDir state;
    ASSERT_TRUE(QDir().mkpath(state.path() + "/quillet"));
    env.insert("XDG_STATE_HOME", state.path());
    struct stat folder { };
    ASSERT_EQ(::stat(QFile::encodeName(dir.path()).constData(), &folder), 0);
    const QString at = state.path() + QStringLiteral("/quillet/put-off-d%1_i%2")
                                          .arg(quint64(folder.st_dev))
                                          .arg(quint64(folder.st_ino));
    const QString victim = state.path() + "/victim";
    testsupport::writeFile(victim, "victim's\n");
    if (!GetParam().plant(at, victim))
        GTEST_SKIP() << "only root can plant this";
    struct stat planted { };
    ASSERT_EQ(::lstat(QFile::encodeName(at).constData(), &planted), 0);

    writeTasks({dueIn(2, "Pay the rent")}, {});
    start(reminder, dir.path());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !service->shown().empty(); }, kGuardMs))
        << "no notification: " << reminder.readAllStandardError().toStdString();
    service->invoke(service->shown()[0].id, "snooze");
    QByteArray said;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            reminder.waitForReadyRead(10);
            said += reminder.readAllStandardError();
            return said.contains("cannot keep what was put off");
        },
        kGuardMs))
        << said.toStdString();
    EXPECT_EQ(reminder.state(), QProcess::Running);
    EXPECT_EQ(testsupport::readFile(victim), QByteArray("victim's\n"));
    struct stat now { };
    ASSERT_EQ(::lstat(QFile::encodeName(at).constData(), &now), 0);
    EXPECT_EQ(now.st_mode, planted.st_mode) << "what stood there stays";
}

INSTANTIATE_TEST_SUITE_P(
    RemindProgram, PlantedPutOff,
    ::testing::Values(PutOffCase{"Fifo",
                                 [](const QString &at, const QString &) {
                                     return ::mkfifo(QFile::encodeName(at).constData(), 0600) == 0;
                                 }},
                      PutOffCase{"AnotherUsersLink",
                                 [](const QString &at, const QString &victim) {
                                     const auto other = testsupport::testUser("quillet-planter");
                                     return ::geteuid() == 0 && other && QFile::link(victim, at) &&
                                            ::lchown(QFile::encodeName(at).constData(), other->uid,
                                                     other->gid) == 0;
                                 }}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
