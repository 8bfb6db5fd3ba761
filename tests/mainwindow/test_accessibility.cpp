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
#include <QWheelEvent>

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

    std::vector<QWidget *> expected = {
        w.txtDescription,         w.lstContainer,         w.vscroll,
        w.lstContainer->cmdTitle, w.lstContainer->cmdFor, w.lstContainer->cmdDue};
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

// Home and End go to the ends of the list also when nothing is selected yet
// (as right after a change of view); a wheel notch scrolls three rows.
TEST_F(MainWindowTest, HomeEndAndWheelWithoutASelection)
{
    for (int i = 0; i < 40; ++i)
        addTask(QStringLiteral("Task %1").arg(i, 2, 10, QLatin1Char('0')), QStringLiteral("Me"), i);
    frmMain &w = open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    struct Case {
        Qt::Key key;
        QString title;
    };
    for (const Case &c : {Case{Qt::Key_End, QStringLiteral("Task 39")},
                          Case{Qt::Key_Home, QStringLiteral("Task 00")}}) {
        w.Image1_Click(1);  // "All Items": no selection
        ASSERT_EQ(w.selectedTask(), 0);
        QTest::keyClick(w.lstContainer, c.key);
        ASSERT_GT(w.selectedTask(), 0);
        EXPECT_EQ(Module1::tasks[w.selectedTask() - 1].title, c.title);
    }

    w.vscroll->setValue(0);
    const QPoint at = w.lstContainer->cellRect(2, ListColumn::Title).center();
    QWheelEvent down(at, w.lstContainer->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                     Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w.lstContainer, &down);
    EXPECT_EQ(w.vscroll->value(), 3 * 17);
}
