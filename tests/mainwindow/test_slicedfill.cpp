// The list's rows get their due texts and colours when first read or
// painted and the rest in slices after the first paint: what a user or a
// screen reader meets is what filling every row at once gives, and acting
// while slices are still pending loses no task and shows none twice.
#include "common/messagebox.h"
#include "mainwindowfixture.h"
#include "store/ordering.h"
#include "store/rules.h"

#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>
#include <random>
#include <set>

using namespace Module1;

namespace {

void expectSameRow(const ListRow &a, const ListRow &b, int k)
{
    SCOPED_TRACE(k);
    EXPECT_EQ(a.id, b.id);
    EXPECT_EQ(a.top, b.top);
    EXPECT_EQ(a.visible, b.visible);
    for (int c = 0; c < 3; ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(a.cells[size_t(c)].caption, b.cells[size_t(c)].caption);
        EXPECT_EQ(a.cells[size_t(c)].color, b.cells[size_t(c)].color);
        EXPECT_EQ(a.cells[size_t(c)].themeText, b.cells[size_t(c)].themeText);
        EXPECT_EQ(a.cells[size_t(c)].bold, b.cells[size_t(c)].bold);
        EXPECT_EQ(a.cells[size_t(c)].opaque, b.cells[size_t(c)].opaque);
    }
}

}  // namespace

class SlicedFill : public MainWindowTest { };

// Against the obvious fill: every row made at once through addListTask,
// in table order, from the tables as the redraw left them.
TEST_F(SlicedFill, RowsEqualTheWholeFill)
{
    std::mt19937 rng(33);
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        resetTables();
        for (int i = 0, n = 20 + int(rng() % 200); i < n; ++i) {
            addTask(QStringLiteral("Task %1").arg(i), QStringLiteral("P%1").arg(rng() % 7),
                    int(rng() % 900) - 450, rng() % 4 ? QStringLiteral("N") : QStringLiteral("Y"));
            Task &t = tasks[size_t(taskCount - 1)];
            t.hour = qint16(rng() % 30);  // past a day, as a hand edit may leave it
            t.minute = qint16(rng() % 60);
            if (rng() % 10 == 0)
                t.month = 0;  // the due text makes it January
        }
        for (int i = 0, n = int(rng() % 5); i < n; ++i)
            addRule(qint16(rng() % 300), qint32(rng() & 0xFFFFFF),
                    rng() % 3 ? QStringLiteral("d") : QStringLiteral("ww"));
        frmMain &w = open();
        if (round % 3 == 1)
            w.Image1_Click(2);  // the recycled view
        if (round % 2 == 0) {
            // Some rows painted, a slice or two run, some read out of order.
            w.show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
            QCoreApplication::processEvents();
        }
        const int rows = rowCount();
        for (int i = 0; i < 5 && rows > 0; ++i)
            (void)row(1 + int(rng() % unsigned(rows)));

        frmMain whole;
        whole.cleanList();
        for (qint16 i = 0; i < taskCount; ++i) {
            Task &task = tasks[size_t(i)];
            if (isDeleted(task) == w.showDeleted())
                whole.addListTask(task.title, task.forWhom, dueMomentText(task), i);
        }
        ASSERT_EQ(whole.lstContainer->elementCount(), w.lstContainer->elementCount());
        for (int k = 1; k <= rows; ++k)
            expectSameRow(row(k), whole.lstContainer->row(k), k);
        EXPECT_FALSE(w.lstContainer->rowsPending());
    }
}

// The window shown at a size that leaves most rows pending, then sorted,
// a row selected, a task edited and one deleted before the slices end.
TEST_F(SlicedFill, ActingWhileRowsArePending)
{
    for (int i = 0; i < 400; ++i)
        addTask(QStringLiteral("Task %1").arg(i, 3, 10, QLatin1Char('0')),
                QStringLiteral("P%1").arg(i % 9), (i * 37) % 401 - 200);
    addRule(400, 0x0000FF);
    addRule(10, 0x00FF00);
    frmMainHooks hooks;
    hooks.showTaskEditor = [this](qint16 n) {
        Task &t = tasks[size_t(n - 1)];
        t.title = QStringLiteral("Edited");
        EXPECT_TRUE(saveTasks().ok());
        EXPECT_TRUE(loadTasks().ok());
        window().drawList();
        return TaskEditorResult{t, false};
    };
    frmMain &w = open(std::move(hooks));
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    // Each step acts at once, with rows still pending.
    const auto act = [&](const char *what, const std::function<void()> &step) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(w.lstContainer->rowsPending());
        step();
    };
    act("sort by title", [&] { w.lstContainer->cmdTitle->click(); });
    act("select", [&] {
        QTest::mouseClick(w.lstContainer, Qt::LeftButton, {},
                          w.lstContainer->cellRect(3, ListColumn::Title).center());
        EXPECT_EQ(w.lstContainer->selectedRow(), 3);
        EXPECT_EQ(title(3), QStringLiteral("Task 002"));
    });
    act("edit", [&] { w.menu_modify_Click(); });
    act("delete", [&] {
        const int k = rowOf(QStringLiteral("Task 010"));
        ASSERT_GT(k, 0);
        QTest::mouseClick(w.lstContainer, Qt::LeftButton, {},
                          w.lstContainer->cellRect(k, ListColumn::Title).center());
        MessageBox::setNextAnswer(QMessageBox::Yes);
        w.deleteTask();
    });
    act("sort by due", [&] { w.lstContainer->cmdDue->click(); });
    QTRY_VERIFY_WITH_TIMEOUT(!w.lstContainer->rowsPending(), 20000);

    // Every current task once, none twice, every row filled as the whole fill fills it.
    std::multiset<QString> shown;
    for (int k = 1; k <= rowCount(); ++k) {
        shown.insert(title(k));
        const int slot = row(k).id.toInt();
        Task copy = tasks[size_t(slot)];
        EXPECT_EQ(row(k).cell(ListColumn::Due).caption, dueMomentText(copy)) << k;
        EXPECT_EQ(row(k).cell(ListColumn::Title).caption, tasks[size_t(slot)].title) << k;
    }
    EXPECT_EQ(rowCount(), 399);
    EXPECT_EQ(shown.count(QStringLiteral("Edited")), 1u);
    EXPECT_EQ(shown.count(QStringLiteral("Task 002")), 0u);
    EXPECT_EQ(shown.count(QStringLiteral("Task 010")), 0u);
    EXPECT_EQ(std::set<QString>(shown.begin(), shown.end()).size(), shown.size());
    // Sorted by due: the redraw's order is the table's.
    for (int k = 1; k < rowCount(); ++k)
        EXPECT_LE(tasks[size_t(row(k).id.toInt())].sortKey,
                  tasks[size_t(row(k + 1).id.toInt())].sortKey);
}

// The fonts made while the alert window is read: a 0 ms timer that never
// stopped would keep a core busy all day.
TEST(FontsAhead, EndAfterTheirSlicesOrWithTheirWindow)
{
    for (const bool windowCloses : {false, true}) {
        SCOPED_TRACE(windowCloses ? "the window closes" : "the window stays");
        auto context = std::make_unique<QObject>();
        frmMain::makeFontsAhead(context.get());
        const QPointer<QTimer> timer = context->findChild<QTimer *>();
        ASSERT_FALSE(timer.isNull());
        if (windowCloses) {
            QCoreApplication::processEvents();
            context.reset();
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return timer.isNull(); }));
    }
}
