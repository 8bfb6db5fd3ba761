// The list follows its file: a change made elsewhere shows by itself,
// the selection staying on its task, but never under an open dialog.
#include "mainwindowfixture.h"

#include "store/folderwatch.h"

#include <QDialog>
#include <QFile>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

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
        // The editor a command opens: what the test runs in its place.
        frmMainHooks hooks;
        hooks.showTaskEditor = [this](qint16) {
            if (inEditor)
                inEditor();
            return TaskEditorResult{};
        };
        frmMain &w = open(std::move(hooks));
        w.show();
        w.followFile();
        return w;
    }
    // What another program writes: Alpha gone, Bravo kept in another slot
    // (two tasks now come before it).
    static void writeElsewhere(bool keepBravo = true, const QString &path = "tasks.txt")
    {
        const QDate today(2026, 12, 8);
        std::vector<testsupport::TaskLines> lines{dueOn("Zulu", today),
                                                  dueOn("Yankee", today.addDays(1)),
                                                  dueOn("Charlie", today.addDays(3))};
        if (keepBravo)
            lines.push_back(dueOn("Bravo", today.addDays(2)));
        // The window's own tasks are due at 9:00, not 9:05.
        for (auto &l : lines)
            l.minute = 0;
        testsupport::writeFile(path, taskFile(lines, {}));
    }
    QString selectedTitle()
    {
        const qint16 selected = window().selectedTask();
        return selected > 0 ? Module1::tasks[size_t(selected - 1)].title : QString();
    }

    std::function<void()> inEditor;
};

TEST_F(FollowFile, AnOutsideChangeShowsWithTheSelectionOnTheSameTask)
{
    frmMain &w = openFollowing();
    w.highlight(static_cast<qint16>(rowOf("Bravo")));
    ASSERT_EQ(selectedTitle(), "Bravo");

    writeElsewhere();

    ASSERT_TRUE(QTest::qWaitFor([&] { return rowOf("Zulu") == 1; })) << rowCount();
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return rowOf("Zulu") == 1; })) << rowCount();
    EXPECT_EQ(w.selectedTask(), 0);
    EXPECT_TRUE(w.txtDescription->toPlainText().isEmpty());
}

// A task whose recycled flag differs is another task: the selection never
// lands on it, wherever it stands.
struct FlagCase {
    const char *name;
    bool recycledView;                              // the view the selection is made in
    const char *selected;                           // its title
    std::vector<testsupport::TaskLines> elsewhere;  // what another program writes
    const char *selectedAfter;                      // nullptr: nothing selected
};

void PrintTo(const FlagCase &c, std::ostream *os) { *os << c.name; }

class FollowFlag : public FollowFile, public ::testing::WithParamInterface<FlagCase> { };

// Due `days` after the pinned today at 9:00, as the window's own tasks are.
testsupport::TaskLines dueIn(const char *title, int days, const char *deleted = "N")
{
    testsupport::TaskLines t = dueOn(title, QDate(2026, 12, 8).addDays(days), deleted);
    t.minute = 0;
    return t;
}

TEST_P(FollowFlag, TheSelectionStaysOnlyOnTheTaskAsItWas)
{
    const FlagCase &c = GetParam();
    // GIVEN Alpha, Bravo, Charlie current (slots 1 to 3) and Delta recycled
    addTask("Alpha", "Me", 1);
    addTask("Bravo", "Me", 2, "N", "Bravo's note");
    addTask("Charlie", "Me", 3);
    addTask("Delta", "Me", 4, "Y", "Delta's note");
    frmMain &w = open();
    w.show();
    w.followFile();
    if (c.recycledView)
        w.Image1_Click(2);
    w.highlight(static_cast<qint16>(rowOf(c.selected)));
    ASSERT_EQ(selectedTitle(), c.selected);

    // WHEN another program rewrites the file
    testsupport::writeFile("tasks.txt", taskFile(c.elsewhere, {}));

    // THEN the list shows it, the selection on the same task or on none
    const auto read = [] {
        for (int i = 0; i < Module1::taskCount; ++i) {
            if (Module1::tasks[size_t(i)].title == "Zulu")
                return true;
        }
        return false;
    };
    ASSERT_TRUE(QTest::qWaitFor(read));
    EXPECT_EQ(rowOf("Zulu"), c.recycledView ? -1 : 1);
    EXPECT_EQ(rowCount(), c.recycledView ? 1 : 3);
    if (c.selectedAfter) {
        EXPECT_EQ(selectedTitle(), c.selectedAfter);
        EXPECT_EQ(Module1::tasks[size_t(w.selectedTask() - 1)].deleted, c.recycledView ? "Y" : "N");
        EXPECT_EQ(w.lstContainer->selectedRow(), rowOf(c.selectedAfter));
        EXPECT_EQ(w.txtDescription->toPlainText(), QString(c.selectedAfter) + "'s note");
    } else {
        EXPECT_EQ(w.selectedTask(), 0) << selectedTitle().toStdString();
        EXPECT_LT(w.lstContainer->selectedRow(), 1);
        EXPECT_TRUE(w.txtDescription->toPlainText().isEmpty());
    }
}

testsupport::TaskLines withNote(testsupport::TaskLines t, const char *note)
{
    t.description = QString::fromUtf8(note);
    return t;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FollowFlag,
    ::testing::Values(
        // Recycled elsewhere: it left the view, so nothing is selected.
        FlagCase{"RecycledElsewhere",
                 false,
                 "Bravo",
                 {dueIn("Zulu", 0), dueIn("Alpha", 1),
                  withNote(dueIn("Bravo", 2, "Y"), "Bravo's note"), dueIn("Charlie", 3),
                  withNote(dueIn("Delta", 4, "Y"), "Delta's note")},
                 nullptr},
        // A recycled copy of Bravo now stands in Bravo's old slot, Bravo
        // itself one further: the selection stays on the current one.
        FlagCase{"ARecycledCopyInItsSlot",
                 false,
                 "Bravo",
                 {dueIn("Zulu", 1), withNote(dueIn("Bravo", 2, "Y"), "Bravo's note"),
                  withNote(dueIn("Bravo", 2), "Bravo's note"), dueIn("Charlie", 3)},
                 "Bravo"},
        // Restored elsewhere, seen from the recycled view.
        FlagCase{"RestoredElsewhere",
                 true,
                 "Delta",
                 {dueIn("Zulu", 0), dueIn("Alpha", 1), dueIn("Charlie", 3),
                  withNote(dueIn("Delta", 4), "Delta's note"), dueIn("Echo", 5, "Y")},
                 nullptr},
        // The same in the recycled view: a current copy in its old slot.
        FlagCase{"ACurrentCopyInItsSlot",
                 true,
                 "Delta",
                 {dueIn("Zulu", 0), dueIn("Alpha", 1), dueIn("Charlie", 3),
                  withNote(dueIn("Delta", 4), "Delta's note"),
                  withNote(dueIn("Delta", 4, "Y"), "Delta's note")},
                 "Delta"}),
    [](const auto &info) { return std::string(info.param.name); });

// While a dialog or a command owns the tables, a change is read only once
// it is done.
TEST_F(FollowFile, NothingIsReadWhileADialogIsOpenAndAllOfItAfter)
{
    struct Row {
        const char *name;
        // Opens what owns the tables, runs `during` in it, and ends it.
        std::function<void(frmMain &, const std::function<void()> &during)> hold;
    };
    const Row rows[] = {
        {"a modal dialog",
         [](frmMain &w, const std::function<void()> &during) {
             QDialog editor(&w);
             editor.setModal(true);
             editor.show();
             during();
             editor.close();
         }},
        // Tasks › Modify before its editor is up: no dialog is open yet.
        {"a command",
         [this](frmMain &w, const std::function<void()> &during) {
             w.highlight(static_cast<qint16>(rowOf("Alpha")));
             inEditor = during;
             w.menu_modify_Click();
             inEditor = nullptr;
         }},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        testsupport::resetWorld();
        frmMain &w = openFollowing();
        auto *watch = w.findChild<Module1::FolderWatch *>();
        ASSERT_NE(watch, nullptr);
        QSignalSpy seen(watch, &Module1::FolderWatch::changed);
        bool held = false;
        r.hold(w, [&] {
            held = true;
            // WHEN the file changes and the change is seen
            writeElsewhere();
            ASSERT_TRUE(QTest::qWaitFor([&] { return seen.count() > 0; }));
            // THEN the list is as it was until the dialog closes
            EXPECT_EQ(rowCount(), 3);
            EXPECT_EQ(rowOf("Alpha"), 1);
        });
        EXPECT_TRUE(held);
        ASSERT_TRUE(QTest::qWaitFor([&] { return rowOf("Zulu") == 1; })) << rowCount();
    }
}

// A list that is a link is followed to the file it points to, also once
// the link is pointed at a file in another folder.
TEST_F(FollowFile, ALinkPointedElsewhereIsFollowedToItsNewFolder)
{
    QTemporaryDir first, second;
    ASSERT_TRUE(first.isValid() && second.isValid());
    ASSERT_TRUE(QFile::link(first.filePath("list.txt"), "tasks.txt"));
    openFollowing();  // written through the link
    ASSERT_EQ(testsupport::readFile(first.filePath("list.txt")).count("ttl="), 3);

    // WHEN the link is pointed at another folder's list, as one rename
    writeElsewhere(true, second.filePath("list.txt"));
    ASSERT_TRUE(QFile::link(second.filePath("list.txt"), "tasks.txt.new"));
    ASSERT_EQ(std::rename("tasks.txt.new", "tasks.txt"), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rowOf("Zulu") == 1; })) << rowCount();

    // THEN a change made there shows too
    testsupport::writeFile(second.filePath("list.txt"), taskFile({dueIn("Xray", 1)}, {}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rowOf("Xray") == 1; })) << rowCount();
    EXPECT_EQ(rowCount(), 1);
}

}  // namespace
