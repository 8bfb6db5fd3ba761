// The list follows its file: a change made elsewhere shows by itself,
// the selection staying on its task, but never under an open dialog.
#include "mainwindowfixture.h"

#include "store/folderwatch.h"

#include <QDialog>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>

namespace {

using testsupport::dueOn;
using testsupport::taskFile;

class FollowFile : public MainWindowTest {
protected:
    frmMain &openFollowing()
    {
        addTask("Alpha", "Me", 1);
        addTask("Bravo", "Me", 2);
        addTask("Charlie", "Me", 3);
        frmMain &w = open();
        w.show();
        w.followFile();
        return w;
    }
    // What another program writes: Alpha gone, Bravo kept in another slot
    // (two tasks now come before it).
    static void writeElsewhere(bool keepBravo = true)
    {
        const QDate today(2026, 12, 8);
        std::vector<testsupport::TaskLines> lines{dueOn("Zulu", today), dueOn("Yankee", today.addDays(1)),
                                                  dueOn("Charlie", today.addDays(3))};
        if (keepBravo)
            lines.push_back(dueOn("Bravo", today.addDays(2)));
        // The window's own tasks are due at 9:00, not 9:05.
        for (auto &l : lines)
            l.minute = 0;
        testsupport::writeFile("tasks.txt", taskFile(lines, {}));
    }
    QString selectedTitle()
    {
        const qint16 selected = window().selectedTask();
        return selected > 0 ? Module1::tasks[size_t(selected - 1)].title : QString();
    }
};

TEST_F(FollowFile, AnOutsideChangeShowsWithTheSelectionOnTheSameTask)
{
    frmMain &w = openFollowing();
    w.highlight(static_cast<qint16>(rowOf("Bravo")));
    ASSERT_EQ(selectedTitle(), "Bravo");

    writeElsewhere();

    QTRY_COMPARE(rowOf("Zulu"), 1);
    EXPECT_EQ(rowCount(), 4);
    EXPECT_EQ(rowOf("Alpha"), -1);
    EXPECT_EQ(selectedTitle(), "Bravo");
    EXPECT_EQ(w.lstContainer->selectedRow(), rowOf("Bravo"));
}

TEST_F(FollowFile, ASelectedTaskRemovedElsewhereLeavesNothingSelected)
{
    frmMain &w = openFollowing();
    w.highlight(static_cast<qint16>(rowOf("Bravo")));
    writeElsewhere(false);
    QTRY_COMPARE(rowOf("Zulu"), 1);
    EXPECT_EQ(w.selectedTask(), 0);
    EXPECT_TRUE(w.txtDescription->toPlainText().isEmpty());
}

TEST_F(FollowFile, NothingIsReadWhileADialogIsOpenAndAllOfItAfter)
{
    frmMain &w = openFollowing();
    auto *watch = w.findChild<Module1::FolderWatch *>();
    ASSERT_NE(watch, nullptr);
    QSignalSpy seen(watch, &Module1::FolderWatch::changed);
    // GIVEN an editor open (any modal dialog owns the tables)
    QDialog editor(&w);
    editor.setModal(true);
    editor.show();
    // WHEN the file changes and the change is seen
    writeElsewhere();
    QTRY_VERIFY(seen.count() > 0);
    // THEN the list is as it was until the dialog closes
    EXPECT_EQ(rowCount(), 3);
    EXPECT_EQ(rowOf("Alpha"), 1);
    editor.close();
    QTRY_COMPARE(rowOf("Zulu"), 1);
}

}  // namespace
