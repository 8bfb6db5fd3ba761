#include "dialogs/dialogsupport.h"
#include "dialogs/frmtask.h"

#include "dialogtestutil.h"

#include "common/messagebox.h"
#include "mainwindow/frmmain.h"
#include "mainwindow/tasklistcanvas.h"
#include "store/tables.h"
#include "store/taskfile.h"
#include "store/taskids.h"

#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextCursor>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace Module1;
using namespace dialogtest;  // the dialog tests' own helpers
using ::testing::HasSubstr;

namespace {

const TaskLines kRent{"Pay rent", "Me", 1, 4, 2026, 9, 0, 0, "N", "Bank transfer|~Ref 12"};
const TaskLines kDentist{"Dentist", "Anna", 14, 12, 2026, 15, 30, 0, "N", ""};
const RuleLines kRule{3, "d", 255, true};

TaskLines with(TaskLines t, QString TaskLines::*field, const char *value)
{
    t.*field = QString::fromUtf8(value);
    return t;
}

class FrmTaskTest : public testsupport::EditorTest<frmTask> {
protected:
    // GIVEN the file, loaded as the main window has it; the dialog shown
    // on task `number` (one past the end for a new task).
    void open(qint16 number)
    {
        const bool newTask = number > taskCount;
        if (newTask)
            taskCount = number;  // what new_task does before prepare
        dlg.prepare(number, newTask);
        showEditor();
    }

    void TearDown() override
    {
        dialogsupport::setTaskFileReader(nullptr);
        EditorTest::TearDown();
    }
};

TEST_F(FrmTaskTest, NewTaskCancelKeepsTheCountOfTheFile)
{
    const QByteArray file = dialogtest::taskFile({kRent, kDentist}, {kRule});
    loadFile(file);
    open(3);
    QTest::keyClicks(dlg.txtTitle, "Groceries");
    EXPECT_EQ(tasks[2].title, "Groceries");

    QTest::mouseClick(dlg.Command2, Qt::LeftButton);

    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.selected, -1);
    EXPECT_EQ(taskCount, 2);
    EXPECT_EQ(redraws, 0);
    EXPECT_EQ(tasksOnDisk(), file);
}

TEST_F(FrmTaskTest, NewTaskOkStoresTheTypedFields)
{
    loadFile(dialogtest::taskFile({kDentist}, {kRule}));
    open(2);
    // A slot never used: empty texts, zeros, no month.
    EXPECT_EQ(dlg.txtTitle->text(), "");
    EXPECT_EQ(dlg.txtDay->text(), "0");
    EXPECT_EQ(dlg.lstMonth->currentIndex(), -1);

    QTest::keyClicks(dlg.txtTitle, "Pay rent");
    QTest::keyClicks(dlg.txtFor, "Me");
    retype(dlg.txtDay, "1");
    dlg.lstMonth->setCurrentIndex(3);
    retype(dlg.txtYear, "2026");
    retype(dlg.txtHour, "9");
    retype(dlg.txtMinute, "0");
    retype(dlg.txtSecond, "0");
    dlg.txtDescript->setFocus();
    QTest::keyClicks(dlg.txtDescript, "Bank transfer");
    QTest::keyClick(dlg.txtDescript, Qt::Key_Return);
    QTest::keyClicks(dlg.txtDescript, "Ref 12");
    EXPECT_EQ(tasks[1].description, "Bank transfer\r\nRef 12");

    QTest::mouseClick(dlg.Command1, Qt::LeftButton);

    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(redraws, 1);
    EXPECT_TRUE(hiddenAtRedraw);
    EXPECT_EQ(dlg.selected, 2);
    TaskLines rent = kRent;
    rent.deleted = "";  // the dialog never sets the flag
    EXPECT_EQ(tasksOnDisk(), dialogtest::taskFile({kDentist, rent}, {kRule}));
    // Read back: the derived fields exist again.
    EXPECT_EQ(taskCount, 2);
    EXPECT_FALSE(tasks[1].sortKey.isEmpty());
}

TEST_F(FrmTaskTest, OkWithoutTouchingStoresTheSlotAsItIs)
{
    // A slot left behind by an earlier task keeps its content, flag included.
    tasks[0].title = "Left over";
    tasks[0].deleted = "Y";
    tasks[0].month = 0;
    open(1);
    QTest::mouseClick(dlg.Command1, Qt::LeftButton);
    TaskLines left{"Left over", "", 0, 0, 0, 0, 0, 0, "Y", ""};
    EXPECT_EQ(tasksOnDisk(), dialogtest::taskFile({left}, {}));
}

struct NumberCase {
    const char *typed;
    qint16 stored;
};

class DayBoxTest : public FrmTaskTest, public ::testing::WithParamInterface<NumberCase> { };

TEST_P(DayBoxTest, StoresTheLeadingNumberSaturated)
{
    tasks[0].day = 9;
    open(1);
    retype(dlg.txtDay, QString::fromUtf8(GetParam().typed));
    EXPECT_EQ(tasks[0].day, GetParam().stored);
    // The box keeps the text as typed.
    EXPECT_EQ(dlg.txtDay->text(), QString::fromUtf8(GetParam().typed));
    // Still usable afterwards.
    retype(dlg.txtDay, "5");
    EXPECT_EQ(tasks[0].day, 5);
}

INSTANTIATE_TEST_SUITE_P(Typed, DayBoxTest,
                         ::testing::Values(NumberCase{"12abc", 12}, NumberCase{"2.5", 2},
                                           NumberCase{"3.5", 4}, NumberCase{"- 7", -7},
                                           NumberCase{"1 5", 15}, NumberCase{"99999", 32767},
                                           NumberCase{"-99999", -32768}, NumberCase{"", 0},
                                           NumberCase{"abc", 0}, NumberCase{"31", 31}));

TEST_F(FrmTaskTest, EachNumberBoxWritesItsOwnField)
{
    struct Box {
        QLineEdit *frmTask::*box;
        qint16 Task::*field;
    };
    const Box boxes[] = {{&frmTask::txtDay, &Task::day},
                         {&frmTask::txtYear, &Task::year},
                         {&frmTask::txtHour, &Task::hour},
                         {&frmTask::txtMinute, &Task::minute},
                         {&frmTask::txtSecond, &Task::second}};
    open(1);
    qint16 value = 11;
    for (const Box &b : boxes) {
        const Task before = tasks[0];
        retype(dlg.*b.box, QString::number(value));
        Task expected = before;
        expected.*b.field = value;
        EXPECT_EQ(tasks[0], expected) << (dlg.*b.box)->objectName().toStdString();
        ++value;
    }
}

TEST_F(FrmTaskTest, MonthListPositionCountsFromOne)
{
    struct Case {
        qint16 stored;
        int shownIndex;
    };
    // Month 0 and a month outside 1..12 from a hand-edited file choose no
    // item and stay stored as they are.
    const Case cases[] = {{0, -1}, {1, 0}, {12, 11}, {13, -1}, {-2, -1}};
    for (const Case &c : cases) {
        tasks[0].month = c.stored;
        dlg.prepare(1);
        EXPECT_EQ(dlg.lstMonth->currentIndex(), c.shownIndex) << c.stored;
        EXPECT_EQ(tasks[0].month, c.stored);
    }
    open(1);
    EXPECT_FALSE(dlg.lstMonth->isEditable());
    dlg.lstMonth->setCurrentIndex(dlg.lstMonth->findText("March"));
    EXPECT_EQ(tasks[0].month, 3);
    dlg.lstMonth->setFocus();
    QTest::keyClick(dlg.lstMonth, Qt::Key_Down);
    EXPECT_EQ(tasks[0].month, 4);
}

TEST_F(FrmTaskTest, PrepareLeavesTheRecordAsItWas)
{
    Task &t = tasks[4];
    t.title = "Line\nfeed kept";
    t.forWhom = QString(40000, QLatin1Char('x'));  // longer than a line edit's default limit
    t.day = -32768;
    t.month = 13;
    t.year = 32767;
    t.hour = -1;
    t.minute = 75;
    t.second = 0;
    t.description = "one\r\ntwo\nlone feed";
    t.deleted = "Y";
    t.dueText = "stale";
    t.sortKey = "stale";
    const Task before = t;
    dlg.prepare(5);
    EXPECT_EQ(tasks[4], before);
    EXPECT_EQ(dlg.selected, 5);
}

TEST_F(FrmTaskTest, PrepareFillsEveryBox)
{
    tasks[0] = Task{"Report", "Boss", 2027, 2, 31, 5, 4, 23, "a\r\nb", "", "", "N"};
    dlg.prepare(1);
    EXPECT_EQ(dlg.txtTitle->text(), "Report");
    EXPECT_EQ(dlg.txtFor->text(), "Boss");
    EXPECT_EQ(dlg.txtDay->text(), "31");
    EXPECT_EQ(dlg.lstMonth->currentText(), "February");
    EXPECT_EQ(dlg.txtYear->text(), "2027");
    EXPECT_EQ(dlg.txtHour->text(), "23");
    EXPECT_EQ(dlg.txtMinute->text(), "4");
    EXPECT_EQ(dlg.txtSecond->text(), "5");
    EXPECT_EQ(dlg.txtDescript->toPlainText(), "a\nb");
}

TEST_F(FrmTaskTest, DescriptionLineBreaksBecomeCrLf)
{
    struct Case {
        QString box, stored;
    };
    const Case cases[] = {{"a\nb", "a\r\nb"},
                          {QString("a") + QChar::ParagraphSeparator + "b", "a\r\nb"},
                          {QString("a") + QChar::LineSeparator + "b", "a\r\nb"},
                          {"a\r\nb", "a\r\nb"},
                          {"a\n\nb\n", "a\r\n\r\nb\r\n"},
                          {"plain", "plain"}};
    for (const Case &c : cases)
        EXPECT_EQ(frmTask::descriptionFromBox(c.box), c.stored) << c.box.toStdString();

    // GIVEN a file with one task WHEN a line break is typed THEN the file
    // holds it encoded.
    loadFile(dialogtest::taskFile({kDentist}, {}));
    open(1);
    dlg.txtDescript->setFocus();
    QTest::keyClicks(dlg.txtDescript, "x");
    QTest::keyClick(dlg.txtDescript, Qt::Key_Return, Qt::ShiftModifier);  // a soft break
    QTest::keyClicks(dlg.txtDescript, "y");
    EXPECT_EQ(tasks[0].description, "x\r\ny");
    QTest::mouseClick(dlg.Command1, Qt::LeftButton);
    TaskLines saved = kDentist;
    saved.description = "x|~y";
    EXPECT_EQ(tasksOnDisk(), dialogtest::taskFile({saved}, {}));
}

struct PasteCase {
    QLineEdit *frmTask::*box;
    QString Task::*field;
    bool drop;  // dragged in rather than pasted
};

class PastedBreaksTest : public FrmTaskTest, public ::testing::WithParamInterface<PasteCase> { };

TEST_P(PastedBreaksTest, BecomeBlanksSoTheFieldStaysOneLineOfTheFile)
{
    loadFile(dialogtest::taskFile({kDentist}, {kRule}));
    open(1);
    QLineEdit *box = dlg.*GetParam().box;
    box->clear();
    const QString text = "Pasted\r\nclr=65280\r\nact=addalert\nlone\rend";
    if (GetParam().drop) {
        QMimeData mime;
        mime.setText(text);
        QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(box, &enter);
        QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(box, &drop);
    } else {
        QGuiApplication::clipboard()->setText(text);
        box->setFocus();
        QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    }
    const QString joined = "Pasted clr=65280 act=addalert lone end";
    EXPECT_EQ(box->text(), joined);
    EXPECT_EQ(box->cursorPosition(), joined.size());
    EXPECT_EQ(tasks[0].*GetParam().field, joined);

    QTest::mouseClick(dlg.Command1, Qt::LeftButton);

    // Read back: the text stayed in its field and made no rule.
    EXPECT_EQ(tasks[0].*GetParam().field, joined);
    EXPECT_EQ(alertRuleCount, 1);
}

INSTANTIATE_TEST_SUITE_P(Boxes, PastedBreaksTest,
                         ::testing::Values(PasteCase{&frmTask::txtTitle, &Task::title, false},
                                           PasteCase{&frmTask::txtFor, &Task::forWhom, false},
                                           PasteCase{&frmTask::txtTitle, &Task::title, true},
                                           PasteCase{&frmTask::txtFor, &Task::forWhom, true}));

// A paste far past what a line edit takes: cut at its limit at once. Left
// whole, a 4 MB title took the box seconds to lay out and a core to blink
// its caret; a long unbroken paragraph in the description, minutes.
struct LongPasteCase {
    const char *name;
    bool description;  // else the title box
    bool lines;        // the text in lines of 80, else unbroken
    qsizetype size;
};

void PrintTo(const LongPasteCase &c, std::ostream *os) { *os << c.name; }

class LongPasteTest : public FrmTaskTest, public ::testing::WithParamInterface<LongPasteCase> { };

TEST_P(LongPasteTest, IsCutToTheLimitOfALineEdit)
{
    const LongPasteCase &c = GetParam();
    loadFile(dialogtest::taskFile({kDentist}, {kRule}));
    open(1);
    QString text(c.size, QLatin1Char('x'));
    for (qsizetype i = 80; c.lines && i < text.size(); i += 81)
        text[i] = QLatin1Char('\n');
    QWidget *box = c.description ? static_cast<QWidget *>(dlg.txtDescript)
                                 : static_cast<QWidget *>(dlg.txtTitle);
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Delete);
    QGuiApplication::clipboard()->setText(text);

    QElapsedTimer t;
    t.start();
    QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    QCoreApplication::processEvents();
    const qint64 ms = t.elapsed();
    std::printf("%lld KB pasted into %s: %lld ms\n", static_cast<long long>(c.size >> 10), c.name,
                static_cast<long long>(ms));

    EXPECT_LT(ms, 3000) << "hang guard: some 100 ms on a quiet machine";
    const QString shown = c.description ? dlg.txtDescript->toPlainText() : dlg.txtTitle->text();
    EXPECT_EQ(shown, text.left(dialogsupport::kLongestText));
    EXPECT_EQ(c.description ? tasks[0].description : tasks[0].title,
              c.description ? frmTask::descriptionFromBox(shown) : shown);
    // Full: one more key adds nothing.
    QTest::keyClick(box, Qt::Key_Y);
    EXPECT_EQ(c.description ? dlg.txtDescript->toPlainText() : dlg.txtTitle->text(), shown);

    QTest::mouseClick(dlg.Command1, Qt::LeftButton);
    EXPECT_EQ(c.description ? tasks[0].description : tasks[0].title,
              c.description ? frmTask::descriptionFromBox(shown) : shown)
        << "saved and read back whole";
}

INSTANTIATE_TEST_SUITE_P(Boxes, LongPasteTest,
                         ::testing::Values(LongPasteCase{"Title", false, false, 4 << 20},
                                           // Unbroken text costs the layout the square of
                                           // its length: without the limit this fails in
                                           // seconds, not an hour.
                                           LongPasteCase{"Description", true, false, 256 << 10},
                                           LongPasteCase{"DescriptionInLines", true, true,
                                                         4 << 20}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(FrmTaskTest, ATextLongerThanTheLimitFromTheFileIsShownWholeAndKept)
{
    // GIVEN a file whose title and description are past the limit
    TaskLines longTask = kDentist;
    longTask.title = QString(40000, QLatin1Char('t'));
    longTask.description = QString(20000, QLatin1Char('d')) + "|~" + QString(20000, 'e');
    loadFile(dialogtest::taskFile({longTask}, {kRule}));
    open(1);
    EXPECT_EQ(dlg.txtTitle->text(), longTask.title);
    EXPECT_EQ(dlg.txtDescript->toPlainText().size(), 40001);

    // WHEN more is pasted at their ends
    QGuiApplication::clipboard()->setText("more");
    dlg.txtTitle->setFocus();
    dlg.txtTitle->end(false);
    QTest::keyClick(dlg.txtTitle, Qt::Key_V, Qt::ControlModifier);
    dlg.txtDescript->setFocus();
    dlg.txtDescript->moveCursor(QTextCursor::End);
    QTest::keyClick(dlg.txtDescript, Qt::Key_V, Qt::ControlModifier);
    QTest::mouseClick(dlg.Command1, Qt::LeftButton);

    // THEN nothing was cut and nothing added
    EXPECT_EQ(tasksOnDisk(), dialogtest::taskFile({longTask}, {kRule}));
}

TEST_F(FrmTaskTest, EscAndTheCloseBoxActAsCancel)
{
    const QByteArray file = dialogtest::taskFile({kRent}, {kRule});
    for (const bool closeBox : {false, true}) {
        loadFile(file);
        open(1);
        QTest::keyClick(dlg.txtTitle, Qt::Key_End);
        QTest::keyClicks(dlg.txtTitle, " changed");
        EXPECT_EQ(tasks[0].title, "Pay rent changed");
        if (closeBox)
            dlg.close();
        else
            QTest::keyClick(dlg.txtTitle, Qt::Key_Escape);
        EXPECT_FALSE(dlg.isVisible()) << closeBox;
        EXPECT_EQ(tasks[0].title, "Pay rent") << closeBox;
        EXPECT_EQ(dlg.selected, -1) << closeBox;
        EXPECT_EQ(tasksOnDisk(), file);
    }
    EXPECT_EQ(redraws, 0);
}

TEST_F(FrmTaskTest, EnterInABoxDoesNotPressOk)
{
    loadFile(dialogtest::taskFile({kRent}, {}));
    open(1);
    for (QLineEdit *box : {dlg.txtTitle, dlg.txtFor, dlg.txtDay, dlg.txtYear, dlg.txtHour,
                           dlg.txtMinute, dlg.txtSecond}) {
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Return);
        QTest::keyClick(box, Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_TRUE(dlg.isVisible()) << box->objectName().toStdString();
    }
    dlg.lstMonth->setFocus();
    QTest::keyClick(dlg.lstMonth, Qt::Key_Return);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(redraws, 0);
    EXPECT_FALSE(dlg.Command1->isDefault());

    // A button that has the focus is pressed by Enter, as anywhere else.
    dlg.Command1->setFocus();
    QTest::keyClick(dlg.Command1, Qt::Key_Return);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(redraws, 1);
}

TEST_F(FrmTaskTest, AFileChangedElsewhereIsReadAgainAndTheEditPutOnItsTask)
{
    loadFile(dialogtest::taskFile({kRent}, {}));
    open(1);
    QTest::keyClick(dlg.txtTitle, Qt::Key_End);
    QTest::keyClicks(dlg.txtTitle, "!");
    const QByteArray elsewhere = dialogtest::taskFile({kDentist, kRent}, {kRule});
    writeTasks(elsewhere);

    QTest::mouseClick(dlg.Command1, Qt::LeftButton);

    // Nothing to tell: both changes are in the file.
    EXPECT_FALSE(MessageBox::lastShown().has_value())
        << MessageBox::lastShown()->text.toStdString();
    const TaskLines typed = with(kRent, &TaskLines::title, "Pay rent!");
    EXPECT_EQ(tasksOnDisk(), dialogtest::taskFile({kDentist, typed}, {kRule}));
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(redraws, 1);
    EXPECT_TRUE(dlg.readAgain());
    EXPECT_EQ(dlg.selected, 2) << "the task's slot in the file as read again";
    ASSERT_TRUE(dlg.savedTask().has_value());
    EXPECT_EQ(dlg.savedTask()->title, "Pay rent!");
    EXPECT_EQ(taskCount, 2);
}

TEST_F(FrmTaskTest, AListThatKeepsChangingIsNotWaitedForForever)
{
    loadFile(dialogtest::taskFile({kRent}, {}));
    open(1);
    QTest::keyClick(dlg.txtTitle, Qt::Key_End);
    QTest::keyClicks(dlg.txtTitle, "!");
    // GIVEN another writer that changes the file again whenever it was read
    static int changes;
    changes = 0;
    const auto changeOnceMore = [] {
        const std::string title = "Change " + std::to_string(changes);
        testsupport::writeFile(
            taskFilePath(),
            dialogtest::taskFile({kRent, with(kDentist, &TaskLines::title, title.c_str())}, {}));
    };
    changeOnceMore();
    dialogsupport::setTaskFileReader([](const QString &) {
        const FileStatus read = loadTasks();
        ++changes;
        testsupport::writeFile(taskFilePath(), dialogtest::taskFile({kRent}, {}) + "; " +
                                                   QByteArray::number(changes) + "\r\n");
        return read;
    });

    // THEN Ok gives up after a few rounds, the edit kept in the editor
    EXPECT_THAT(dialogtest::clickPastBox(dlg.Command1), HasSubstr("keeps changing"));
    EXPECT_EQ(changes, 5);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.txtTitle->text(), "Pay rent!");
    EXPECT_EQ(redraws, 0);

    // AND once the file is left alone, Ok saves it
    dialogsupport::setTaskFileReader(nullptr);
    MessageBox::clearLastShown();
    QTest::mouseClick(dlg.Command1, Qt::LeftButton);
    EXPECT_FALSE(MessageBox::lastShown().has_value())
        << MessageBox::lastShown()->text.toStdString();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(tasksOnDisk(),
              dialogtest::taskFile({with(kRent, &TaskLines::title, "Pay rent!")}, {}));
}

TEST_F(FrmTaskTest, AnEditWhoseTaskLeftAFullListCanOnlyBeDropped)
{
    loadFile(dialogtest::taskFile({kRent}, {}));
    open(1);
    QTest::keyClick(dlg.txtTitle, Qt::Key_End);
    QTest::keyClicks(dlg.txtTitle, "!");
    // GIVEN the task gone and the list full elsewhere
    std::vector<TaskLines> full;
    for (int i = 0; i < kTaskSlots; ++i)
        full.push_back(with(kDentist, &TaskLines::title, std::to_string(i).c_str()));
    const QByteArray elsewhere = dialogtest::taskFile(full, {});
    writeTasks(elsewhere);

    // THEN Ok says so and can do nothing more, the text still shown
    EXPECT_THAT(dialogtest::clickPastBox(dlg.Command1), HasSubstr("cannot be saved as a new task"));
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_FALSE(dlg.Command1->isEnabled());
    EXPECT_EQ(dlg.txtTitle->text(), "Pay rent!");
    // AND Cancel drops it; nothing of it ever reaches the list
    QTest::keyClicks(dlg.txtTitle, "?");
    QTest::mouseClick(dlg.Command2, Qt::LeftButton);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(taskCount, kTaskSlots);
    EXPECT_EQ(serializeTables(), elsewhere);
    EXPECT_EQ(tasksOnDisk(), elsewhere);
}

TEST_F(FrmTaskTest, FailedSaveKeepsTheDialogOpenWithTheEdits)
{
    loadFile(dialogtest::taskFile({kRent}, {}));
    QFile::remove(filePath());
    blockTaskFile();
    open(1);
    QTest::keyClick(dlg.txtTitle, Qt::Key_End);
    QTest::keyClicks(dlg.txtTitle, "!");

    const std::string said = dialogtest::clickPastBox(dlg.Command1);

    EXPECT_THAT(said, HasSubstr("could not be saved"));
    EXPECT_THAT(said, HasSubstr(filePath().toStdString()));
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(redraws, 0);
    EXPECT_EQ(tasks[0].title, "Pay rent!");
}

class UnreadableCancelTest : public FrmTaskTest, public ::testing::WithParamInterface<qint16> { };

TEST_P(UnreadableCancelTest, StillDropsTheEditsAndANewTask)
{
    const QByteArray file = dialogtest::taskFile({kRent, kDentist}, {kRule});
    loadFile(file);
    QFile::remove(filePath());
    blockTaskFile();
    open(GetParam());
    QTest::keyClicks(dlg.txtTitle, "!");

    EXPECT_THAT(dialogtest::clickPastBox(dlg.Command2), HasSubstr("could not be read"));

    EXPECT_FALSE(dlg.isVisible());
    // What the next save would write: the file as it was, no blank task.
    EXPECT_EQ(taskCount, 2);
    EXPECT_EQ(serializeTables().toStdString(), file.toStdString());
}

// The first task, the last one, and a new one.
INSTANTIATE_TEST_SUITE_P(Tasks, UnreadableCancelTest, ::testing::Values(1, 2, 3));

TEST_F(FrmTaskTest, OkWhoseReadBackFailsClosesWithTheEditsAndFreshDueTexts)
{
    loadFile(dialogtest::taskFile({kRent, kDentist}, {kRule}));
    open(2);
    retype(dlg.txtDay, "20");
    // GIVEN a save that works and a read-back that does not
    dialogsupport::setTaskFileReader([](const QString &path) {
        return FileStatus{FileStatus::Unreadable, path + " could not be read: test"};
    });

    EXPECT_THAT(dialogtest::clickPastBox(dlg.Command1), HasSubstr("could not be read"));

    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(redraws, 1);
    // THEN the tables are as a good read-back of the saved file leaves them.
    const auto afterOk = tasks;
    EXPECT_EQ(afterOk[1].day, 20);
    dialogsupport::setTaskFileReader(nullptr);
    ASSERT_TRUE(loadTasks().ok());
    EXPECT_TRUE(tasks == afterOk);
}

TEST_F(FrmTaskTest, CancelWithoutAFileIsNoError)
{
    open(1);
    QTest::keyClicks(dlg.txtTitle, "First");
    QTest::mouseClick(dlg.Command2, Qt::LeftButton);
    EXPECT_FALSE(MessageBox::lastShown().has_value());
    EXPECT_EQ(taskCount, 0);
}

struct NumberInTable {
    qint16 number;
    bool editable;
};

class TaskNumberTest : public FrmTaskTest, public ::testing::WithParamInterface<NumberInTable> { };

TEST_P(TaskNumberTest, OnlyANumberWithASlotIsEdited)
{
    const auto before = tasks;
    dlg.prepare(GetParam().number);
    dlg.show();
    QTest::keyClicks(dlg.txtTitle, "x");
    retype(dlg.txtDay, "3");
    dlg.lstMonth->setCurrentIndex(2);

    EXPECT_EQ(dlg.Command1->isEnabled(), GetParam().editable);
    auto expected = before;
    if (GetParam().editable) {
        Task &t = expected[GetParam().number - 1];
        t.title = "x";
        t.day = 3;
        t.month = 3;
    }
    EXPECT_TRUE(tasks == expected);
}

// 1001 is the last slot; a new task while all are in use would be 1002.
INSTANTIATE_TEST_SUITE_P(Numbers, TaskNumberTest,
                         ::testing::Values(NumberInTable{1, true}, NumberInTable{kTaskSlots, true},
                                           NumberInTable{kTaskSlots + 1, false},
                                           NumberInTable{0, false}, NumberInTable{-5, false}));

}  // namespace

// The list changed outside while the editor is open, through the main
// window and the editor wired as the program wires them.
namespace outside {

using testsupport::dueOn;

const QDate kDay(2026, 12, 8);
const TaskLines kAlpha = dueOn("Alpha", kDay.addDays(1));
const TaskLines kBravo = dueOn("Bravo", kDay.addDays(2));
const TaskLines kCharlie = dueOn("Charlie", kDay.addDays(3));
// Due today: sorts before every other task, so the rows shift.
const TaskLines kAdded = dueOn("Added", kDay);

// Bravo as the user leaves it in the editor: "!" typed after the title.
const TaskLines kTyped = with(kBravo, &TaskLines::title, "Bravo!");
// A new task typed: the title only, on a slot never used.
const TaskLines kNew{"Echo", "", 0, 0, 0, 0, 0, 0, "", ""};

struct Case {
    const char *name;
    bool newTask;                      // else Bravo, the selected task, is edited
    std::vector<TaskLines> elsewhere;  // what another program writes meanwhile
    bool cancel;                       // Cancel instead of Ok
    bool staysOpen;                    // Ok is refused with a word why, the text kept
    std::vector<TaskLines> fileAfter;  // after Ok (once more when it stayed open)
    const char *selectedAfter;         // the selected task's title afterwards
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class ListChangedOutside : public testsupport::InListFolder,
                           public ::testing::WithParamInterface<Case> {
protected:
    void SetUp() override
    {
        InListFolder::SetUp();
        writeTasks(dialogtest::taskFile({kAlpha, kBravo, kCharlie}, {}));
        frmMainHooks hooks;
        hooks.showTaskEditor = [this](qint16 n) {
            editor->prepare(n, n != window->selectedTask());
            editor->exec();
            return TaskEditorResult{editor->savedTask(), editor->readAgain()};
        };
        window = std::make_unique<frmMain>(std::move(hooks));
        editor = new frmTask(window.get());
        editor->setOnSaved([this] { window->drawList(); });
    }
    void TearDown() override
    {
        window.reset();
        InListFolder::TearDown();
    }

    QString selectedTitle() const
    {
        const qint16 n = window->selectedTask();
        return n > 0 ? tasks[size_t(n - 1)].title : QString();
    }
    int rowOf(const QString &title) const
    {
        for (int k = 1; k < window->lstContainer->elementCount(); ++k) {
            if (window->lstContainer->row(k).cell(ListColumn::Title).caption == title)
                return k;
        }
        return -1;
    }

    std::unique_ptr<frmMain> window;
    frmTask *editor = nullptr;  // owned by the window
};

TEST_P(ListChangedOutside, KeepsWhatWasTypedAndTheSelectionOnItsTask)
{
    const Case &c = GetParam();
    // GIVEN Bravo selected (row 2) and the editor open on it, or on a new task
    window->highlight(static_cast<qint16>(rowOf("Bravo")));
    ASSERT_EQ(selectedTitle(), "Bravo");
    const QByteArray elsewhere = dialogtest::taskFile(c.elsewhere, {});
    bool ran = false;
    QTimer::singleShot(0, editor, [&] {
        ran = true;
        ASSERT_TRUE(editor->isVisible());
        // WHEN the user types, the file changes outside, and Ok (or Cancel)
        QTest::keyClick(editor->txtTitle, Qt::Key_End);
        QTest::keyClicks(editor->txtTitle, c.newTask ? "Echo" : "!");
        writeTasks(elsewhere);
        MessageBox::setNextAnswer(QMessageBox::Ok);
        QTest::mouseClick(c.cancel ? editor->Command2 : editor->Command1, Qt::LeftButton);
        if (c.staysOpen) {
            // THEN the editor says why and keeps the typed text
            ASSERT_TRUE(editor->isVisible());
            ASSERT_TRUE(MessageBox::lastShown().has_value());
            EXPECT_THAT(MessageBox::lastShown()->text.toStdString(),
                        HasSubstr("changed or removed there"));
            EXPECT_THAT(MessageBox::lastShown()->text.toStdString(),
                        HasSubstr("Ok saves it as a new task, Cancel drops it"));
            EXPECT_EQ(editor->txtTitle->text(), "Bravo!");
            EXPECT_EQ(tasksOnDisk(), elsewhere) << "nothing written yet";
            MessageBox::clearLastShown();
            QTest::mouseClick(editor->Command1, Qt::LeftButton);
        }
        if (editor->isVisible()) {
            ADD_FAILURE() << "the editor is still open";
            editor->reject();
        }
    });
    if (c.newTask)
        window->menu_new->trigger();
    else
        window->menu_modify->trigger();
    ASSERT_TRUE(ran);

    // THEN the file holds the outside change and the edit on its own task
    EXPECT_EQ(tasksOnDisk().toStdString(),
              (c.cancel ? elsewhere : dialogtest::taskFile(c.fileAfter, {})).toStdString());
    EXPECT_FALSE(MessageBox::lastShown().has_value())
        << MessageBox::lastShown()->text.toStdString();
    // AND the list shows the file, the selection on the task it was on
    const std::vector<TaskLines> &listed = c.cancel ? c.elsewhere : c.fileAfter;
    EXPECT_EQ(window->lstContainer->elementCount() - 1,
              std::count_if(listed.begin(), listed.end(),
                            [](const TaskLines &t) { return t.deleted != "Y"; }));
    EXPECT_EQ(selectedTitle(), c.selectedAfter);
    EXPECT_EQ(window->lstContainer->selectedRow(), rowOf(c.selectedAfter));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ListChangedOutside,
    ::testing::Values(
        // quillet --add: a task appended that sorts first.
        Case{"EditWhileATaskIsAdded",
             false,
             {kAlpha, kBravo, kCharlie, kAdded},
             false,
             false,
             {kAlpha, kTyped, kCharlie, kAdded},
             "Bravo!"},
        // A sync tool writes the tasks in its own order.
        Case{"EditWhileTheListIsReordered",
             false,
             {kCharlie, kAdded, kBravo, kAlpha},
             false,
             false,
             {kCharlie, kAdded, kTyped, kAlpha},
             "Bravo!"},
        // Bravo itself changed there: both versions kept.
        Case{"EditedTaskChangedElsewhere",
             false,
             {kAlpha, with(kBravo, &TaskLines::forWhom, "Anna"), kCharlie},
             false,
             true,
             {kAlpha, with(kBravo, &TaskLines::forWhom, "Anna"), kCharlie, kTyped},
             "Bravo!"},
        Case{"EditedTaskRecycledElsewhere",
             false,
             {kAlpha, with(kBravo, &TaskLines::deleted, "Y"), kCharlie},
             false,
             true,
             {kAlpha, with(kBravo, &TaskLines::deleted, "Y"), kCharlie, kTyped},
             "Bravo!"},
        Case{"EditedTaskRemovedElsewhere",
             false,
             {kAlpha, kCharlie},
             false,
             true,
             {kAlpha, kCharlie, kTyped},
             "Bravo!"},
        // A new task joins the list as it is now; Bravo stays selected.
        Case{"NewTaskWhileTheListIsReordered",
             true,
             {kAdded, kCharlie, kBravo, kAlpha},
             false,
             false,
             {kAdded, kCharlie, kBravo, kAlpha, kNew},
             "Bravo"},
        // Cancel reads the file back as ever, the typed text dropped.
        Case{"CancelWhileTheListIsReordered",
             false,
             {kCharlie, kAdded, kBravo, kAlpha},
             true,
             false,
             {},
             "Bravo"}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace outside

// A task keeps its calendar UID through the editor's Ok whatever the edit
// changed, title and due together too: an export made before and one made
// after give it the same UID.
TEST_F(FrmTaskTest, AnEditedTaskKeepsItsCalendarUid)
{
    struct Edit {
        const char *what;
        const char *title, *day, *year, *forWhom;
    } const edits[] = {
        {"title and due", "Pay the rent", "2", "2027", nullptr},
        {"title, due and for", "Rent", "3", "2026", "Sam"},
        {"due alone", nullptr, "9", nullptr, nullptr},
    };
    for (const Edit &e : edits) {
        SCOPED_TRACE(e.what);
        loadFile(dialogtest::taskFile({kRent, kDentist}, {kRule}));
        QFile::remove(folder().filePath(".tasks.txt.uids"));
        QStringList exported;
        QString why;
        ASSERT_TRUE(taskUids(&exported, &why)) << why.toStdString();
        open(1);
        if (e.title)
            retype(dlg.txtTitle, e.title);
        if (e.day)
            retype(dlg.txtDay, e.day);
        if (e.year)
            retype(dlg.txtYear, e.year);
        if (e.forWhom)
            retype(dlg.txtFor, e.forWhom);
        QTest::mouseClick(dlg.Command1, Qt::LeftButton);
        ASSERT_TRUE(loadTasks().ok());
        const QString title = e.title ? QString::fromUtf8(e.title) : kRent.title;
        QStringList again;
        ASSERT_TRUE(taskUids(&again, &why)) << why.toStdString();
        for (int i = 0; i < taskCount; ++i) {
            const Task &t = tasks[size_t(i)];
            EXPECT_EQ(again[i], exported[t.title == title ? 0 : 1]) << t.title.toStdString();
        }
        EXPECT_TRUE(tasks[0].title == title || tasks[1].title == title);
    }
}
