// The reminder's links to the system: the alarm, the file watch and the
// desktop's notification service (a stand-in on a private bus).
#include "remind/desktopnotifications.h"
#include "remind/printers.h"
#include "remind/realtimealarm.h"
#include "remind/sessionbus.h"
#include "store/folderwatch.h"
#include "support/testsupport.h"

#include <QCoreApplication>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>

namespace {

using testsupport::readFile;
using testsupport::writeFile;

constexpr int kGuardMs = 5000;

TEST(RealtimeAlarm, RingsAtItsMomentNotBefore)
{
    remind::RealtimeAlarm alarm;
    ASSERT_TRUE(alarm.isValid()) << alarm.errorString().toStdString();
    QSignalSpy rang(&alarm, &remind::RealtimeAlarm::rang);

    // Set twice: the second moment replaces the first.
    alarm.setAt(QDateTime::currentDateTime().addMSecs(150));
    const QDateTime moment = QDateTime::currentDateTime().addMSecs(400);
    alarm.setAt(moment);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rang.count() > 0; }, kGuardMs));
    EXPECT_GE(QDateTime::currentDateTime(), moment);

    // A moment already past rings at once.
    alarm.setAt(QDateTime::currentDateTime().addSecs(-60));
    EXPECT_TRUE(QTest::qWaitFor([&] { return rang.count() > 1; }, kGuardMs));
}

class FolderWatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir(dir.path()).mkdir("list"));
        ASSERT_TRUE(QDir(dir.path()).mkdir("elsewhere"));
    }

public:
    // A change was seen and is waited out: a signal is still to come.
    static bool settling(const Module1::FolderWatch &watch)
    {
        const auto *timer = watch.findChild<QTimer *>(QStringLiteral("settle"));
        return timer && timer->isActive();
    }

    // Reached from the table's rows.
    QString list(const QString &name = "tasks.txt") const { return dir.filePath("list/" + name); }
    QString elsewhere(const QString &name) const { return dir.filePath("elsewhere/" + name); }

    // A new file renamed over the old one, as every save does.
    static void replace(const QString &path, const QByteArray &bytes)
    {
        writeFile(path + ".new", bytes);
        ASSERT_EQ(std::rename(QFile::encodeName(path + ".new").constData(),
                              QFile::encodeName(path).constData()),
                  0);
    }

protected:
    QTemporaryDir dir;
};

TEST_F(FolderWatchTest, EveryChangeOfTheFileCountsAndNoOtherFile)
{
    struct Row {
        const char *name;
        std::function<void(FolderWatchTest &)> before, change;
        bool counts;
    };
    const auto plainFile = [](FolderWatchTest &t) { writeFile(t.list(), "a\r\n"); };
    const auto linked = [](FolderWatchTest &t) {
        writeFile(t.elsewhere("real.txt"), "a\r\n");
        QFile::link(t.elsewhere("real.txt"), t.list());
    };
    const Row rows[] = {
        {"replaced by rename", plainFile, [](FolderWatchTest &t) { replace(t.list(), "b\r\n"); },
         true},
        {"written in place", plainFile,
         [](FolderWatchTest &t) {
             QFile f(t.list());
             ASSERT_TRUE(f.open(QIODevice::Append));
             f.write("b\r\n");
         },
         true},
        {"removed", plainFile, [](FolderWatchTest &t) { QFile::remove(t.list()); }, true},
        {"created", [](FolderWatchTest &) {}, plainFile, true},
        {"made readable", plainFile,
         [](FolderWatchTest &t) { QFile::setPermissions(t.list(), QFile::ReadOwner); }, true},
        {"another file of the folder", plainFile,
         [](FolderWatchTest &t) { writeFile(t.list("notes.txt"), "x"); }, false},
        {"the lock beside it", plainFile,
         [](FolderWatchTest &t) { writeFile(t.list(".tasks.txt.lock"), "1"); }, false},
        {"the file a link points to, replaced", linked,
         [](FolderWatchTest &t) { replace(t.elsewhere("real.txt"), "b\r\n"); }, true},
        {"the link pointed elsewhere", linked,
         [](FolderWatchTest &t) {
             writeFile(t.elsewhere("other.txt"), "b\r\n");
             QFile::remove(t.list());
             QFile::link(t.elsewhere("other.txt"), t.list());
         },
         true},
        {"another file beside the link's target", linked,
         [](FolderWatchTest &t) { writeFile(t.elsewhere("notes.txt"), "x"); }, false},
        // Each name counts in its own folder only.
        {"a file named as the link's target beside the link", linked,
         [](FolderWatchTest &t) { writeFile(t.list("real.txt"), "x"); }, false},
        {"a file named as the list beside the link's target", linked,
         [](FolderWatchTest &t) { writeFile(t.elsewhere("tasks.txt"), "x"); }, false},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        for (const QString &folder : {dir.filePath("list"), dir.filePath("elsewhere")}) {
            for (const QString &name :
                 QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System))
                QFile::remove(folder + "/" + name);
        }
        r.before(*this);
        Module1::FolderWatch watch(dir.filePath("list"), "tasks.txt");
        ASSERT_TRUE(watch.isValid()) << watch.errorString().toStdString();
        QSignalSpy changed(&watch, &Module1::FolderWatch::changed);
        r.change(*this);
        if (r.counts) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return changed.count() > 0; }, kGuardMs));
        }
        // Every event of the change is read now: one change, one signal,
        // however many events it made, and none to come.
        QCoreApplication::processEvents();
        EXPECT_FALSE(settling(watch));
        EXPECT_EQ(changed.count(), r.counts ? 1 : 0);
    }
}

TEST_F(FolderWatchTest, AFileWrittenOnAndOnIsStillToldOfWhileItIsWritten)
{
    writeFile(list(), "a\r\n");
    Module1::FolderWatch watch(dir.filePath("list"), "tasks.txt");
    QSignalSpy changed(&watch, &Module1::FolderWatch::changed);
    // A writer that never pauses as long as the watch waits for quiet.
    QTimer writer;
    writer.setInterval(20);
    QObject::connect(&writer, &QTimer::timeout, [&] {
        QFile f(list());
        if (f.open(QIODevice::Append))
            f.write("b");
    });
    writer.start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return changed.count() > 0; }, kGuardMs));
    EXPECT_TRUE(writer.isActive());
}

TEST_F(FolderWatchTest, FollowsTheFolderWhenRenamedAndSaysWhenItIsRemoved)
{
    writeFile(list(), "a\r\n");
    Module1::FolderWatch watch(dir.filePath("list"), "tasks.txt");
    QSignalSpy changed(&watch, &Module1::FolderWatch::changed);
    QSignalSpy gone(&watch, &Module1::FolderWatch::folderGone);
    QSignalSpy moved(&watch, &Module1::FolderWatch::folderMoved);

    ASSERT_TRUE(QDir(dir.path()).rename("list", "renamed"));
    replace(dir.filePath("renamed/tasks.txt"), "b\r\n");
    EXPECT_TRUE(QTest::qWaitFor([&] { return changed.count() > 0; }, kGuardMs));
    EXPECT_EQ(moved.count(), 1);

    ASSERT_TRUE(QDir(dir.filePath("renamed")).removeRecursively());
    EXPECT_TRUE(QTest::qWaitFor([&] { return gone.count() > 0; }, kGuardMs));
}

class NotificationsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable("dbus-daemon").isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed";
        QString why;
        ASSERT_TRUE(bus.start(&why)) << why.toStdString();
        connection = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(bus.address(), "reminder-under-test"));
        ASSERT_TRUE(connection->isConnected());
    }

    void TearDown() override
    {
        connection.reset();
        QDBusConnection::disconnectFromBus("reminder-under-test");
    }

    testsupport::PrivateBus bus;
    std::unique_ptr<QDBusConnection> connection;
};

// Started, and the service has answered what it can do.
bool startedOn(remind::DesktopNotifications &notifications)
{
    QSignalSpy ready(&notifications, &remind::DesktopNotifications::ready);
    notifications.start();
    return QTest::qWaitFor([&] { return ready.count() > 0; }, kGuardMs);
}

TEST_F(NotificationsTest, SendsTheTaskWithItsUrgencyAndActionsAndKeepsItUntilTheUserActs)
{
    struct Row {
        QStringList capabilities;
        bool critical;
        QString body;
        QVariantMap hints;
    } rows[] = {
        {{"actions", "body"},
         false,
         "for Ann & <Bo>\nline",
         {{"desktop-entry", "quillet"}, {"urgency", QVariant::fromValue(uchar(1))}}},
        // Where the service reads markup, the task's own text stays text.
        {{"actions", "body", "body-markup"},
         true,
         "for Ann &amp; &lt;Bo&gt;\nline",
         {{"desktop-entry", "quillet"}, {"urgency", QVariant::fromValue(uchar(2))}}},
        // Where it keeps notifications, ours stay until the user acts.
        {{"actions", "body", "persistence"},
         false,
         "for Ann & <Bo>\nline",
         {{"desktop-entry", "quillet"},
          {"urgency", QVariant::fromValue(uchar(1))},
          {"resident", true}}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.capabilities.join(",").toStdString());
        testsupport::FakeNotificationService service(bus.address(), r.capabilities);
        ASSERT_TRUE(service.registered());
        remind::DesktopNotifications notifications(*connection);
        ASSERT_TRUE(startedOn(notifications));
        notifications.send({"Pay <the> rent", "for Ann & <Bo>\nline", r.critical, "k:0", false});
        ASSERT_TRUE(QTest::qWaitFor([&] { return !service.shown().empty(); }, kGuardMs));
        const testsupport::Shown s = service.shown().front();
        EXPECT_EQ(s.appName, "Quillet");
        EXPECT_EQ(s.replacesId, 0u);
        EXPECT_EQ(s.icon, "quillet");
        EXPECT_EQ(s.summary, "Pay <the> rent");
        EXPECT_EQ(s.body, r.body);
        EXPECT_EQ(s.actions,
                  (QStringList{"default", "Open", "snooze", "Snooze", "tomorrow", "Tomorrow"}));
        EXPECT_EQ(s.hints, r.hints);
        EXPECT_EQ(s.timeout, 0);  // never expires
    }
}

TEST_F(NotificationsTest, ItsOwnNotificationsOpenTheirTaskOrPutItOffAndAreWithdrawn)
{
    testsupport::FakeNotificationService service(bus.address());
    remind::DesktopNotifications notifications(*connection);
    ASSERT_TRUE(startedOn(notifications));
    QSignalSpy open(&notifications, &remind::DesktopNotifications::openRequested);
    QSignalSpy later(&notifications, &remind::DesktopNotifications::laterRequested);
    // Shown, with the id the service gave it.
    const auto show = [&](const remind::Notice &notice) -> std::optional<uint> {
        const size_t before = service.shown().size();
        notifications.send(notice);
        if (!QTest::qWaitFor([&] { return service.shown().size() > before; }, kGuardMs))
            return std::nullopt;
        return service.shown()[before].id;
    };
    // The client hears the service once its match rules are on the bus.
    const std::optional<uint> probe = show({"Probe", "", false, "probe:0", false});
    ASSERT_TRUE(probe);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            service.invoke(*probe, "default", "probe");
            return !open.isEmpty();
        },
        kGuardMs));
    // What the service says comes in order: once a later notification's
    // Open is in and it is closed, all that the row brought is in too.
    const auto settle = [&] {
        const std::optional<uint> end = show({"End", "", false, "end:0", false});
        if (!end)
            return false;
        service.invoke(*end, "default", "end");
        return QTest::qWaitFor(
            [&] {
                const std::vector<uint> closed = service.closeCalls();
                return !open.isEmpty() && open.last().at(1).toString() == "end" &&
                       std::find(closed.begin(), closed.end(), *end) != closed.end();
            },
            kGuardMs);
    };
    ASSERT_TRUE(settle());

    using Later = remind::DesktopNotifications::Later;
    const remind::Notice rent{"Rent", "for Me", false, "rent:0", false};
    const remind::Notice count{"2 more tasks due", {}, false, {}, true};
    struct Row {
        const char *name;
        remind::Notice notice;
        QString action, token;
        std::optional<QByteArray> opens;
        std::optional<Later> putOff;
        bool withdrawn;
        bool foreign = false;  // another program's notification
    } rows[] = {
        {"open", rent, "default", "", "rent:0", {}, true},
        {"open with a token", rent, "default", "token-1", "rent:0", {}, true},
        {"open the whole list", count, "default", "", "", {}, true},
        {"snooze", rent, "snooze", "", {}, Later::Snooze, true},
        {"tomorrow", rent, "tomorrow", "", {}, Later::Tomorrow, true},
        {"snooze on the count", count, "snooze", "", {}, {}, false},
        {"an action it never offered", rent, "something else", "", {}, {}, false},
        {"not ours", rent, "default", "", {}, {}, false, true},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const std::optional<uint> shown = show(r.notice);
        ASSERT_TRUE(shown);
        if (r.notice.group) {
            EXPECT_EQ(service.shown().back().actions, (QStringList{"default", "Show all"}));
        }
        const uint id = r.foreign ? *shown + 100 : *shown;
        const size_t closedBefore = service.closeCalls().size();
        open.clear();
        later.clear();
        service.invoke(id, r.action, r.token);
        ASSERT_TRUE(settle());
        ASSERT_EQ(open.count(), r.opens ? 2 : 1);
        if (r.opens) {
            EXPECT_EQ(open.first().at(0).toByteArray(), *r.opens);
            EXPECT_EQ(open.first().at(1).toString(), r.token);
        }
        ASSERT_EQ(later.count(), r.putOff ? 1 : 0);
        if (r.putOff) {
            EXPECT_EQ(later.first().at(0).toByteArray(), "rent:0");
            EXPECT_EQ(later.first().at(1).value<Later>(), *r.putOff);
        }
        // Then only the end's own close.
        const std::vector<uint> closed = service.closeCalls();
        const std::vector<uint> rowClosed(closed.begin() + qsizetype(closedBefore),
                                          closed.end() - 1);
        EXPECT_EQ(rowClosed, r.withdrawn ? std::vector<uint>{id} : std::vector<uint>{});
    }

    // Once closed it is no longer ours: the id may come back for another.
    const std::optional<uint> call = show({"Call", "for Me", false, "call:0", false});
    ASSERT_TRUE(call);
    open.clear();
    service.close(*call);
    service.invoke(*call, "default");
    ASSERT_TRUE(settle());
    EXPECT_EQ(open.count(), 1);
    EXPECT_EQ(open.first().at(1).toString(), "end");
}

// The service may tell of a click before the reply that names the id is
// read (QtDBus does not keep the two in order under load): it still counts.
TEST_F(NotificationsTest, WhatTheServiceSaysBeforeItsReplyIsHeardInOrder)
{
    struct Row {
        const char *name;
        testsupport::SaidFirst said;
        int opens, putOff;
        QString token;
        bool clickedLater;  // and then clicked as usual
    } const rows[] = {
        {"opened", {"default", "", false}, 1, 0, "", false},
        {"opened with a token", {"default", "t-1", false}, 1, 0, "t-1", false},
        {"snoozed", {"snooze", "", false}, 0, 1, "", false},
        {"closed, then clicked: no longer ours", {"", "", true}, 0, 0, "", true},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        testsupport::FakeNotificationService service(bus.address());
        remind::DesktopNotifications notifications(*connection);
        ASSERT_TRUE(startedOn(notifications));
        QSignalSpy open(&notifications, &remind::DesktopNotifications::openRequested);
        QSignalSpy later(&notifications, &remind::DesktopNotifications::laterRequested);
        service.sayFirst(r.said);
        notifications.send({"Rent", "for Me", false, "rent:0", false});
        ASSERT_TRUE(QTest::qWaitFor([&] { return !service.shown().empty(); }, kGuardMs));
        const uint id = service.shown().front().id;
        if (r.clickedLater)
            service.invoke(id, "default");
        // Then one more, clicked as usual: its Open is the last to come.
        notifications.send({"End", "", false, "end:0", false});
        ASSERT_TRUE(QTest::qWaitFor([&] { return service.shown().size() == 2; }, kGuardMs));
        const uint end = service.shown().back().id;
        service.invoke(end, "default");
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return !open.isEmpty() && open.last().at(0).toByteArray() == "end:0"; },
            kGuardMs));
        ASSERT_EQ(open.count() - 1, r.opens);
        if (r.opens) {
            EXPECT_EQ(open.first().at(0).toByteArray(), "rent:0");
            EXPECT_EQ(open.first().at(1).toString(), r.token);
        }
        EXPECT_EQ(later.count(), r.putOff);
    }
}

// A task's notice that waited for the service is urgent once it is late;
// the count of the rest never is.
TEST_F(NotificationsTest, ANoticeHeldBackPastAMinuteIsUrgent)
{
    struct Row {
        const char *name;
        remind::Notice notice;
        qint64 awayMs;
        uchar urgency;
    } const rows[] = {
        {"back within the minute", {"Rent", "", false, "rent:0", false}, 59'000, 1},
        {"back a minute later", {"Rent", "", false, "rent:0", false}, 60'000, 2},
        {"back an hour later", {"Rent", "", false, "rent:0", false}, 3'600'000, 2},
        {"urgent from the start", {"Rent", "", true, "rent:0", false}, 0, 2},
        {"the count", {"5 more tasks due", {}, false, {}, true}, 3'600'000, 1},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        qint64 clock = 1'800'000'000'000;
        auto service = std::make_unique<testsupport::FakeNotificationService>(bus.address());
        remind::DesktopNotifications notifications(*connection);
        notifications.setClock([&] { return clock; });
        ASSERT_TRUE(startedOn(notifications));
        QDBusServiceWatcher watch(QStringLiteral("org.freedesktop.Notifications"), *connection,
                                  QDBusServiceWatcher::WatchForUnregistration);
        QSignalSpy gone(&watch, &QDBusServiceWatcher::serviceUnregistered);
        service.reset();
        ASSERT_TRUE(QTest::qWaitFor([&] { return gone.count() > 0; }, kGuardMs));
        QCoreApplication::processEvents();
        notifications.send(r.notice);
        clock += r.awayMs;
        service = std::make_unique<testsupport::FakeNotificationService>(bus.address());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !service->shown().empty(); }, kGuardMs));
        EXPECT_EQ(service->shown().front().hints.value("urgency").value<uchar>(), r.urgency);
    }
}

TEST_F(NotificationsTest, WhatCouldNotBeShownIsShownOnceWhenTheServiceIsBack)
{
    struct Row {
        const char *name;
        bool goingTold;  // the bus has told of it before the tasks fall due
    } const rows[] = {
        {"sent to a service that has just gone", false},
        {"kept while the service is known to be away", true},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        auto service = std::make_unique<testsupport::FakeNotificationService>(bus.address());
        remind::DesktopNotifications notifications(*connection);
        ASSERT_TRUE(startedOn(notifications));
        QSignalSpy failed(&notifications, &remind::DesktopNotifications::sendFailed);
        QDBusServiceWatcher watch(QStringLiteral("org.freedesktop.Notifications"), *connection,
                                  QDBusServiceWatcher::WatchForUnregistration);
        QSignalSpy gone(&watch, &QDBusServiceWatcher::serviceUnregistered);

        // The service goes (a desktop restarting it), and a task falls due.
        service.reset();
        if (r.goingTold) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return gone.count() > 0; }, kGuardMs));
            // The reminder's own watch hears the same message.
            QCoreApplication::processEvents();
        }
        notifications.send({"Rent", "for Me", false, "rent:0", false});
        notifications.send({"1 more task due", {}, false, {}, true});
        notifications.send({"2 more tasks due", {}, false, {}, true});
        // Back: shown, once; of the counts only the last.
        service = std::make_unique<testsupport::FakeNotificationService>(bus.address());
        ASSERT_TRUE(QTest::qWaitFor([&] { return service->shown().size() >= 2; }, kGuardMs));
        notifications.send({"Call", "for Me", false, "call:0", false});
        ASSERT_TRUE(QTest::qWaitFor([&] { return service->shown().size() >= 3; }, kGuardMs));
        QStringList summaries;
        for (const testsupport::Shown &s : service->shown())
            summaries << s.summary;
        EXPECT_EQ(summaries, (QStringList{"Rent", "2 more tasks due", "Call"}));
        EXPECT_EQ(failed.count(), 0);
    }
}

TEST_F(NotificationsTest, AServiceThatComesAMomentLaterIsWaitedFor)
{
    std::unique_ptr<testsupport::FakeNotificationService> service;
    QTimer::singleShot(500, [&] {
        service = std::make_unique<testsupport::FakeNotificationService>(bus.address());
    });
    remind::DesktopNotifications notifications(*connection);
    QSignalSpy unavailable(&notifications, &remind::DesktopNotifications::unavailable);
    notifications.send({"Rent", "for Me", false, "rent:0", false});
    EXPECT_TRUE(startedOn(notifications));
    ASSERT_TRUE(service);
    ASSERT_TRUE(QTest::qWaitFor([&] { return service->shown().size() == 1; }, kGuardMs));
    EXPECT_EQ(service->capabilityCalls(), 1);
    EXPECT_EQ(unavailable.count(), 0);
}

}  // namespace
