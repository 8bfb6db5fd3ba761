// The reminder's links to the system: the alarm, the file watch and the
// desktop's notification service (a stand-in on a private bus).
#include "remind/desktopnotifications.h"
#include "store/folderwatch.h"
#include "remind/printers.h"
#include "remind/realtimealarm.h"
#include "remind/sessionbus.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

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
            // One change, one signal, however many events it made.
            QTest::qWait(400);
            EXPECT_EQ(changed.count(), 1);
        } else {
            QTest::qWait(400);
            EXPECT_EQ(changed.count(), 0);
        }
    }
}

TEST_F(FolderWatchTest, FollowsTheFolderWhenRenamedAndSaysWhenItIsRemoved)
{
    writeFile(list(), "a\r\n");
    Module1::FolderWatch watch(dir.filePath("list"), "tasks.txt");
    QSignalSpy changed(&watch, &Module1::FolderWatch::changed);
    QSignalSpy gone(&watch, &Module1::FolderWatch::folderGone);

    ASSERT_TRUE(QDir(dir.path()).rename("list", "renamed"));
    replace(dir.filePath("renamed/tasks.txt"), "b\r\n");
    EXPECT_TRUE(QTest::qWaitFor([&] { return changed.count() > 0; }, kGuardMs));

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

TEST_F(NotificationsTest, SendsTitleForAndDueWithTheActionsThatOpenTheList)
{
    struct Row {
        QStringList capabilities;
        QString body;
    } rows[] = {
        {{"actions", "body"}, "for Ann & <Bo>, due December 08/26 at 9:05:00 AM"},
        // Where the service reads markup, the task's own text stays text.
        {{"actions", "body", "body-markup"},
         "for Ann &amp; &lt;Bo&gt;, due December 08/26 at 9:05:00 AM"},
    };
    for (const Row &r : rows) {
        testsupport::FakeNotificationService service(bus.address(), r.capabilities);
        ASSERT_TRUE(service.registered());
        remind::DesktopNotifications notifications(*connection);
        QString why;
        ASSERT_TRUE(notifications.connectToService(&why)) << why.toStdString();
        notifications.send("Pay <the> rent", "for Ann & <Bo>, due December 08/26 at 9:05:00 AM");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !service.shown().empty(); }, kGuardMs));
        const testsupport::Shown s = service.shown().front();
        EXPECT_EQ(s.appName, "Quillet");
        EXPECT_EQ(s.replacesId, 0u);
        EXPECT_EQ(s.icon, "quillet");
        EXPECT_EQ(s.summary, "Pay <the> rent");
        EXPECT_EQ(s.body, r.body);
        EXPECT_EQ(s.actions, (QStringList{"default", "Show all", "show-all", "Show all"}));
        EXPECT_EQ(s.hints, (QVariantMap{{"desktop-entry", "quillet"}}));
        EXPECT_EQ(s.timeout, -1);
    }
}

TEST_F(NotificationsTest, OnlyItsOwnNotificationsOpenTheList)
{
    testsupport::FakeNotificationService service(bus.address());
    remind::DesktopNotifications notifications(*connection);
    QString why;
    ASSERT_TRUE(notifications.connectToService(&why)) << why.toStdString();
    QSignalSpy show(&notifications, &remind::DesktopNotifications::showAllRequested);
    notifications.send("Rent", "for Me");
    notifications.send("Call", "for Me");
    ASSERT_TRUE(QTest::qWaitFor([&] { return service.shown().size() == 2; }, kGuardMs));
    QTest::qWait(100);  // the replies with the ids reach the client
    const uint rent = service.shown()[0].id;
    const uint call = service.shown()[1].id;

    struct Row {
        uint id;
        QString action, token;
        bool opens;
    } rows[] = {
        {rent, "default", "", true},
        {rent, "show-all", "token-1", true},
        {rent, "snooze", "", false},
        {rent + call + 100, "default", "", false},  // another program's notification
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.action.toStdString());
        show.clear();
        service.invoke(r.id, r.action, r.token);
        if (r.opens) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return show.count() > 0; }, kGuardMs));
            EXPECT_EQ(show.count(), 1);
            EXPECT_EQ(show.first().first().toString(), r.token);
        } else {
            QTest::qWait(300);
            EXPECT_EQ(show.count(), 0);
        }
    }

    // Once closed it is no longer ours: the id may come back for another.
    service.close(call);
    QTest::qWait(200);
    show.clear();
    service.invoke(call, "default");
    QTest::qWait(300);
    EXPECT_EQ(show.count(), 0);
}

TEST_F(NotificationsTest, AServiceThatComesAMomentLaterIsWaitedFor)
{
    std::unique_ptr<testsupport::FakeNotificationService> service;
    QTimer::singleShot(500, [&] {
        service = std::make_unique<testsupport::FakeNotificationService>(bus.address());
    });
    remind::DesktopNotifications notifications(*connection);
    QString why;
    EXPECT_TRUE(notifications.connectToService(&why)) << why.toStdString();
    ASSERT_TRUE(service);
    EXPECT_EQ(service->capabilityCalls(), 1);
}

}  // namespace
