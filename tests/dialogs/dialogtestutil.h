#pragma once

#include "common/messagebox.h"
#include "support/editorfixture.h"
#include "support/taskfilebuilder.h"
#include "support/testsupport.h"

#include <QByteArray>
#include <QLineEdit>
#include <QString>
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
