// The program under a real X server, driven by keystrokes through xdotool.
#include "system/xserver.h"

#include "store/store.h"
#include "support/taskfilebuilder.h"
#include "support/testsupport.h"

#include <QDate>
#include <QDir>

namespace {

using testsupport::dueOn;
using testsupport::taskFile;

// Today's tasks announced, or no rule at all.
QByteArray withTodayRule(const std::vector<testsupport::TaskLines> &tasks,
                         bool announceToday = true)
{
    return taskFile(tasks, announceToday ? std::vector{testsupport::rule(0, true)}
                                         : std::vector<testsupport::RuleLines>{});
}

const QDate kToday = kFixedToday;

class OnXServer : public XServerTest {
protected:
    void writeAnnouncedTask()
    {
        testsupport::writeFile(taskFile(), withTodayRule({dueOn("Due now", kToday)}));
    }

    // The tables of the file on disk, read through a copy.
    void loadFileCopy()
    {
        const QString copy = dir.filePath("copy.txt");
        QFile::remove(copy);
        ASSERT_TRUE(QFile::copy(taskFile(), copy));
        ASSERT_TRUE(Module1::loadTasks(copy).ok());
    }
};

TEST_F(OnXServer, AltEEndsTheProgram)
{
    writeAnnouncedTask();
    startProgram();
    const xcb_window_t alert = waitForWindow("Quillet Alert!");
    ASSERT_NE(alert, 0u);
    keys(alert, {"alt+e"});
    ASSERT_TRUE(ended(app, 5000));
    EXPECT_EQ(app.exitCode(), 0);
}

TEST_F(OnXServer, ARefusedFileIsExplainedInABoxAndEndsWithStatusOne)
{
    std::vector<testsupport::TaskLines> many;
    for (int i = 0; i < 1002; ++i)
        many.push_back(dueOn(QStringLiteral("T%1").arg(i), kToday));
    testsupport::writeFile(taskFile(), withTodayRule(many));
    const QByteArray before = testsupport::readFile(taskFile());
    startProgram();
    // The box waits for its answer: the program is still there.
    const xcb_window_t box = waitForWindow("Quillet");
    ASSERT_NE(box, 0u);
    EXPECT_FALSE(ended(app, 300));
    keys(box, {"Return"});
    ASSERT_TRUE(ended(app, 5000));
    EXPECT_EQ(app.exitCode(), 1);
    EXPECT_EQ(testsupport::readFile(taskFile()), before);
}

TEST_F(OnXServer, AltSSwapsTheAlertForTheMainWindow)
{
    writeAnnouncedTask();
    const QByteArray before = testsupport::readFile(taskFile());
    startProgram();
    const xcb_window_t alert = waitForWindow("Quillet Alert!");
    ASSERT_NE(alert, 0u);
    EXPECT_TRUE(x.states(alert).contains("_NET_WM_STATE_SKIP_TASKBAR"))
        << "the alert box is no task bar entry";
    keys(alert, {"alt+s"});
    EXPECT_NE(waitForWindow("Quillet"), 0u);
    EXPECT_TRUE(waitForWindowGone("Quillet Alert!"));
    EXPECT_EQ(app.state(), QProcess::Running);
    EXPECT_EQ(testsupport::readFile(taskFile()), before);
}

TEST_F(OnXServer, ASecondStartHandsOverToTheRunningCopy)
{
    // GIVEN the alert of a first start on the screen
    writeAnnouncedTask();
    startProgram();
    ASSERT_NE(waitForWindow("Quillet Alert!"), 0u);

    // WHEN the user starts the program again in the same folder
    QElapsedTimer t;
    t.start();
    startProgram({}, &second);
    ASSERT_TRUE(ended(second, testsupport::hangGuardMs(5000)));
    const qint64 endedAfter = t.elapsed();

    // THEN the second start ends at once and the first shows its list
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    std::printf("[timing] second start handed over and ended: %lld ms\n",
                static_cast<long long>(endedAfter));
    EXPECT_NE(waitForWindow("Quillet", 3000), 0u);
    EXPECT_TRUE(waitForWindowGone("Quillet Alert!"));
    EXPECT_EQ(app.state(), QProcess::Running);

    // AND a start that asks for the list hands over too: still one list.
    startProgram({"--show-all"}, &second);
    ASSERT_TRUE(ended(second, testsupport::hangGuardMs(5000)));
    EXPECT_EQ(second.exitCode(), 0);
    int lists = 0;
    for (const XProbe::TopLevel &w : x.visibleWindows())
        lists += XProbe::titled(w.title, "Quillet") ? 1 : 0;
    EXPECT_EQ(lists, 1);
}

TEST_F(OnXServer, DeleteNeverReachesATaskTheListDoesNotShow)
{
    // GIVEN Alpha selected, and a recycled task due after Bravo
    testsupport::writeFile(taskFile(), withTodayRule({dueOn("Alpha", kToday.addDays(3)),
                                                      dueOn("Bravo", kToday.addDays(4)),
                                                      dueOn("Recycled", kToday.addDays(5), "Y")},
                                                     false));
    startProgram({"--show-all"});
    const xcb_window_t main = waitForWindow("Quillet");
    ASSERT_NE(main, 0u);
    ASSERT_TRUE(x.idle(main));
    send(clickAt(main, 300, 150));  // below the rows: the list takes the keyboard
    keys(main, {"Home"});
    ASSERT_TRUE(waitUntil([&] { return x.selectionBand(main).found(); })) << "Home selected no row";

    // WHEN "Due" is clicked (descending: the recycled task takes Alpha's slot)
    keys(main, {"Tab", "Tab", "Tab", "Tab", "space"});
    // AND Tasks > Delete is chosen
    keys(main, {"alt+t", "d"});

    // THEN nothing is asked and nothing is deleted
    EXPECT_EQ(waitForWindow("Delete this entry?!", 1000), 0u);
    EXPECT_FALSE(x.selectionBand(main).found());
    loadFileCopy();
    EXPECT_EQ(Module1::taskCount, 3);
}

TEST_F(OnXServer, PastedLineBreaksNeverReachTheFile)
{
    if (QStandardPaths::findExecutable("xclip").isEmpty())
        GTEST_SKIP() << "xclip is not installed";
    testsupport::writeFile(taskFile(), withTodayRule({}, false));
    startProgram({"--show-all"});
    const xcb_window_t main = waitForWindow("Quillet");
    ASSERT_NE(main, 0u);
    keys(main, {"alt+t", "n"});
    const xcb_window_t editor = waitForWindow("New / Edit task");
    ASSERT_NE(editor, 0u);

    // WHEN three lines from the clipboard are pasted into the title
    QProcess clip;
    clip.setProcessEnvironment(env);
    // xclip serves the clipboard until the X server goes away.
    clip.start("xclip", {"-selection", "clipboard"});
    ASSERT_TRUE(clip.waitForStarted(3000));
    clip.write("Pasted\r\nclr=65280\r\nact=addalert");
    clip.waitForBytesWritten(3000);
    clip.closeWriteChannel();
    ASSERT_TRUE(clip.waitForFinished(3000)) << "xclip does not hold the text";
    const QByteArray before = testsupport::readFile(taskFile());
    keys(editor, {"ctrl+v", "alt+o"});

    // THEN the title is one line and no rule appeared
    waitForFileChange(before);
    loadFileCopy();
    ASSERT_EQ(Module1::taskCount, 1);
    EXPECT_EQ(Module1::alertRuleCount, 0);
    EXPECT_TRUE(Module1::tasks[0].title.startsWith("Pasted"))
        << testsupport::readFile(taskFile()).toStdString();
    EXPECT_FALSE(Module1::tasks[0].title.contains('\r') || Module1::tasks[0].title.contains('\n'));
}

// The value of a key of an installed desktop entry.
QString entryValue(const QString &desktopFile, const QByteArray &key)
{
    for (const QByteArray &line : testsupport::readFile(desktopFile).split('\n')) {
        if (line.startsWith(key + '='))
            return QString::fromUtf8(line.mid(key.size() + 1)).trimmed();
    }
    return {};
}

// The Exec line as its words (the installed paths hold no space).
QStringList execLine(const QString &desktopFile)
{
    return entryValue(desktopFile, "Exec").split(' ', Qt::SkipEmptyParts);
}

TEST_F(OnXServer, TheMenuEntryOpensTheListAndTheLoginEntryOnlyAlerts)
{
    // GIVEN an installed copy and a task file where nothing is due
    QTemporaryDir prefix;
    ASSERT_TRUE(runTool({"cmake", "--install", QUILLET_BUILD_DIR, "--prefix", prefix.path()},
                        QProcessEnvironment::systemEnvironment(), nullptr, 60000));
    env.insert("HOME", dir.path());
    env.insert("XDG_DATA_HOME", dir.filePath("data"));
    ASSERT_TRUE(QDir().mkpath(dir.filePath("data/quillet")));
    testsupport::writeFile(dir.filePath("data/quillet/tasks.txt"),
                           withTodayRule({dueOn("Next month", kToday.addDays(30))}));

    // WHEN the menu entry's command runs, whatever is on PATH
    const QString menuEntry = prefix.path() + "/share/applications/quillet.desktop";
    const QStringList menu = execLine(menuEntry);
    ASSERT_FALSE(menu.isEmpty());
    env.insert("PATH", "/usr/bin:/bin");
    app.setProcessEnvironment(env);
    app.start(menu.first(), menu.mid(1));
    ASSERT_TRUE(app.waitForStarted(5000));
    // THEN the list opens, in a window that task bars match to the entry
    const xcb_window_t list = waitForWindow("Quillet");
    EXPECT_NE(list, 0u) << app.readAllStandardError().toStdString();
    const QStringList wmClass = x.wmClass(list);
    ASSERT_EQ(wmClass.size(), 2) << wmClass.join(',').toStdString();
    EXPECT_EQ(wmClass[1].toStdString(), entryValue(menuEntry, "StartupWMClass").toStdString());
    app.kill();
    app.waitForFinished(3000);

    // WHEN the login entry's command runs THEN it ends at once, showing nothing
    const QStringList login = execLine(prefix.path() + "/share/quillet/autostart/quillet.desktop");
    ASSERT_FALSE(login.isEmpty() || login.first().isEmpty());
    second.setProcessEnvironment(env);
    second.start(login.first(), login.mid(1));
    ASSERT_TRUE(second.waitForStarted(5000));
    ASSERT_TRUE(ended(second, testsupport::hangGuardMs(5000)));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_FALSE(windowVisible("Quillet Alert!"));
}

TEST_F(OnXServer, NewTaskTypedIntoTheEditorIsSavedInTheFileFormat)
{
    // GIVEN a file with one announced task
    writeAnnouncedTask();
    const QByteArray before = testsupport::readFile(taskFile());
    startProgram();
    const xcb_window_t alert = waitForWindow("Quillet Alert!");
    ASSERT_NE(alert, 0u);

    // WHEN the user opens the list, picks Tasks > New Task... and types a task
    keys(alert, {"alt+s"});
    const xcb_window_t main = waitForWindow("Quillet");
    ASSERT_NE(main, 0u);
    keys(main, {"alt+t", "n"});
    const xcb_window_t editor = waitForWindow("New / Edit task");
    ASSERT_NE(editor, 0u);
    focus(editor);
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
    EXPECT_EQ(waitForFileChange(before, 5000).toStdString(), expected.toStdString());
    EXPECT_TRUE(waitForWindowGone("New / Edit task"));
    EXPECT_EQ(app.state(), QProcess::Running);
}

TEST_F(OnXServer, AnEditOkedAfterAnAddFromTheTerminalLandsOnItsTask)
{
    // GIVEN the list open on three tasks, Bravo (row 2) selected
    testsupport::writeFile(taskFile(), withTodayRule({dueOn("Alpha", kToday.addDays(1)),
                                                      dueOn("Bravo", kToday.addDays(2)),
                                                      dueOn("Charlie", kToday.addDays(3))},
                                                     false));
    startProgram({"--show-all"});
    const xcb_window_t main = waitForWindow("Quillet");
    ASSERT_NE(main, 0u);
    ASSERT_TRUE(x.idle(main));
    send(clickAt(main, 300, 150));  // below the rows: the list takes the keyboard
    keys(main, {"Home"});
    ASSERT_TRUE(waitUntil([&] { return x.selectionBand(main).found(); })) << "Home selected no row";
    const int rowOneTop = x.selectionBand(main).top;
    keys(main, {"Down"});
    ASSERT_TRUE(waitUntil([&] { return x.selectionBand(main).top > rowOneTop; }));
    const int rowHeight = x.selectionBand(main).top - rowOneTop;

    // WHEN the user opens the editor on it and types
    keys(main, {"Return"});
    const xcb_window_t editor = waitForWindow("New / Edit task");
    ASSERT_NE(editor, 0u);
    keys(editor, {"End"});
    type("!");
    ASSERT_TRUE(x.idle(editor));
    // AND a task due today, which sorts first, is added from a terminal
    QProcess add;
    startProgram({"--add", "Added", "--due", "today"}, &add);
    ASSERT_TRUE(ended(add, 10000));
    ASSERT_EQ(add.exitCode(), 0) << add.readAllStandardError().toStdString();
    // AND Ok is pressed
    keys(editor, {"alt+o"});

    // THEN the editor closes without a word
    EXPECT_TRUE(waitForWindowGone("New / Edit task"));
    // AND the file holds the added task and the edit on Bravo
    loadFileCopy();
    QStringList titles;
    for (int i = 0; i < Module1::taskCount; ++i)
        titles << Module1::tasks[size_t(i)].title;
    EXPECT_EQ(titles.join(',').toStdString(), "Alpha,Bravo!,Charlie,Added");
    // AND the selection is on Bravo!, now row 3
    EXPECT_TRUE(waitUntil([&] {
        return x.idle(main) && x.selectionBand(main).top == rowOneTop + 2 * rowHeight;
    })) << "selected at "
        << x.selectionBand(main).top << ", row 3 at " << rowOneTop + 2 * rowHeight;
    EXPECT_EQ(app.state(), QProcess::Running);
}

}  // namespace

TEST_F(OnXServer, ATaskAddedFromTheTerminalShowsInTheOpenList)
{
    // GIVEN the task list open on an empty list
    testsupport::writeFile(taskFile(), withTodayRule({}, false));
    startProgram({"--show-all"});
    const xcb_window_t main = waitForWindow("Quillet");
    ASSERT_NE(main, 0u);
    ASSERT_TRUE(x.idle(main));
    send(clickAt(main, 300, 150));  // the list takes the keyboard
    keys(main, {"Home"});
    ASSERT_FALSE(x.selectionBand(main).found()) << "an empty list has no row to select";

    // WHEN a task is added from a terminal in the same folder
    QProcess add;
    startProgram({"--add", "From the terminal", "--due", "today"}, &add);
    ASSERT_TRUE(ended(add, 10000));
    ASSERT_EQ(add.exitCode(), 0) << add.readAllStandardError().toStdString();
    QElapsedTimer shown;
    shown.start();

    // THEN the open list shows it (Home selects its row) without a restart
    EXPECT_TRUE(waitUntil([&] {
        keys(main, {"Home"});
        return x.selectionBand(main).found();
    })) << "the open list never showed the added task";
    std::printf("[timing] the added task showed in the open list after %lld ms\n",
                static_cast<long long>(shown.elapsed()));
    EXPECT_EQ(app.state(), QProcess::Running);
    loadFileCopy();
    ASSERT_EQ(Module1::taskCount, 1);
    EXPECT_EQ(Module1::tasks[0].title, "From the terminal");
}
