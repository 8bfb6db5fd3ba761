// The window's saves and the terminal's adds on one list at once: each
// waits for the list's lock, so that neither drops the other's change.
#include "mainwindowfixture.h"

#include "common/messagebox.h"
#include "store/folderwatch.h"
#include "store/testhooks.h"
#include "support/listwriters.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QSignalSpy>
#include <QTest>

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

using testsupport::readFile;
using testsupport::titlesIn;

class ListWriters : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        answerBoxes();
    }

    // Every box the window shows is kept and answered.
    void answerBoxes()
    {
        MessageBox::setUnansweredHandler([this](const MessageBox::Shown &box) {
            boxes << box.text;
            return QMessageBox::Ok;
        });
    }

    // Edits the task "Window" in its record, as the editor's keys do, and
    // saves it with the window's own command (Restore saves the tables as
    // they are and reads them back). True when it was saved: no box.
    bool saveEdit(frmMain &w, const QString &description)
    {
        const int row = rowOf("Window");
        if (row < 1)
            return false;
        w.highlight(static_cast<qint16>(row));
        Module1::tasks[size_t(w.selectedTask() - 1)].description = description;
        const qsizetype before = boxes.size();
        w.menu_undelete_Click();
        return boxes.size() == before;
    }

    static QStringList listLocks()
    {
        return testsupport::listLockFiles(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/quillet",
                                          QDir::currentPath());
    }

    QStringList boxes;
};

TEST_F(ListWriters, TheWindowSavingAgainAndAgainAndTwentyAddsAllLand)
{
    addTask("Window", "Me", 1);
    frmMain &w = open();

    // GIVEN twenty `quillet --add` on the window's list, started at once
    testsupport::ConcurrentAdds adds;
    adds.start(20, "Add", QDir::currentPath(), QProcessEnvironment::systemEnvironment());
    // WHEN the window saves an edit again and again while they run (a save
    // that met an add's change reads the file again, and the next edit is
    // made on that)
    int edits = 0, saves = 0;
    QString lastSaved;
    QElapsedTimer guard;
    guard.start();
    // (and on until one of its saves went through: twenty quick adds may
    // all land between its first tries)
    while ((adds.running() || lastSaved.isEmpty()) && guard.elapsed() < 120000) {
        const QString edit = QStringLiteral("edit %1").arg(++edits);
        if (saveEdit(w, edit)) {
            lastSaved = edit;
            ++saves;
        }
    }
    ASSERT_TRUE(adds.finish()) << "an add never ended";
    std::printf("%d of %d window saves went through; %lld of 20 adds ended 0\n", saves, edits,
                qint64(adds.succeeded().size()));

    // THEN every add that ended 0 is in the file, and so is the window's
    // last saved edit
    const QByteArray file = readFile("tasks.txt");
    const QStringList inFile = titlesIn(file);
    for (const QString &title : adds.succeeded())
        EXPECT_TRUE(inFile.contains(title)) << title.toStdString() << " ended 0 but is missing";
    EXPECT_GT(adds.succeeded().size(), 10) << adds.failures().toStdString();
    ASSERT_FALSE(lastSaved.isEmpty()) << "no save of the window went through";
    EXPECT_TRUE(file.contains("ttl=Window\r\n"));
    EXPECT_TRUE(file.contains("des=" + lastSaved.toUtf8() + "\r\n"))
        << lastSaved.toStdString() << " was saved but is not in the file";
}

TEST_F(ListWriters, ASaveWhileAnotherHoldsTheListSaysSoAndKeepsTheEdit)
{
    addTask("Window", "Me", 1);
    frmMain &w = open();
    ASSERT_TRUE(saveEdit(w, "first"));
    // GIVEN another writer holding the list's lock
    const QStringList locks = listLocks();
    ASSERT_EQ(locks.size(), 1);
    const int held = ::open(QFile::encodeName(locks[0]).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    const QByteArray before = readFile("tasks.txt");

    // WHEN the window saves, THEN after its wait it says who holds the list
    // and writes nothing
    EXPECT_FALSE(saveEdit(w, "second"));
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].contains(
        QStringLiteral("is being changed by another Quillet (process %1)").arg(::getpid())))
        << boxes[0].toStdString();
    EXPECT_EQ(readFile("tasks.txt"), before);
    // AND the window keeps the edit, which its next save writes once the
    // list is let go
    ::close(held);
    const int row = rowOf("Window");
    ASSERT_GT(row, 0);
    w.highlight(static_cast<qint16>(row));
    EXPECT_EQ(Module1::tasks[size_t(w.selectedTask() - 1)].description, "second");
    w.menu_undelete_Click();
    EXPECT_EQ(boxes.size(), 1);
    EXPECT_TRUE(readFile("tasks.txt").contains("des=second\r\n"));
}

// A save that failed leaves its change in the list; an event on the file
// that changes nothing in it (its times touched, the same bytes written
// again) must not read the old file over that change.
TEST_F(ListWriters, AFailedSavesChangeOutlivesAnEventThatChangedNothing)
{
    struct Row {
        const char *name;
        std::function<void()> event;
    };
    const Row rows[] = {
        {"times touched",
         [] { ASSERT_EQ(::utimensat(AT_FDCWD, "tasks.txt", nullptr, 0), 0); }},
        {"the same bytes written again",
         [] { testsupport::writeFile("tasks.txt", readFile("tasks.txt")); }},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        testsupport::resetWorld();
        answerBoxes();
        boxes.clear();
        addTask("Window", "Me", 1);
        frmMain &w = open();
        w.followFile();
        ASSERT_TRUE(saveEdit(w, "saved"));
        // GIVEN an edit whose save failed at the disk
        Module1::setSyncHook([](int) {
            errno = EIO;
            return -1;
        });
        EXPECT_FALSE(saveEdit(w, "unsaved"));
        Module1::setSyncHook({});
        ASSERT_EQ(boxes.size(), 1);
        auto *watch = w.findChild<Module1::FolderWatch *>();
        ASSERT_NE(watch, nullptr);
        QSignalSpy seen(watch, &Module1::FolderWatch::changed);

        // WHEN the file sees an event that leaves its text as it was
        r.event();
        ASSERT_TRUE(QTest::qWaitFor([&] { return seen.count() > 0; }));
        QCoreApplication::processEvents();

        // THEN the list keeps the edit, and the next save writes it
        const int row = rowOf("Window");
        ASSERT_GT(row, 0);
        w.highlight(static_cast<qint16>(row));
        EXPECT_EQ(Module1::tasks[size_t(w.selectedTask() - 1)].description, "unsaved");
        w.menu_undelete_Click();
        EXPECT_EQ(boxes.size(), 1) << boxes.join('\n').toStdString();
        EXPECT_TRUE(readFile("tasks.txt").contains("des=unsaved\r\n"));
    }
}

}  // namespace
