// A reminder clicked opens the task list, under a real X server (that it
// selects the task is read through AT-SPI, in system/atspi).
#include "remind/printers.h"
#include "remind/sessionbus.h"
#include "support/taskfilebuilder.h"
#include "system/xserver.h"

#include <QTest>

#include <csignal>

namespace {

class ReminderOnXServer : public XServerTest {
protected:
    void SetUp() override
    {
        XServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        if (QStandardPaths::findExecutable("dbus-daemon").isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed";
        QString why;
        ASSERT_TRUE(bus.start(&why)) << why.toStdString();
        service = std::make_unique<testsupport::FakeNotificationService>(bus.address());
        ASSERT_TRUE(service->registered());
        env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
        // The real clock: the reminder waits for a real moment.
        for (const char *name : {"LD_PRELOAD", "FAKETIME", "FAKETIME_DONT_RESET"})
            env.remove(name);
    }

    void TearDown() override
    {
        // The list was started by the reminder, not by the test.
        if (listPid > 0)
            ::kill(pid_t(listPid), SIGKILL);
        XServerTest::TearDown();
    }

    testsupport::PrivateBus bus;
    std::unique_ptr<testsupport::FakeNotificationService> service;
    qint64 listPid = 0;
};

TEST_F(ReminderOnXServer, ClickedItOpensTheTaskList)
{
    // GIVEN a reminder that has just been shown
    const QDateTime when = QDateTime::currentDateTime().addSecs(2);
    const QDate d = when.date();
    const QTime t = when.time();
    testsupport::writeFile(taskFile(), testsupport::taskFile({{"Pay the rent",
                                                               "Me",
                                                               d.day(),
                                                               d.month(),
                                                               d.year(),
                                                               t.hour(),
                                                               t.minute(),
                                                               t.second(),
                                                               "N",
                                                               {}}},
                                                             {testsupport::rule(0, true)}));
    startProgram({"--remind"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !service->shown().empty(); }, 20000))
        << app.readAllStandardError().toStdString();
    EXPECT_FALSE(windowVisible("Quillet"));

    // WHEN the user clicks it
    service->invoke(service->shown().front().id, "default", "activation-token");

    // THEN the task list of its folder opens, and the reminder stays. The
    // list writes to the reminder's stderr: where Xvfb refused it, once more.
    xcb_window_t list = waitForWindow("Quillet");
    QByteArray said = app.readAllStandardError();
    if (!list && said.contains("could not connect to display")) {
        service->invoke(service->shown().front().id, "default", "activation-token");
        list = waitForWindow("Quillet");
        said += app.readAllStandardError();
    }
    ASSERT_NE(list, 0u) << said.toStdString();
    QByteArray pid;
    if (runTool({"xdotool", "getwindowpid", QString::number(list)}, env, &pid))
        listPid = pid.trimmed().toLongLong();
    EXPECT_TRUE(x.idle(list));
    EXPECT_EQ(app.state(), QProcess::Running);
}

}  // namespace
