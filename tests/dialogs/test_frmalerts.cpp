#include "dialogs/frmalerts.h"

#include "dialogtestutil.h"

#include "common/messagebox.h"
#include "store/tables.h"
#include "store/taskfile.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QColorDialog>
#include <QElapsedTimer>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace Module1;
using namespace dialogtest;  // the dialog tests' own helpers
using ::testing::HasSubstr;

namespace {

const TaskLines kTask{"Pay rent", "Me", 1, 4, 2026, 9, 0, 0, "N", ""};
const RuleLines kSoon{3, "d", 255, true};
const RuleLines kWeek{7, "d", 65280, false};
const RuleLines kLate{-1, "d", 16711680, true};

class FrmAlertsTest : public testsupport::EditorTest<frmAlerts> {
protected:
    // GIVEN the file loaded, the dialog on rule `number`, shown.
    void open(const std::vector<RuleLines> &rules, int number = 1)
    {
        file = dialogtest::taskFile({kTask}, rules);
        loadFile(file);
        if (HasFatalFailure())
            return;
        dlg.drawAlert(0);
        showEditor();
        if (HasFatalFailure())
            return;
        for (int i = 1; i < number; ++i)
            QTest::mouseClick(dlg.cmdNext, Qt::LeftButton);
        ASSERT_EQ(shown(), number);
    }
    int shown() const { return dlg.lblID->text().toInt(); }
    // What the dialog shows, as a rule.
    AlertRule onScreen() const
    {
        return AlertRule{qint16(dlg.txtInterval->text().toInt()), QString(), dlg.swatchColor(),
                         dlg.chkAlert->isChecked()};
    }
    static AlertRule rule(const RuleLines &r)
    {
        return AlertRule{qint16(r.interval), r.unit, qint32(r.color), r.popup};
    }

    QByteArray file;
};

struct DeleteCase {
    int count;
    int shownBefore;
    int countAfter;
    int shownAfter;
    int shownRuleFrom;  // which of the original rules (from 1) is shown afterwards
};

class DeleteTest : public FrmAlertsTest, public ::testing::WithParamInterface<DeleteCase> { };

TEST_P(DeleteTest, ShiftsTheLaterRulesDown)
{
    const std::vector<RuleLines> all{kSoon, kWeek, kLate};
    const DeleteCase c = GetParam();
    open({all.begin(), all.begin() + c.count}, c.shownBefore);

    QTest::mouseClick(dlg.cmdDelete, Qt::LeftButton);

    EXPECT_FALSE(MessageBox::lastShown().has_value());  // no question
    EXPECT_EQ(alertRuleCount, c.countAfter);
    EXPECT_EQ(shown(), c.shownAfter);
    AlertRule expected = rule(all[c.shownRuleFrom - 1]);
    expected.unit.clear();
    EXPECT_EQ(onScreen(), expected);
    int kept = 0;
    for (int i = 0; i < c.count; ++i) {
        if (i != c.shownBefore - 1 || c.count == 1) {
            EXPECT_EQ(alertRules[kept], rule(all[i])) << "slot " << kept;
            ++kept;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DeleteTest,
                         ::testing::Values(DeleteCase{3, 2, 2, 2, 3},  // the next takes its place
                                           DeleteCase{3, 3, 2, 1, 1},  // the last: back to rule 1
                                           DeleteCase{3, 1, 2, 1, 2},
                                           DeleteCase{1, 1, 1, 1, 1}));  // the only rule stays

TEST_F(FrmAlertsTest, NewAddsABlackDailyRuleAndOkStoresIt)
{
    open({kSoon, kWeek}, 2);
    QTest::mouseClick(dlg.cmdNew, Qt::LeftButton);

    EXPECT_EQ(alertRuleCount, 3);
    EXPECT_EQ(shown(), 3);
    EXPECT_EQ(dlg.txtInterval->text(), "0");
    EXPECT_EQ(dlg.swatchColor(), 0);
    EXPECT_FALSE(dlg.chkAlert->isChecked());

    QTest::mouseClick(dlg.cmdOk, Qt::LeftButton);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(redraws, 1);
    EXPECT_TRUE(hiddenAtRedraw);
    EXPECT_EQ(tasksOnDisk(), dialogtest::taskFile({kTask}, {kSoon, kWeek, {0, "d", 0, false}}));
}

TEST_F(FrmAlertsTest, NewOverwritesWhatADeleteLeftInTheSlot)
{
    open({kSoon, kLate}, 2);
    QTest::mouseClick(dlg.cmdDelete, Qt::LeftButton);  // slot 1 keeps kLate
    alertRules[1].unit = "ww";
    QTest::mouseClick(dlg.cmdNew, Qt::LeftButton);
    EXPECT_EQ(alertRules[1], (AlertRule{0, "d", 0, false}));
}

TEST_F(FrmAlertsTest, NewAtCapacityIsRefused)
{
    std::vector<RuleLines> full(kRuleSlots, kWeek);
    full.back() = kLate;
    open(full);
    for (int i = 1; i < kRuleSlots; ++i)
        QTest::mouseClick(dlg.cmdNext, Qt::LeftButton);
    ASSERT_EQ(shown(), kRuleSlots);
    const auto before = alertRules;
    MessageBox::setNextAnswer(QMessageBox::Ok);

    QTest::mouseClick(dlg.cmdNew, Qt::LeftButton);

    ASSERT_TRUE(MessageBox::lastShown().has_value());
    EXPECT_EQ(MessageBox::lastShown()->title, "Colors & Alerts");
    EXPECT_EQ(MessageBox::lastShown()->buttons, QMessageBox::Ok);
    EXPECT_EQ(alertRuleCount, kRuleSlots);
    EXPECT_TRUE(alertRules == before);
    EXPECT_EQ(shown(), kRuleSlots);
}

TEST_F(FrmAlertsTest, PagingStopsAtBothEnds)
{
    open({kSoon, kWeek, kLate});
    struct Step {
        QPushButton *frmAlerts::*button;
        int shownAfter;
    };
    const Step steps[] = {{&frmAlerts::cmdBack, 1}, {&frmAlerts::cmdNext, 2},
                          {&frmAlerts::cmdNext, 3}, {&frmAlerts::cmdNext, 3},
                          {&frmAlerts::cmdBack, 2}, {&frmAlerts::cmdBack, 1},
                          {&frmAlerts::cmdBack, 1}};
    for (const Step &s : steps) {
        QTest::mouseClick(dlg.*s.button, Qt::LeftButton);
        EXPECT_EQ(shown(), s.shownAfter);
    }
    QTest::mouseClick(dlg.cmdNext, Qt::LeftButton);
    AlertRule expected = rule(kWeek);
    expected.unit.clear();
    EXPECT_EQ(onScreen(), expected);
    // Showing rules wrote nothing into them.
    EXPECT_EQ(alertRules[0], rule(kSoon));
    EXPECT_EQ(alertRules[1], rule(kWeek));
    EXPECT_EQ(alertRules[2], rule(kLate));
}

TEST_F(FrmAlertsTest, DrawAlertSetsTheNumberBeforeTheFields)
{
    // Rule 1 ticked, rule 2 not: filling rule 2's box must not untick rule 1.
    open({kSoon, kWeek});
    dlg.drawAlert(1);
    EXPECT_TRUE(alertRules[0].popup);
    EXPECT_EQ(alertRules[0].interval, 3);
    dlg.drawAlert(0);
    EXPECT_FALSE(alertRules[1].popup);
    EXPECT_EQ(alertRules[1].interval, 7);
}

TEST_F(FrmAlertsTest, ChosenColourIsStoredAndACancelledPickerChangesNothing)
{
    open({kSoon, kWeek}, 2);
    std::optional<QColor> answer = QColor(0x12, 0x34, 0x56);
    dlg.setColorPicker([&] { return answer; });

    QTest::mouseClick(dlg.cmdSelect, Qt::LeftButton);
    EXPECT_EQ(alertRules[1].color, 0x563412);
    EXPECT_EQ(dlg.swatchColor(), 0x563412);

    answer.reset();
    QTest::mouseClick(dlg.cmdSelect, Qt::LeftButton);
    EXPECT_EQ(alertRules[1].color, 0x563412);
    EXPECT_EQ(dlg.swatchColor(), 0x563412);
    EXPECT_EQ(alertRules[0].color, 255);

    // Esc after choosing: the file's colour is back in the table.
    QTest::keyClick(&dlg, Qt::Key_Escape);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(alertRules[1].color, 65280);
    EXPECT_EQ(tasksOnDisk(), file);
    EXPECT_EQ(redraws, 0);
}

TEST_F(FrmAlertsTest, TheKeptColourDialogAnswersSelect)
{
    open({kSoon});
    // The picker runs its own loop; answer it from inside that loop.
    auto answer = [](bool accept) {
        QTimer::singleShot(0, [accept] {
            auto *picker = qobject_cast<QColorDialog *>(QApplication::activeModalWidget());
            ASSERT_NE(picker, nullptr);
            if (accept) {
                picker->setCurrentColor(QColor(1, 2, 3));
                picker->accept();
            } else {
                picker->setCurrentColor(QColor(200, 200, 200));
                picker->reject();
            }
        });
    };
    answer(true);
    QTest::mouseClick(dlg.cmdSelect, Qt::LeftButton);
    EXPECT_EQ(alertRules[0].color, 1 + 2 * 256 + 3 * 65536);
    const QColorDialog *first = dlg.findChild<QColorDialog *>();

    answer(false);
    QTest::mouseClick(dlg.cmdSelect, Qt::LeftButton);
    EXPECT_EQ(alertRules[0].color, 1 + 2 * 256 + 3 * 65536);
    EXPECT_EQ(dlg.findChildren<QColorDialog *>().size(), 1);
    EXPECT_EQ(dlg.findChild<QColorDialog *>(), first);
}

struct IntervalCase {
    const char *typed;
    qint16 stored;
};

class IntervalTest : public FrmAlertsTest, public ::testing::WithParamInterface<IntervalCase> { };

TEST_P(IntervalTest, StoresTheLeadingNumber)
{
    open({kSoon, kWeek}, 2);
    retype(dlg.txtInterval, QString::fromUtf8(GetParam().typed));
    EXPECT_EQ(alertRules[1].interval, GetParam().stored);
    EXPECT_EQ(alertRules[0].interval, 3);
    retype(dlg.txtInterval, "4");
    EXPECT_EQ(alertRules[1].interval, 4);
}

INSTANTIATE_TEST_SUITE_P(Typed, IntervalTest,
                         ::testing::Values(IntervalCase{"abc", 0}, IntervalCase{"7abc", 7},
                                           IntervalCase{"-3", -3}, IntervalCase{"0", 0},
                                           IntervalCase{"2.5", 2}, IntervalCase{"99999", 32767},
                                           IntervalCase{"", 0}));

TEST_F(FrmAlertsTest, PopupBoxWritesTheCurrentRule)
{
    open({kSoon, kWeek}, 2);
    QTest::mouseClick(dlg.chkAlert, Qt::LeftButton);
    EXPECT_TRUE(alertRules[1].popup);
    EXPECT_TRUE(alertRules[0].popup);
    QTest::keyClick(dlg.chkAlert, Qt::Key_Space);
    EXPECT_FALSE(alertRules[1].popup);
}

TEST_F(FrmAlertsTest, AFileWithoutRulesOpensOnRuleOneAndOkStoresIt)
{
    open({});
    EXPECT_EQ(alertRuleCount, 1);
    EXPECT_EQ(dlg.txtInterval->text(), "0");
    EXPECT_EQ(dlg.swatchColor(), 0);
    EXPECT_FALSE(dlg.chkAlert->isChecked());
    QTest::mouseClick(dlg.cmdOk, Qt::LeftButton);
    EXPECT_EQ(tasksOnDisk(), dialogtest::taskFile({kTask}, {{0, "", 0, false}}));
}

TEST_F(FrmAlertsTest, EnterPressesOkAndEscCancels)
{
    open({kSoon});
    retype(dlg.txtInterval, "5");
    QTest::keyClick(dlg.txtInterval, Qt::Key_Return);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(redraws, 1);
    // Not read back: the table stays as edited.
    EXPECT_EQ(alertRules[0].interval, 5);
    EXPECT_EQ(tasksOnDisk(), dialogtest::taskFile({kTask}, {{5, "d", 255, true}}));

    const QByteArray saved = tasksOnDisk();
    dlg.drawAlert(0);
    dlg.show();
    retype(dlg.txtInterval, "9");
    QTest::keyClick(dlg.txtInterval, Qt::Key_Escape);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(alertRules[0].interval, 5);
    EXPECT_EQ(tasksOnDisk(), saved);
    EXPECT_EQ(redraws, 1);
}

TEST_F(FrmAlertsTest, TheCloseBoxActsAsCancel)
{
    open({kSoon});
    QTest::mouseClick(dlg.cmdNew, Qt::LeftButton);
    retype(dlg.txtInterval, "12");
    dlg.close();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(alertRuleCount, 1);
    EXPECT_EQ(alertRules[0], rule(kSoon));
    EXPECT_EQ(redraws, 0);
}

TEST_F(FrmAlertsTest, IntervalBoxSelectsItsTextOnFocus)
{
    open({kWeek});
    retype(dlg.txtInterval, "123");
    dlg.cmdSelect->setFocus();
    for (const auto reason : {Qt::TabFocusReason, Qt::OtherFocusReason, Qt::MouseFocusReason}) {
        dlg.cmdSelect->setFocus();
        dlg.txtInterval->setFocus(reason);
        QCoreApplication::processEvents();
        EXPECT_EQ(dlg.txtInterval->selectedText(), "123") << reason;
    }
    QTest::keyClicks(dlg.txtInterval, "8");
    EXPECT_EQ(alertRules[0].interval, 8);
}

TEST_F(FrmAlertsTest, RuleNumberCannotBeTypedOrPastedInto)
{
    open({kSoon, kWeek});
    QApplication::clipboard()->setText("77");
    dlg.lblID->setFocus();
    QTest::keyClicks(dlg.lblID, "5");
    QTest::keyClick(dlg.lblID, Qt::Key_Backspace);
    QTest::keyClick(dlg.lblID, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(dlg.lblID, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(dlg.lblID->text(), "1");
    EXPECT_EQ(dlg.lblID->contextMenuPolicy(), Qt::NoContextMenu);
    EXPECT_FALSE(dlg.lblID->acceptDrops());
    // The box only shows the number: whatever it holds, rule 1 is edited.
    dlg.lblID->setText("2");
    retype(dlg.txtInterval, "9");
    EXPECT_EQ(alertRules[0].interval, 9);
    EXPECT_EQ(alertRules[1].interval, 7);
}

TEST_F(FrmAlertsTest, AHugePasteIntoTheIntervalIsCutToTheLimitOfALineEdit)
{
    open({kSoon});
    QApplication::clipboard()->setText(QString(4 << 20, QLatin1Char('7')));
    dlg.txtInterval->setFocus();
    dlg.txtInterval->selectAll();
    QElapsedTimer t;
    t.start();
    QTest::keyClick(dlg.txtInterval, Qt::Key_V, Qt::ControlModifier);
    EXPECT_LT(t.elapsed(), testsupport::hangGuardMs(3000))
        << "hang guard: some 100 ms on a quiet machine";
    EXPECT_EQ(dlg.txtInterval->text().size(), 32767);
    EXPECT_EQ(alertRules[0].interval, 32767) << "the largest number the rule holds";
}

TEST_F(FrmAlertsTest, AFileChangedElsewhereIsReadAgainNotOverwritten)
{
    open({kSoon});
    retype(dlg.txtInterval, "9");
    const QByteArray elsewhere = dialogtest::taskFile({kTask}, {kWeek, kLate});
    writeTasks(elsewhere);
    MessageBox::setNextAnswer(QMessageBox::Ok);

    QTest::mouseClick(dlg.cmdOk, Qt::LeftButton);

    ASSERT_TRUE(MessageBox::lastShown().has_value());
    EXPECT_THAT(MessageBox::lastShown()->text.toStdString(), HasSubstr("changed outside Quillet"));
    EXPECT_EQ(testsupport::readFile(filePath()), elsewhere);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(redraws, 0) << "not saved; the caller redraws after a cancel";
    EXPECT_EQ(alertRuleCount, 2);
    EXPECT_EQ(alertRules[0], rule(kWeek));
}

TEST_F(FrmAlertsTest, FailedSaveKeepsTheDialogOpen)
{
    open({kSoon});
    retype(dlg.txtInterval, "6");
    QFile::remove(filePath());
    blockTaskFile();

    EXPECT_THAT(dialogtest::clickPastBox(dlg.cmdOk), HasSubstr("could not be saved"));

    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(redraws, 0);
    EXPECT_EQ(alertRules[0].interval, 6);
}

TEST_F(FrmAlertsTest, CancelThatCannotReadTheFileStillDropsTheEdits)
{
    open({kSoon});
    QTest::mouseClick(dlg.cmdNew, Qt::LeftButton);
    QFile::remove(filePath());
    blockTaskFile();

    EXPECT_THAT(dialogtest::clickPastBox(dlg.cmdCancel), HasSubstr("could not be read"));

    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(alertRuleCount, 1);
}

}  // namespace
