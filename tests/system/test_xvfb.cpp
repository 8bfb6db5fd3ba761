// The program under a real X server, driven by keystrokes through xdotool.
#include "system/runtool.h"
#include "support/testsupport.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

class OnXServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable("Xvfb").isEmpty() ||
            QStandardPaths::findExecutable("xdotool").isEmpty())
            GTEST_SKIP() << "Xvfb or xdotool is not installed";
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(runtime.isValid());
        QFile::setPermissions(runtime.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        // Xvfb picks a free display itself and prints its number.
        xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
        ASSERT_TRUE(xvfb.waitForStarted(3000));
        QByteArray number;
        QElapsedTimer t;
        t.start();
        while (!number.contains('\n') && t.elapsed() < 10000 &&
               xvfb.state() == QProcess::Running) {
            xvfb.waitForReadyRead(100);
            number += xvfb.readAllStandardOutput();
        }
        ASSERT_TRUE(number.contains('\n')) << "Xvfb did not start";
        displayName = ":" + QString::fromLatin1(number.trimmed());

        env = programEnvironment(displayName, runtime.path());
    }

    void TearDown() override
    {
        for (QProcess *p : {&app, &xvfb}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(3000);
            }
        }
    }

    void startProgram()
    {
        app.setProcessEnvironment(env);
        app.setWorkingDirectory(dir.path());
        app.start(QStringLiteral(QUILLET_BINARY), {});
        ASSERT_TRUE(app.waitForStarted(5000));
    }

    // The id of the visible window with exactly this title, waiting up to 10 s.
    QByteArray waitForWindow(const QString &title)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            QByteArray out;
            if (runTool({"xdotool", "search", "--onlyvisible", "--name", "^" + title + "$"}, env,
                        &out) &&
                !out.trimmed().isEmpty())
                return out.trimmed().split('\n').first();
            QThread::msleep(100);
        }
        return {};
    }

    bool windowVisible(const QString &title)
    {
        QByteArray out;
        return runTool({"xdotool", "search", "--onlyvisible", "--name", "^" + title + "$"}, env,
                       &out) &&
               !out.trimmed().isEmpty();
    }

    // Focuses the window, then types keys (xdotool key names).
    void keys(const QByteArray &window, const QStringList &keyNames)
    {
        runTool({"xdotool", "windowfocus", "--sync", QString::fromLatin1(window)}, env);
        for (const QString &k : keyNames) {
            ASSERT_TRUE(runTool({"xdotool", "key", "--clearmodifiers", k}, env)) << k.toStdString();
            QThread::msleep(60);
        }
    }

    void type(const QString &text)
    {
        ASSERT_TRUE(runTool({"xdotool", "type", "--delay", "20", text}, env));
    }

    void writeAnnouncedTask()
    {
        const QDate today = QDate::currentDate();
        const QByteArray bytes =
            "; Quillet\r\n; ----------\r\n; Tasks and settings\r\n; DO NOT MODIFY THIS FILE\r\n"
            "\r\n[Tasks]\r\n\r\nttl=Due now\r\nfor=Me\r\nday=" +
            QByteArray::number(today.day()) + "\r\nmon=" + QByteArray::number(today.month()) +
            "\r\nyea=" + QByteArray::number(today.year()) +
            "\r\nhou=9\r\nmin=0\r\nsec=0\r\ndel=N\r\ndes=\r\nact=addtask\r\n\r\n[Alerts]\r\n\r\n"
            "val=0\r\nunt=d\r\nclr=255\r\nalr=on\r\nact=addalert\r\n\r\n\r\n";
        testsupport::writeFile(dir.filePath("tasks.txt"), bytes);
    }

    QTemporaryDir dir;
    QTemporaryDir runtime;
    QString displayName;
    QProcess xvfb;
    QProcess app;
    QProcessEnvironment env;
};

TEST_F(OnXServer, AltEEndsTheProgram)
{
    writeAnnouncedTask();
    startProgram();
    const QByteArray alert = waitForWindow("Quillet Alert!");
    ASSERT_FALSE(alert.isEmpty());
    keys(alert, {"alt+e"});
    ASSERT_TRUE(app.waitForFinished(5000));
    EXPECT_EQ(app.exitCode(), 0);
}

TEST_F(OnXServer, AltSSwapsTheAlertForTheMainWindow)
{
    writeAnnouncedTask();
    const QByteArray before = testsupport::readFile(dir.filePath("tasks.txt"));
    startProgram();
    const QByteArray alert = waitForWindow("Quillet Alert!");
    ASSERT_FALSE(alert.isEmpty());
    keys(alert, {"alt+s"});
    EXPECT_FALSE(waitForWindow("Quillet").isEmpty());
    EXPECT_FALSE(windowVisible("Quillet Alert!"));
    EXPECT_EQ(app.state(), QProcess::Running);
    EXPECT_EQ(testsupport::readFile(dir.filePath("tasks.txt")), before);
}

TEST_F(OnXServer, NewTaskTypedIntoTheEditorIsSavedInTheFileFormat)
{
    // GIVEN a file with one announced task
    writeAnnouncedTask();
    const QByteArray before = testsupport::readFile(dir.filePath("tasks.txt"));
    startProgram();
    const QByteArray alert = waitForWindow("Quillet Alert!");
    ASSERT_FALSE(alert.isEmpty());

    // WHEN the user opens the list, picks Tasks > New Task... and types a task
    keys(alert, {"alt+s"});
    const QByteArray main = waitForWindow("Quillet");
    ASSERT_FALSE(main.isEmpty());
    keys(main, {"alt+t", "n"});
    const QByteArray editor = waitForWindow("New / Edit task");
    ASSERT_FALSE(editor.isEmpty());
    runTool({"xdotool", "windowfocus", "--sync", QString::fromLatin1(editor)}, env);
    // Title, for, day, month, year, hour, minute, second, in tab order.
    for (const char *field : {"Buy milk", "Me", "15", "June", "2030", "14", "30", "0"}) {
        type(QString::fromLatin1(field));
        keys(editor, {"Tab"});
    }
    type("first");
    keys(editor, {"Return"});
    type("second");
    keys(editor, {"alt+o"});

    // THEN tasks.txt holds both tasks, the new one exactly as typed
    const QByteArray expected =
        before.left(before.indexOf("[Alerts]")) +
        "ttl=Buy milk\r\nfor=Me\r\nday=15\r\nmon=6\r\nyea=2030\r\nhou=14\r\nmin=30\r\n"
        "sec=0\r\ndel=\r\ndes=first|~second\r\nact=addtask\r\n\r\n" +
        before.mid(before.indexOf("[Alerts]"));
    QByteArray now;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 5000) {
        now = testsupport::readFile(dir.filePath("tasks.txt"));
        if (now != before)
            break;
        QThread::msleep(100);
    }
    EXPECT_EQ(now.toStdString(), expected.toStdString());
    EXPECT_FALSE(windowVisible("New / Edit task"));
    EXPECT_EQ(app.state(), QProcess::Running);
}

}  // namespace
