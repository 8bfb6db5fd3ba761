// Both editors as a screen reader reads them: every input named for what it
// holds, while the captions on screen stay as designed.
#include "dialogs/dialogsupport.h"
#include "dialogs/frmalerts.h"
#include "dialogs/frmtask.h"

#include "dialogtestutil.h"

#include "store/tables.h"
#include "store/taskfile.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QString accessibleName(QWidget *w)
{
    return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
}

struct Named {
    const char *control;
    QWidget *widget;
    QString name;
    QLabel *label;  // the label beside it, whose buddy it is; nullptr for none
};

void expectNamed(const std::vector<Named> &controls)
{
    for (const Named &c : controls) {
        EXPECT_EQ(accessibleName(c.widget), c.name) << c.control;
        if (c.label) {
            EXPECT_EQ(c.label->buddy(), c.widget) << c.control;
        }
    }
}

// Every control a user can reach or read has a name without stray blanks
// (the rule editor's frame caption ends in 41 of them).
void expectEveryInputNamed(QWidget *dialog)
{
    const QList<QAccessible::Role> inputs{QAccessible::EditableText, QAccessible::ComboBox,
                                          QAccessible::CheckBox, QAccessible::Button};
    for (QWidget *w : dialog->findChildren<QWidget *>()) {
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(w);
        if (!iface || !inputs.contains(iface->role()))
            continue;
        const QString name = iface->text(QAccessible::Name);
        EXPECT_FALSE(name.isEmpty()) << w->objectName().toStdString();
        EXPECT_EQ(name, name.trimmed()) << w->objectName().toStdString();
    }
}

using DialogAccessibility = testsupport::InListFolder;

TEST_F(DialogAccessibility, TaskEditorNamesEveryInput)
{
    frmTask d;
    expectNamed({
        {"txtTitle", d.txtTitle, "Title", d.Label1},
        {"txtFor", d.txtFor, "For", d.Label2},
        {"txtDay", d.txtDay, "Due day", d.Label3},
        {"lstMonth", d.lstMonth, "Due month", nullptr},
        {"txtYear", d.txtYear, "Due year", nullptr},
        {"txtHour", d.txtHour, "Hour", d.Label6},
        {"txtMinute", d.txtMinute, "Minute", nullptr},
        {"txtSecond", d.txtSecond, "Second", nullptr},
        {"txtDescript", d.txtDescript, "Description", d.Label4},
    });
    EXPECT_EQ(QAccessible::queryAccessibleInterface(d.txtYear)->text(QAccessible::Description),
              "(yyyy)");
    expectEveryInputNamed(&d);
    // The labels still read as designed.
    EXPECT_EQ(d.Label1->text(), "Title:");
    EXPECT_EQ(d.Label3->text(), "Due:");
}

TEST_F(DialogAccessibility, RuleEditorNamesEveryInput)
{
    writeTasks(dialogtest::taskFile({}, {{3, "d", 255, true}, {7, "d", 0x123456, false}}));
    ASSERT_TRUE(Module1::loadTasks().ok());
    frmAlerts d;
    d.drawAlert(0);
    expectNamed({
        {"cmdBack", d.cmdBack, "Previous rule", nullptr},
        {"cmdNext", d.cmdNext, "Next rule", nullptr},
        {"lblID", d.lblID, "Rule number", nullptr},
        {"txtInterval", d.txtInterval, "Interval in days", d.Label2},
        {"pctColor", d.pctColor, "Colour: red", d.Label4},
        {"chkAlert", d.chkAlert, "Popup at Startup?", d.Label5},
        {"Frame1", d.Frame1, "Rule 1", nullptr},
    });
    expectEveryInputNamed(&d);
    // The captions on screen stay as they are.
    EXPECT_EQ(d.cmdBack->text(), "<");
    EXPECT_EQ(d.cmdNext->text(), ">");
    EXPECT_EQ(d.Frame1->title(), "Rule #" + QString(41, QLatin1Char(' ')));

    QTest::mouseClick(d.cmdNext, Qt::LeftButton);
    EXPECT_EQ(accessibleName(d.Frame1), "Rule 2");
    EXPECT_EQ(accessibleName(d.pctColor), "Colour: #563412");
}

// The swatch says its colour: one of the sixteen HTML names, else hex, red
// first (the tables keep red in the low byte).
TEST_F(DialogAccessibility, SwatchSaysItsColour)
{
    struct Case {
        qint32 stored;
        const char *name;
    } const cases[] = {
        {0x000000, "Colour: black"},  {0x0000FF, "Colour: red"},     {0x00FF00, "Colour: lime"},
        {0xFF0000, "Colour: blue"},   {0xFFFFFF, "Colour: white"},   {0x808000, "Colour: teal"},
        {0x000080, "Colour: maroon"}, {0x0000FE, "Colour: #FE0000"}, {0x563412, "Colour: #123456"},
    };
    frmAlerts d;
    d.setColorPicker([] { return std::optional<QColor>(); });
    for (const Case &c : cases) {
        Module1::alertRules[0].color = c.stored;
        Module1::alertRuleCount = 1;
        d.drawAlert(0);
        EXPECT_EQ(accessibleName(d.pctColor), c.name) << std::hex << c.stored;
    }
}

// "New" leaves the paging buttons: the focus goes to the new rule's first
// input, its text selected so that typing replaces it.
TEST_F(DialogAccessibility, NewPutsTheFocusOnTheInterval)
{
    writeTasks(dialogtest::taskFile({}, {{3, "d", 255, true}}));
    ASSERT_TRUE(Module1::loadTasks().ok());
    frmAlerts d;
    d.drawAlert(0);
    d.show();
    QApplication::setActiveWindow(&d);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
    ASSERT_EQ(QApplication::focusWidget(), d.cmdBack);

    QTest::mouseClick(d.cmdNew, Qt::LeftButton);
    EXPECT_EQ(d.lblID->text(), "2");
    EXPECT_EQ(QApplication::focusWidget(), d.txtInterval);
    EXPECT_EQ(d.txtInterval->selectedText(), "0");
    EXPECT_EQ(accessibleName(d.pctColor), "Colour: black");
}

}  // namespace
