#pragma once

#include "common/messagebox.h"
#include "support/taskfilebuilder.h"
#include "support/testsupport.h"

#include <QByteArray>
#include <QDir>
#include <QLineEdit>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

// Readable failure output.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace dialogtest {

using testsupport::RuleLines;
using testsupport::taskFile;
using testsupport::TaskLines;

// Every test runs in its own empty current directory, where the dialogs
// find tasks.txt.
class InTempDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_oldDir = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
        MessageBox::clearLastShown();
    }
    void TearDown() override { QDir::setCurrent(m_oldDir); }

    QString filePath() const { return m_dir.filePath(QStringLiteral("tasks.txt")); }
    void writeTasks(const QByteArray &bytes) { testsupport::writeFile(filePath(), bytes); }
    QByteArray tasksOnDisk() const { return testsupport::readFile(filePath()); }
    // A folder where the file should be: reading and saving both fail.
    void blockTaskFile() { ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("tasks.txt"))); }

private:
    QTemporaryDir m_dir;
    QString m_oldDir;
};

// Replaces the box's text the way a user does: select all, then type.
inline void retype(QLineEdit *box, const QString &text)
{
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    QTest::keyClicks(box, text);
}

// Clicks `button` with the next message box answered OK; returns what the
// box said, empty when none was shown.
inline std::string clickPastBox(QWidget *button)
{
    MessageBox::setNextAnswer(QMessageBox::Ok);
    QTest::mouseClick(button, Qt::LeftButton);
    const auto shown = MessageBox::lastShown();
    return shown ? shown->text.toStdString() : std::string();
}

}  // namespace dialogtest
