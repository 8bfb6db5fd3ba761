#include "mainwindowfixture.h"

#include "common/messagebox.h"
#include "page/pageviewer.h"
#include "mainwindow/navigationpane.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Module1::taskCount;
using Module1::tasks;

// A task file read back from disk, to see what a command wrote.
void reload() { ASSERT_TRUE(Module1::loadTasks().ok()); }

TEST_F(MainWindowTest, DeleteWithoutSelectionAsksNothingAndRewritesTheFile)
{
    addTask("A", "", 1);
    frmMain &w = open();
    ASSERT_TRUE(QFile::remove("tasks.txt"));
    MessageBox::clearLastShown();
    w.deleteTask();
    EXPECT_FALSE(MessageBox::lastShown().has_value());
    EXPECT_TRUE(QFile::exists("tasks.txt"));
    EXPECT_EQ(taskCount, 1);
}

TEST_F(MainWindowTest, DeleteRecyclesThenRemovesForGood)
{
    addTask("A", "", 1);
    addTask("B", "", 2);
    addTask("C", "", 3);
    frmMain &w = open();
    w.highlight(static_cast<qint16>(rowOf("A")));

    // GIVEN a current task WHEN deleted with Yes THEN it is recycled.
    MessageBox::setNextAnswer(QMessageBox::Yes);
    w.deleteTask();
    ASSERT_TRUE(MessageBox::lastShown().has_value());
    EXPECT_EQ(MessageBox::lastShown()->title, "Delete this entry?!");
    EXPECT_EQ(MessageBox::lastShown()->text, "Are you sure?");
    EXPECT_EQ(MessageBox::lastShown()->buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(w.selectedTask(), 0);
    EXPECT_EQ(rowOf("A"), -1);
    reload();
    EXPECT_EQ(tasks[0].title, "A");
    EXPECT_EQ(tasks[0].deleted, "Y");

    // WHEN deleted again from the recycled view THEN later tasks move down.
    w.Image1_Click(2);
    ASSERT_EQ(rowCount(), 1);
    w.highlight(1);
    MessageBox::setNextAnswer(QMessageBox::Yes);
    w.deleteTask();
    EXPECT_EQ(MessageBox::lastShown()->text,
              "Are you sure? This will delete the item, permanently!!!");
    EXPECT_EQ(rowCount(), 0);
    reload();
    EXPECT_EQ(taskCount, 2);
    EXPECT_EQ(tasks[0].title, "B");
    EXPECT_EQ(tasks[1].title, "C");
}

TEST_F(MainWindowTest, DeleteAnsweredNoKeepsTheSelection)
{
    addTask("A", "", 1);
    frmMain &w = open();
    w.highlight(1);
    MessageBox::setNextAnswer(QMessageBox::No);
    w.deleteTask();
    EXPECT_EQ(w.selectedTask(), 1);
    reload();
    EXPECT_EQ(tasks[0].deleted, "N");
}

TEST_F(MainWindowTest, UnDeleteBringsTheTaskBack)
{
    addTask("A", "", 1, "Y");
    frmMain &w = open();
    w.Image1_Click(2);
    EXPECT_TRUE(w.menu_undelete->isVisible());
    w.highlight(1);
    w.menu_undelete->trigger();
    EXPECT_EQ(w.selectedTask(), 0);
    EXPECT_EQ(rowCount(), 0);
    reload();
    EXPECT_EQ(tasks[0].deleted, "N");
    w.Image1_Click(1);
    EXPECT_EQ(rowOf("A"), 1);
    EXPECT_FALSE(w.menu_undelete->isVisible());
}

TEST_F(MainWindowTest, FailedSaveShowsOneErrorAndKeepsTheTables)
{
    addTask("A", "", 1);
    frmMain &w = open();
    w.highlight(1);
    // A directory where the file should be: the save cannot replace it.
    ASSERT_TRUE(QFile::remove("tasks.txt"));
    ASSERT_TRUE(QDir().mkdir("tasks.txt"));
    MessageBox::setNextAnswer(QMessageBox::Yes);
    // Every box after the question is counted.
    int boxes = 0;
    MessageBox::setUnansweredHandler([&](const MessageBox::Shown &) {
        ++boxes;
        return QMessageBox::Ok;
    });
    w.deleteTask();
    EXPECT_EQ(boxes, 1);
    ASSERT_TRUE(MessageBox::lastShown().has_value());
    EXPECT_EQ(MessageBox::lastShown()->title, "Quillet");
    EXPECT_FALSE(MessageBox::lastShown()->text.isEmpty());
    EXPECT_EQ(tasks[0].deleted, "Y");  // the change is kept in memory
    EXPECT_TRUE(QFileInfo("tasks.txt").isDir());
}

TEST_F(MainWindowTest, NewTaskReusesTheSlotAsCurrent)
{
    addTask("A", "", 1);
    tasks[1].title = "left over";
    tasks[1].deleted = "Y";
    qint16 edited = -1;
    QString deletedSeen;
    frmMainHooks hooks;
    hooks.showTaskEditor = [&](qint16 n) {
        edited = n;
        deletedSeen = tasks[static_cast<size_t>(n - 1)].deleted;
        Module1::loadTasks();  // Cancel
        return TaskEditorResult{};
    };
    frmMain &w = open(hooks);
    tasks[1].title = "left over";
    tasks[1].deleted = "Y";
    w.menu_new->trigger();
    EXPECT_EQ(edited, 2);
    EXPECT_EQ(deletedSeen, "N");
    EXPECT_EQ(taskCount, 1);
}

TEST_F(MainWindowTest, NewTaskRefusedWhenTheTableIsFull)
{
    bool opened = false;
    frmMainHooks hooks;
    hooks.showTaskEditor = [&](qint16) {
        opened = true;
        return TaskEditorResult{};
    };
    frmMain &w = open(hooks);
    for (int i = 0; i < Module1::kTaskSlots; ++i)
        tasks[static_cast<size_t>(i)].title = QString::number(i);
    taskCount = Module1::kTaskSlots;
    MessageBox::setNextAnswer(QMessageBox::Ok);
    w.new_task();
    EXPECT_FALSE(opened);
    EXPECT_EQ(taskCount, Module1::kTaskSlots);
    EXPECT_EQ(tasks[1000].title, "1000");
    ASSERT_TRUE(MessageBox::lastShown().has_value());
}

TEST_F(MainWindowTest, EditFromTheMenuNeedsASelection)
{
    addTask("A", "", 1);
    int opened = 0;
    frmMainHooks hooks;
    hooks.showTaskEditor = [&](qint16) {
        ++opened;
        return TaskEditorResult{};
    };
    frmMain &w = open(hooks);
    w.menu_modify->trigger();
    EXPECT_EQ(opened, 0);
    w.highlight(1);
    w.menu_modify->trigger();
    w.menu_modify2->trigger();
    EXPECT_EQ(opened, 2);
}

TEST_F(MainWindowTest, AboutExitAndRules)
{
    int rules = 0;
    frmMainHooks hooks;
    hooks.showRuleEditor = [&] { ++rules; };
    frmMain &w = open(hooks);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    w.menu_about->trigger();
    ASSERT_TRUE(MessageBox::lastShown().has_value());
    EXPECT_EQ(MessageBox::lastShown()->title, "About...");
    EXPECT_EQ(MessageBox::lastShown()->buttons, QMessageBox::Ok);
    const QStringList lines = MessageBox::lastShown()->text.split("\r\n");
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], "Quillet Beta version 0.22");
    EXPECT_EQ(lines[1], "Authors:");
    w.menu_manage->trigger();
    EXPECT_EQ(rules, 1);
    w.menu_exi->trigger();
    EXPECT_EQ(exits, 1);
}

// The alert page hook as the program wires it: due order, then the page.
frmMainHooks alertHooks(int *shown)
{
    frmMainHooks hooks;
    hooks.showAlertPage = [shown](PageViewer *browser) {
        Module1::sortMode = 2;
        Module1::sortTasks();
        PageBlocks page;
        page.markup = QByteArrayLiteral("<p>page</p>");
        page.blocks.push_back({0, page.markup.size(), QStringLiteral("page")});
        browser->showPage(page);
        ++*shown;
    };
    hooks.showTaskEditor = [](qint16) {
        Module1::loadTasks();
        return TaskEditorResult{};
    };
    return hooks;
}

TEST_F(MainWindowTest, EveryItemEmptiesTheDescription)
{
    addTask("A", "", 1, "N", "text");
    int shown = 0;
    frmMain &w = open(alertHooks(&shown));
    for (int k = 0; k < NavigationPane::kItems; ++k) {
        w.Image1_Click(1);
        w.highlight(1);
        ASSERT_FALSE(w.txtDescription->toPlainText().isEmpty());
        w.Image1_Click(k);
        EXPECT_TRUE(w.txtDescription->toPlainText().isEmpty()) << k;
    }
}

TEST_F(MainWindowTest, AlertViewFromRecycledKeepsTheRecycledList)
{
    addTask("Binned", "", 1, "Y");
    int shown = 0;
    frmMain &w = open(alertHooks(&shown));
    w.Image1_Click(2);
    w.highlight(1);
    w.Image1_Click(0);
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(w.WebBrowser1->isHidden());
    EXPECT_TRUE(w.showDeleted());
    EXPECT_TRUE(w.menu_undelete->isVisible());
    EXPECT_EQ(w.selectedTask(), 0);
    EXPECT_TRUE(w.pctMenu->isCaptionBold(0));
    EXPECT_EQ(title(1), "Binned");
}

TEST_F(MainWindowTest, AlertViewResetsTheOrderToDue)
{
    addTask("Alpha", "", 3);
    addTask("Bravo", "", 1);
    int shown = 0;
    frmMain &w = open(alertHooks(&shown));
    w.cmdTitle_Click();
    ASSERT_EQ(title(1), "Alpha");
    w.Image1_Click(0);
    w.Image1_Click(1);
    EXPECT_TRUE(w.WebBrowser1->isHidden());
    EXPECT_EQ(title(1), "Bravo");
}

TEST_F(MainWindowTest, NewTaskItemThenCancelEndsInAllItems)
{
    addTask("A", "", 1, "Y");
    int shown = 0;
    frmMain &w = open(alertHooks(&shown));
    w.Image1_Click(2);
    w.pctMenu->Image1_MouseMove(3);
    w.Image1_Click(3);
    EXPECT_EQ(taskCount, 1);
    EXPECT_FALSE(w.showDeleted());
    EXPECT_TRUE(w.pctMenu->isCaptionBold(1));
    EXPECT_FALSE(w.pctMenu->isCaptionBold(3));
    EXPECT_FALSE(w.pctMenu->hasBorder(3));
    EXPECT_FALSE(w.menu_undelete->isVisible());
}

// A remembered slot that now holds a task of the other view must not stay
// selected: Delete would then remove a task the user cannot see.
TEST_F(MainWindowTest, ASelectionWhoseSlotLeftTheViewIsDropped)
{
    struct {
        const char *name;
        int recycledDue;  // Alpha is due in 3 days, Bravo in 4 or 5
        std::function<void(frmMain &)> redraw;
    } const cases[] = {
        {"header click", 5, [](frmMain &w) { w.lstContainer->cmdDue->click(); }},
        {"editor's Ok", 4,
         [](frmMain &w) {
             // The edit moves Alpha behind the recycled task, which takes its slot.
             tasks[0].day = static_cast<qint16>(tasks[0].day + 3);
             ASSERT_TRUE(Module1::saveTasks().ok());
             reload();
             w.drawList();
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::resetWorld();
        addTask("Alpha", "", 3, "N", "about Alpha");
        addTask("Recycled", "", c.recycledDue, "Y");
        addTask("Bravo", "", 9 - c.recycledDue);
        frmMain &w = open();
        w.highlight(static_cast<qint16>(rowOf("Alpha")));
        ASSERT_EQ(w.selectedTask(), 1);

        c.redraw(w);
        EXPECT_EQ(tasks[0].title, "Recycled");
        EXPECT_EQ(w.selectedTask(), 0);
        EXPECT_TRUE(w.txtDescription->toPlainText().isEmpty());
        MessageBox::clearLastShown();
        MessageBox::setNextAnswer(QMessageBox::Yes);
        w.deleteTask();
        EXPECT_FALSE(MessageBox::lastShown().has_value()) << "nothing selected, nothing asked";
        reload();
        EXPECT_EQ(taskCount, 3);
        MessageBox::clearNextAnswers();
    }
}

TEST_F(MainWindowTest, AFileChangedElsewhereIsReadAgainNotOverwritten)
{
    addTask("A", "", 1);
    frmMain &w = open();
    w.highlight(1);
    addTask("Theirs", "", 2);
    const QByteArray elsewhere = Module1::serializeTables();
    testsupport::writeFile(QStringLiteral("tasks.txt"), elsewhere);
    Module1::taskCount = 1;  // the window's tables still hold one task

    MessageBox::setNextAnswer(QMessageBox::Yes);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    w.deleteTask();
    EXPECT_EQ(testsupport::readFile(QStringLiteral("tasks.txt")), elsewhere);
    ASSERT_TRUE(MessageBox::lastShown().has_value());
    EXPECT_TRUE(MessageBox::lastShown()->text.contains("changed outside Quillet"))
        << MessageBox::lastShown()->text.toStdString();
    EXPECT_EQ(rowCount(), 2) << "the list shows the file as it is now";
    EXPECT_EQ(rowOf("Theirs"), 2);
}

TEST_F(MainWindowTest, AFolderRemovedUnderTheWindowIsNamedAndNothingIsWrittenElsewhere)
{
    const bool rootFile = QFile::exists(QStringLiteral("/tasks.txt"));
    addTask("A", "", 1);
    frmMain &w = open();
    w.highlight(1);
    // WHEN the folder is removed in a terminal and the task then recycled
    const QString folder = QDir::currentPath();
    ASSERT_TRUE(QDir(folder).removeRecursively());
    MessageBox::setNextAnswer(QMessageBox::Yes);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    w.deleteTask();
    // THEN the box names the folder, and no file appears anywhere else
    ASSERT_TRUE(MessageBox::lastShown().has_value());
    EXPECT_TRUE(MessageBox::lastShown()->text.contains(folder + " no longer exists"))
        << MessageBox::lastShown()->text.toStdString();
    EXPECT_EQ(QFile::exists(QStringLiteral("/tasks.txt")), rootFile);
    EXPECT_FALSE(QFile::exists(folder));
    EXPECT_EQ(tasks[0].deleted, "Y") << "the change is kept in memory";
}

TEST_F(MainWindowTest, ASaveByAnotherUserLeavesTheFileTheirs)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs a second user";
    // GIVEN the window of user nobody on root's file in a shared folder
    addTask("A", "", 1);
    frmMain &w = open();
    w.highlight(1);
    ASSERT_EQ(::chmod(".", 0777), 0);
    ASSERT_EQ(::chmod("tasks.txt", 0666), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            _exit(2);
        MessageBox::setNextAnswer(QMessageBox::Yes);
        w.deleteTask();
        // Only the question: nothing was lost, so nothing more is said.
        const auto shown = MessageBox::lastShown();
        _exit(shown && shown->buttons == (QMessageBox::Yes | QMessageBox::No) &&
                      tasks[0].deleted == "Y"
                  ? 0
                  : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    reload();
    EXPECT_EQ(tasks[0].deleted, "Y") << "saved";
    struct stat st { };
    ASSERT_EQ(::stat("tasks.txt", &st), 0);
    EXPECT_EQ(st.st_uid, 0u) << "still root's";
}

TEST_F(MainWindowTest, OnlyWhereTheWindowStandsIsKeptBetweenRuns)
{
    addTask("A", "", 1);
    addTask("B", "", 2, "Y");
    frmMain &first = open();
    first.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&first));
    first.setGeometry(40, 50, 800, 520);
    first.Image1_Click(2);
    first.lstContainer->cmdTitle->click();
    const QRect kept = first.geometry();
    first.close();

    frmMain second;  // as the program makes it, without the fixture's size
    second.exitProgram = [] {};
    second.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&second));
    EXPECT_EQ(second.geometry(), kept);
    EXPECT_FALSE(second.showDeleted());
    EXPECT_EQ(Module1::sortMode, 2);
    EXPECT_EQ(second.splitPercent(), 50);
}

// The window's settings and their lock are used only as regular files: a
// FIFO would hold the window (and the task file's lock) forever.
class OddSettingsFile : public MainWindowTest,
                        public ::testing::WithParamInterface<const char *> { };

TEST_P(OddSettingsFile, NeverHoldsTheWindow)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                           QStringLiteral("/quillet");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QByteArray fifo = QFile::encodeName(folder + '/' + GetParam());
    QFile::remove(QFile::decodeName(fifo));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    // A watchdog turns a wait on the FIFO into a failure: opening it to
    // write without blocking succeeds only while a reader waits. It then
    // takes the FIFO away and lets the reader go.
    std::atomic<bool> done{false}, readerWaited{false};
    std::thread watchdog([&] {
        while (!done) {
            const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                readerWaited = true;
                ::unlink(fifo.constData());
                ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });

    addTask("A", "", 1);
    frmMain &w = open();
    w.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.close();
    done = true;
    watchdog.join();
    ::unlink(fifo.constData());

    EXPECT_FALSE(readerWaited) << "the window waited on " << fifo.constData();
    EXPECT_EQ(exits, 1);
}

INSTANTIATE_TEST_SUITE_P(Entries, OddSettingsFile,
                         ::testing::Values("quillet.conf", "quillet.conf.lock"),
                         [](const auto &info) {
                             return std::string(info.index == 0 ? "Settings" : "TheirLock");
                         });

TEST_F(MainWindowTest, NoRedrawWhileADialogIsOpen)
{
    addTask("A", "", 1);
    std::vector<bool> timerRunning;
    frmMainHooks hooks;
    hooks.showTaskEditor = [&](qint16) {
        timerRunning.push_back(window().Timer1->isActive());
        return TaskEditorResult{};
    };
    hooks.showRuleEditor = [&] { timerRunning.push_back(window().Timer1->isActive()); };
    frmMain &w = open(hooks);
    w.highlight(1);
    w.menu_modify->trigger();
    w.menu_modify2->trigger();
    w.menu_manage->trigger();
    w.menu_new->trigger();
    EXPECT_EQ(timerRunning, std::vector<bool>(4, false));
    EXPECT_TRUE(w.Timer1->isActive());
}

TEST_F(MainWindowTest, NewDayRedrawsTheList)
{
    addRule(0, 0x0000FF);
    addTask("Tomorrow", "", 1);
    frmMain &w = open();
    ASSERT_FALSE(row(1).cell(ListColumn::Title).bold);
    Module1::setToday(std::chrono::sys_days{testsupport::kToday} + std::chrono::days{1});
    w.Timer1_Timer();
    EXPECT_TRUE(row(1).cell(ListColumn::Title).bold);
}

}  // namespace

namespace {

// The title names the list unless it is the user's own, whichever way the
// start came to it: a link to the user's folder is still the user's list.
TEST_F(MainWindowTest, TitleNamesAnyListButTheUsersOwn)
{
    const QString data = folder().path() + "/data";
    ASSERT_TRUE(QDir().mkpath(data + "/quillet"));
    ASSERT_TRUE(QDir().mkpath(folder().path() + "/project"));
    ASSERT_TRUE(QFile::link(data + "/quillet", folder().path() + "/mine"));
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", data.toUtf8());
    struct {
        QString folder, file;
        bool named;
    } const cases[] = {
        {data + "/quillet", "tasks.txt", false},
        {folder().path() + "/mine", "tasks.txt", false},
        {data + "/quillet", "other.txt", true},
        {folder().path() + "/project", "tasks.txt", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE((c.folder + "/" + c.file).toStdString());
        testsupport::writeFile(c.folder + "/" + c.file, testsupport::taskFile({}, {}));
        Module1::useTaskList(c.folder, c.file);
        const frmMain w{frmMainHooks{}};
        EXPECT_EQ(w.windowTitle(), c.named ? "Quillet — " + c.folder + "/" + c.file : "Quillet");
    }
    qputenv("XDG_DATA_HOME", oldData);
}

TEST_F(MainWindowTest, FormAtFirstDisplay)
{
    frmMain &w = open();
    QStringList bar;
    for (QAction *a : w.menuBar()->actions())
        if (a->isVisible())
            bar << a->text();
    EXPECT_EQ(bar, (QStringList{"&Tasks", "&Options", "&Help"}));
    const std::pair<QAction *, const char *> entries[] = {{w.menu_new, "&New Task..."},
                                                          {w.menu_modify, "&Edit..."},
                                                          {w.menu_delete, "&Delete"},
                                                          {w.menu_exi, "&Exit"},
                                                          {w.menu_manage, "&Colors And Alerts"},
                                                          {w.menu_about, "&About"},
                                                          {w.menu_modify2, "&Edit..."},
                                                          {w.menu_delete2, "&Delete"},
                                                          {w.menu_undelete, "&Un-Delete"}};
    for (const auto &[action, caption] : entries)
        EXPECT_EQ(action->text(), caption);
    EXPECT_TRUE(w.menu_sep->isSeparator());
    EXPECT_EQ(w.menu_short->title(), "&submenu");
    EXPECT_FALSE(w.menu_undelete->isVisible());
    EXPECT_EQ(w.windowTitle(), "Quillet — " + Module1::taskFilePath());
    EXPECT_TRUE(w.WebBrowser1->isHidden());
    EXPECT_EQ(w.statusPanels[2]->text(), "12/8/26");
    EXPECT_EQ(Module1::sortMode, 2);
    EXPECT_EQ(w.splitPercent(), 50);
    EXPECT_FALSE(w.showDeleted());
    EXPECT_EQ(w.selectedTask(), 0);

    // Closing the window ends the program, as Exit does.
    w.close();
    EXPECT_EQ(exits, 1);
}

}  // namespace
