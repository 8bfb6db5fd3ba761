#include "common/accessibleevents.h"
#include "mainwindow/navhotarea.h"
#include "mainwindow/navigationpane.h"
#include "mainwindow/tasklistcanvas.h"
#include "mainwindowfixture.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include <algorithm>
#include <functional>

// Readable failure output.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

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

namespace {

// What the window tells assistive tools, read without an accessibility bus.
struct HeardEvent {
    QAccessible::Event type;
    QString name;  // of the object the event is about
};
std::vector<HeardEvent> heard;

void hear(QAccessibleEvent *event)
{
    QAccessibleInterface *iface = event->accessibleInterface();
    heard.push_back({event->type(), iface ? iface->text(QAccessible::Name) : QString()});
}

class Listening : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        heard.clear();
        accessibleevents::setSink(hear);
    }
    void TearDown() override
    {
        accessibleevents::setSink(nullptr);
        MainWindowTest::TearDown();
    }

    // The window shown and active, three tasks listed.
    frmMain &openThree()
    {
        addTask(QStringLiteral("Pay the rent"), QStringLiteral("Me"), 3);
        addTask(QStringLiteral("Dentist"), QStringLiteral("Anna"), 5);
        addTask(QStringLiteral("Call Bob"), QStringLiteral("Eve"), 6);
        frmMain &w = open();
        w.show();
        QApplication::setActiveWindow(&w);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&w));
        return w;
    }

    QAccessibleInterface *list()
    {
        return QAccessible::queryAccessibleInterface(window().lstContainer);
    }
    QString rowName(int k) { return window().lstContainer->rowAccessibleText(k); }

    static std::vector<QString> heardOf(QAccessible::Event type)
    {
        std::vector<QString> names;
        for (const HeardEvent &e : heard)
            if (e.type == type)
                names.push_back(e.name);
        return names;
    }
};

}  // namespace

// Each way of moving the selection tells the new row as focused and
// selected, and the row left as no longer selected, by their names.
TEST_F(Listening, SelectionChangesTellTheNewRow)
{
    frmMain &w = openThree();
    w.lstContainer->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();

    struct Step {
        const char *what;
        std::function<void()> act;
        int row;   // selected afterwards
        int left;  // the row that lost the selection, 0 none
    };
    const auto key = [&](Qt::Key k) { return [&w, k] { QTest::keyClick(w.lstContainer, k); }; };
    const Step steps[] = {
        {"Down with nothing selected", key(Qt::Key_Down), 1, 0},
        {"Down", key(Qt::Key_Down), 2, 1},
        {"End", key(Qt::Key_End), 3, 2},
        {"Up", key(Qt::Key_Up), 2, 3},
        {"Home", key(Qt::Key_Home), 1, 2},
        {"a click",
         [&w] {
             QTest::mouseClick(w.lstContainer, Qt::LeftButton, {},
                               w.lstContainer->cellRect(3, ListColumn::Due).center());
         },
         3, 1},
    };
    for (const Step &s : steps) {
        heard.clear();
        s.act();
        QApplication::processEvents();
        EXPECT_EQ(heardOf(QAccessible::Focus), std::vector{rowName(s.row)}) << s.what;
        EXPECT_EQ(heardOf(QAccessible::SelectionAdd), std::vector{rowName(s.row)}) << s.what;
        const std::vector<QString> left =
            s.left ? std::vector{rowName(s.left)} : std::vector<QString>{};
        EXPECT_EQ(heardOf(QAccessible::SelectionRemove), left) << s.what;
    }

    // Down on the last row moves nothing and says nothing.
    heard.clear();
    QTest::keyClick(w.lstContainer, Qt::Key_Down);
    QApplication::processEvents();
    EXPECT_TRUE(heard.empty());

    // Coming back to the list by Tab puts the focus on its selected row.
    w.txtDescription->setFocus(Qt::TabFocusReason);
    heard.clear();
    QTest::keyClick(w.txtDescription, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), w.lstContainer);
    QApplication::processEvents();
    EXPECT_EQ(heardOf(QAccessible::Focus), std::vector{rowName(3)});
}

// The selected row is the list's focused item and its selection, through the
// states and the table interface as in QListView.
TEST_F(Listening, SelectionIsExposedAsInItemViews)
{
    frmMain &w = openThree();
    QAccessibleInterface *tasks = list();
    QAccessibleTableInterface *table = tasks->tableInterface();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->columnCount(), 1);
    EXPECT_EQ(table->selectedRowCount(), 0);
    EXPECT_TRUE(table->selectedCells().isEmpty());

    w.highlight(2);
    EXPECT_EQ(table->selectedRows(), QList<int>{1});
    EXPECT_TRUE(table->isRowSelected(1));
    EXPECT_FALSE(table->isRowSelected(0));
    QAccessibleInterface *row = table->cellAt(1, 0);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->text(QAccessible::Name), rowName(2));
    EXPECT_EQ(table->selectedCells(), QList{row});
    ASSERT_NE(row->tableCellInterface(), nullptr);
    EXPECT_EQ(row->tableCellInterface()->rowIndex(), 1);
    EXPECT_TRUE(row->tableCellInterface()->isSelected());
    EXPECT_EQ(tasks->indexOfChild(row), tasks->childCount() - 2);
    EXPECT_TRUE(row->state().selected);
    EXPECT_FALSE(row->state().focused) << "the list has no focus yet";

    w.lstContainer->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(row->state().focused);
    EXPECT_EQ(tasks->focusChild(), row);

    // A tool may select a row too, as a click would.
    EXPECT_TRUE(table->selectRow(0));
    EXPECT_EQ(w.lstContainer->selectedRow(), 1);
    EXPECT_EQ(w.selectedTask(), 1);
    EXPECT_FALSE(table->selectRow(3));
}

// A redraw builds new rows: the objects handed out before are gone, and the
// row selected again is told anew (a reader would otherwise sit on a row
// that no longer exists).
TEST_F(Listening, RedrawReplacesTheRowObjects)
{
    frmMain &w = openThree();
    w.lstContainer->setFocus(Qt::TabFocusReason);
    QTest::keyClick(w.lstContainer, Qt::Key_Down);
    QApplication::processEvents();
    const QAccessible::Id before = QAccessible::uniqueId(list()->tableInterface()->cellAt(0, 0));

    heard.clear();
    w.cmdTitle_Click();  // by title: Call Bob, Dentist, Pay the rent
    QApplication::processEvents();
    EXPECT_EQ(QAccessible::accessibleInterface(before), nullptr);
    // The selection stays with the slot, which now holds Call Bob (row 1).
    EXPECT_EQ(heardOf(QAccessible::Focus), std::vector{rowName(1)});
    EXPECT_TRUE(rowName(1).startsWith(QStringLiteral("Call Bob, for Eve")));

    // Without focus in the list a redraw says nothing of focus.
    w.txtDescription->setFocus(Qt::TabFocusReason);
    heard.clear();
    w.drawList();
    QApplication::processEvents();
    EXPECT_TRUE(heardOf(QAccessible::Focus).empty());
    EXPECT_EQ(heardOf(QAccessible::SelectionAdd), std::vector{rowName(1)});
}

// Tabbing into the list with no row selected frames the rows' area, as no
// row shows the focus; with a row selected the row shows it.
TEST_F(Listening, FocusFrameWhenNothingIsSelected)
{
    frmMain &w = openThree();
    TaskListCanvas *canvas = w.lstContainer;
    const QRect frame = canvas->focusFrameRect();
    ASSERT_FALSE(frame.isEmpty());
    const QImage unfocused = canvas->grab(frame).toImage();

    w.txtDescription->setFocus(Qt::TabFocusReason);
    QTest::keyClick(w.txtDescription, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), canvas);
    QApplication::processEvents();
    EXPECT_TRUE(heardOf(QAccessible::Focus).empty()) << "no row to tell; Qt tells of the list";
    EXPECT_NE(canvas->grab(frame).toImage(), unfocused);

    QTest::keyClick(canvas, Qt::Key_Down);
    QTest::keyClick(canvas, Qt::Key_Up);  // back on row 1: rows 2, 3 as before
    const QRect below =
        frame.adjusted(0, 3 * canvas->cellRect(1, ListColumn::Title).height(), 0, 0);
    EXPECT_EQ(canvas->grab(below).toImage(), unfocused.copy(below.translated(-frame.topLeft())));
}

// The navigation items are buttons a reader can press; the item of the view
// shown is checked, and a change of view is told.
TEST_F(Listening, NavigationItemsArePressableButtons)
{
    frmMain &w = openThree();
    std::vector<QAccessibleInterface *> items;
    for (NavHotArea *hot : w.pctMenu->Image1)
        items.push_back(QAccessible::queryAccessibleInterface(hot));

    const QStringList names{QStringLiteral("Immideate Attention"), QStringLiteral("All Items"),
                            QStringLiteral("Recycled"), QStringLiteral("New Task")};
    for (size_t k = 0; k < items.size(); ++k) {
        SCOPED_TRACE(names[int(k)].toStdString());
        EXPECT_EQ(items[k]->role(), QAccessible::Button);
        EXPECT_EQ(items[k]->text(QAccessible::Name), names[int(k)]);
        ASSERT_NE(items[k]->actionInterface(), nullptr);
        EXPECT_TRUE(items[k]->actionInterface()->actionNames().contains(
            QAccessibleActionInterface::pressAction()));
        EXPECT_EQ(items[k]->state().checkable, k < 3) << "New Task is no view";
        EXPECT_EQ(items[k]->state().checked, k == 1);
    }

    heard.clear();
    items[2]->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QApplication::processEvents();  // pressed after the tool's call returns
    EXPECT_TRUE(w.showDeleted());
    EXPECT_TRUE(items[2]->state().checked);
    EXPECT_FALSE(items[1]->state().checked);
    std::vector<QString> changed = heardOf(QAccessible::StateChanged);
    std::sort(changed.begin(), changed.end());
    EXPECT_EQ(changed, (std::vector<QString>{names[1], names[2]}));
}

// The panes a reader meets besides the list have names.
TEST_F(Listening, DescriptionAndStatusPanelsAreNamed)
{
    frmMain &w = openThree();
    const auto name = [](QWidget *widget) {
        return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
    };
    EXPECT_EQ(name(w.txtDescription), QStringLiteral("Description"));
    EXPECT_EQ(name(w.statusPanels[0]), QStringLiteral("Status"));
    EXPECT_EQ(name(w.statusPanels[1]), QStringLiteral("Status details"));
    EXPECT_EQ(name(w.statusPanels[2]), QStringLiteral("Date: ") + w.statusPanels[2]->text());
    EXPECT_FALSE(w.statusPanels[2]->text().isEmpty());
}
