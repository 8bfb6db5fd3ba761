#include "mainwindow/navhotarea.h"
#include "mainwindow/navigationpane.h"
#include "mainwindow/tasklistcanvas.h"
#include "mainwindowfixture.h"

#include <QAccessible>
#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

namespace {

QString nameOf(QWidget *w) { return w ? w->objectName() : QStringLiteral("(none)"); }

}  // namespace

// Tab walks every control in the window's order and comes back round;
// the hidden browser is skipped.
TEST_F(MainWindowTest, TabReachesEveryControlInOrder)
{
    addTask(QStringLiteral("Pay the rent"), QStringLiteral("Me"), 3);
    frmMain &w = open();
    w.show();
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));

    std::vector<QWidget *> expected = {w.txtDescription, w.lstContainer, w.vscroll,
                                       w.lstContainer->cmdTitle, w.lstContainer->cmdFor,
                                       w.lstContainer->cmdDue};
    for (QWidget *item : w.pctMenu->Image1)
        expected.push_back(item);

    w.txtDescription->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), w.txtDescription);
    for (size_t i = 1; i <= expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *want = expected[i % expected.size()];
        ASSERT_EQ(QApplication::focusWidget(), want)
            << "step " << i << ": focus on " << nameOf(QApplication::focusWidget()).toStdString()
            << ", expected " << nameOf(want).toStdString();
    }
}

// A screen reader reads each painted row as a list item named by its cells.
TEST_F(MainWindowTest, RowsAreListItemsNamedByTheirCells)
{
    addTask(QStringLiteral("Pay the rent"), QStringLiteral("Me"), 3);
    addTask(QStringLiteral("Dentist"), QStringLiteral("Anna"), 5);
    frmMain &w = open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(w.lstContainer);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->role(), QAccessible::List);

    QStringList names;
    for (int i = 0; i < list->childCount(); ++i) {
        QAccessibleInterface *child = list->child(i);
        ASSERT_NE(child, nullptr);
        if (child->role() == QAccessible::ListItem) {
            names << child->text(QAccessible::Name);
            EXPECT_EQ(child->parent(), list);
            EXPECT_EQ(list->indexOfChild(child), i);
        }
    }
    ASSERT_EQ(names.size(), 2);
    EXPECT_TRUE(names[0].startsWith(QStringLiteral("Pay the rent, for Me, due December 11/26")))
        << names[0].toStdString();
    EXPECT_TRUE(names[1].startsWith(QStringLiteral("Dentist, for Anna, due December 13/26")))
        << names[1].toStdString();

    // After a redraw with fewer rows the old row interface is no longer valid.
    const int before = list->childCount();
    QAccessibleInterface *second = list->child(before - 1);
    Module1::taskCount = 1;
    w.drawList();
    EXPECT_FALSE(second->isValid());
    EXPECT_EQ(list->childCount(), before - 1);
}
