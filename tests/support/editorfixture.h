#pragma once

#include "common/messagebox.h"
#include "store/taskfile.h"
#include "support/tempfolder.h"
#include "support/testsupport.h"

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTest>

#include <gtest/gtest.h>

namespace testsupport {

// Every test runs in its own empty current directory, where the editors
// find tasks.txt, with no message box left from the test before.
class InListFolder : public InTempFolder<> {
protected:
    void SetUp() override
    {
        InTempFolder::SetUp();
        MessageBox::clearLastShown();
    }

    QString filePath() const { return folder().filePath(QStringLiteral("tasks.txt")); }
    void writeTasks(const QByteArray &bytes) { writeFile(filePath(), bytes); }
    QByteArray tasksOnDisk() const { return readFile(filePath()); }
    // A folder where the file should be: reading and saving both fail.
    void blockTaskFile() { ASSERT_TRUE(QDir(folder().path()).mkdir(QStringLiteral("tasks.txt"))); }
};

// An editor (frmTask, frmAlerts) on the list as the main window has it
// loaded; the main window's redraws its saves ask for are counted.
template <class Editor> class EditorTest : public InListFolder {
protected:
    void loadFile(const QByteArray &bytes)
    {
        writeTasks(bytes);
        ASSERT_TRUE(Module1::loadTasks().ok());
    }
    // Shows the editor, prepared by the test, once it counts the redraws.
    void showEditor()
    {
        dlg.setOnSaved([this] {
            ++redraws;
            hiddenAtRedraw = !dlg.isVisible();
        });
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    }

    Editor dlg;
    int redraws = 0;
    bool hiddenAtRedraw = false;  // the editor had closed by the last redraw
};

}  // namespace testsupport
