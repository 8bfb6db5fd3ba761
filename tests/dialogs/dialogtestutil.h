#pragma once

#include "common/messagebox.h"
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

// One task or rule as the task file lays it out, written here by hand so
// that the tests do not trust the writer they check.
struct TaskLines {
    QString title, forWhom;
    int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
    QString deleted, description;  // description already encoded ("|~")
};
struct RuleLines {
    int interval = 0;
    QString unit;
    qint64 color = 0;
    bool popup = false;
};

inline QByteArray taskFile(const std::vector<TaskLines> &tasks, const std::vector<RuleLines> &rules)
{
    QString s = QStringLiteral("; Quillet\r\n; ----------\r\n; Tasks and settings\r\n"
                               "; DO NOT MODIFY THIS FILE\r\n\r\n[Tasks]\r\n\r\n");
    for (const TaskLines &t : tasks)
        s += QStringLiteral("ttl=%1\r\nfor=%2\r\nday=%3\r\nmon=%4\r\nyea=%5\r\nhou=%6\r\n"
                            "min=%7\r\nsec=%8\r\ndel=%9\r\n")
                 .arg(t.title, t.forWhom)
                 .arg(t.day)
                 .arg(t.month)
                 .arg(t.year)
                 .arg(t.hour)
                 .arg(t.minute)
                 .arg(t.second)
                 .arg(t.deleted) +
             QStringLiteral("des=%1\r\nact=addtask\r\n\r\n").arg(t.description);
    s += QStringLiteral("[Alerts]\r\n\r\n");
    for (const RuleLines &r : rules)
        s += QStringLiteral("val=%1\r\nunt=%2\r\nclr=%3\r\nalr=%4\r\nact=addalert\r\n\r\n")
                 .arg(r.interval)
                 .arg(r.unit)
                 .arg(r.color)
                 .arg(r.popup ? QStringLiteral("on") : QStringLiteral("off"));
    s += QStringLiteral("\r\n");
    return s.toUtf8();
}

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
