#include "dialogs/dialogsupport.h"
#include "dialogs/frmalerts.h"
#include "dialogs/frmtask.h"

#include "dialogtestutil.h"

#include "common/twips.h"
#include "store/taskfile.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct Placed {
    const char *name;
    QWidget *widget;
    QRect twips;  // left, top, width, height
};

void expectPlaced(const std::vector<Placed> &controls)
{
    for (const Placed &p : controls) {
        const QRect r = p.twips;
        EXPECT_EQ(p.widget->geometry(), twipsRect(r.x(), r.y(), r.width(), r.height())) << p.name;
    }
}

// The widgets that Tab visits, in order, starting at `first`.
std::vector<QWidget *> tabChain(QWidget *first, size_t count)
{
    std::vector<QWidget *> chain{first};
    QWidget *w = first;
    while (chain.size() < count) {
        w = w->nextInFocusChain();
        if (w == first)
            break;
        if (w->focusPolicy() & Qt::TabFocus)
            chain.push_back(w);
    }
    return chain;
}

// Every caption is drawn whole in the room its control gives it.
void expectCaptionsFit(QWidget *dialog)
{
    for (QWidget *w : dialog->findChildren<QWidget *>()) {
        const QString text = dialogsupport::captionOf(w);
        if (text.isEmpty())
            continue;
        EXPECT_LE(dialogsupport::captionWidth(w->font(), text), dialogsupport::textRoom(w))
            << text.toStdString() << " in " << w->font().toString().toStdString();
        // One line of text fits the control's height.
        EXPECT_LE(QFontMetrics(w->font()).height(), w->height()) << text.toStdString();
        EXPECT_TRUE(w->toolTip().isEmpty()) << "elided: " << text.toStdString();
    }
}

// Under offscreen the window can be grabbed; QUILLET_SHOTS names a folder
// to keep the pictures in.
void maybeSaveShot(QWidget *w, const QString &name)
{
    const QString dir = qEnvironmentVariable("QUILLET_SHOTS");
    const QPixmap shot = w->grab();
    EXPECT_EQ(shot.size(), w->size() * shot.devicePixelRatio());
    if (!dir.isEmpty()) {
        EXPECT_TRUE(shot.save(QDir(dir).filePath(name)));
    }
}

void expectFixedDialog(QDialog *dlg, int widthTwips, int heightTwips)
{
    EXPECT_EQ(dlg->size(), QSize(twipsToPixels(widthTwips), twipsToPixels(heightTwips)));
    EXPECT_EQ(dlg->minimumSize(), dlg->maximumSize());
    const Qt::WindowFlags f = dlg->windowFlags();
    EXPECT_TRUE(f & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(f & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(f & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(dlg->isModal());
}

using DialogLook = testsupport::InListFolder;

TEST_F(DialogLook, TaskEditorLayout)
{
    frmTask d;
    EXPECT_EQ(d.windowTitle(), "New / Edit task");
    expectFixedDialog(&d, 3975, 3225);
    expectPlaced({{"Label1", d.Label1, {120, 120, 975, 255}},
                  {"txtTitle", d.txtTitle, {840, 120, 3015, 285}},
                  {"Label2", d.Label2, {120, 480, 975, 255}},
                  {"txtFor", d.txtFor, {840, 480, 3015, 285}},
                  {"Label3", d.Label3, {120, 840, 975, 255}},
                  {"txtDay", d.txtDay, {840, 840, 375, 285}},
                  {"lstMonth", d.lstMonth, {1320, 840, 1815, 315}},
                  {"txtYear", d.txtYear, {3240, 840, 615, 285}},
                  {"Label5", d.Label5, {3240, 1200, 615, 255}},
                  {"Label6", d.Label6, {120, 1440, 615, 255}},
                  {"txtHour", d.txtHour, {840, 1440, 375, 285}},
                  {"Label7(1)", d.Label7[1], {1200, 1440, 255, 255}},
                  {"txtMinute", d.txtMinute, {1440, 1440, 375, 285}},
                  {"Label7(0)", d.Label7[0], {1800, 1440, 255, 255}},
                  {"txtSecond", d.txtSecond, {2040, 1440, 375, 285}},
                  {"Label4", d.Label4, {120, 1800, 975, 255}},
                  {"txtDescript", d.txtDescript, {120, 2040, 3735, 735}},
                  {"Command2", d.Command2, {1800, 2880, 975, 255}},
                  {"Command1", d.Command1, {2880, 2880, 975, 255}}});
    const std::vector<QWidget *> order{d.txtTitle,    d.txtFor,   d.txtDay,    d.lstMonth,
                                       d.txtYear,     d.txtHour,  d.txtMinute, d.txtSecond,
                                       d.txtDescript, d.Command1, d.Command2};
    EXPECT_EQ(tabChain(d.txtTitle, order.size()), order);
    EXPECT_EQ(d.lstMonth->count(), 12);
    EXPECT_EQ(d.lstMonth->itemText(0), "January");
    EXPECT_EQ(d.lstMonth->itemText(11), "December");
    EXPECT_EQ(d.txtDay->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_EQ(d.Command1->text(), "&Ok");
    EXPECT_EQ(d.Command2->text(), "&Cancel");

    Module1::tasks[0] = Module1::Task{
        "Pay rent", "Me", 2026, 9, 30, 0, 0, 9, "Bank transfer\r\nRef 12", "", "", "N"};
    d.prepare(1);
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    EXPECT_EQ(QApplication::focusWidget(), d.txtTitle);
    expectCaptionsFit(&d);
    EXPECT_GE(QFontMetricsF(d.font()).horizontalAdvance(d.lstMonth->currentText()), 1);
    maybeSaveShot(&d, "frmTask.png");
}

TEST_F(DialogLook, RuleEditorLayout)
{
    frmAlerts d;
    EXPECT_EQ(d.windowTitle(), "Colors & Alerts");
    expectFixedDialog(&d, 3585, 2595);
    expectPlaced({{"Frame1", d.Frame1, {120, 120, 3375, 2055}},
                  {"cmdBack", d.cmdBack, {840, 120, 375, 255}},
                  {"lblID", d.lblID, {1200, 120, 495, 285}},
                  {"cmdNext", d.cmdNext, {1680, 120, 375, 255}},
                  {"cmdNew", d.cmdNew, {2040, 120, 495, 255}},
                  {"cmdCancel", d.cmdCancel, {1920, 2280, 735, 255}},
                  {"cmdOk", d.cmdOk, {2760, 2280, 735, 255}},
                  {"Label2", d.Label2, {120, 360, 1335, 255}},
                  {"txtInterval", d.txtInterval, {1560, 360, 615, 285}},
                  {"Label3", d.Label3, {2280, 360, 975, 255}},
                  {"Label4", d.Label4, {120, 840, 1455, 255}},
                  {"pctColor", d.pctColor, {1560, 840, 615, 255}},
                  {"cmdSelect", d.cmdSelect, {2280, 840, 855, 255}},
                  {"Label5", d.Label5, {120, 1320, 1455, 255}},
                  {"chkAlert", d.chkAlert, {1920, 1320, 255, 255}},
                  {"Label6", d.Label6, {2280, 1320, 615, 255}},
                  {"cmdDelete", d.cmdDelete, {2280, 1680, 855, 255}}});
    // The frame's children are placed relative to the frame.
    EXPECT_EQ(d.txtInterval->parentWidget(), d.Frame1);
    EXPECT_EQ(d.cmdBack->parentWidget(), &d);
    const QString title = d.Frame1->title();
    EXPECT_EQ(title.size(), 47);
    EXPECT_TRUE(title.startsWith("Rule # "));
    EXPECT_EQ(title.trimmed(), "Rule #");
    EXPECT_TRUE(d.cmdOk->isDefault());
    EXPECT_TRUE(d.lblID->isReadOnly());

    const std::vector<QWidget *> order{d.cmdBack,   d.cmdNext,  d.cmdNew,    d.txtInterval,
                                       d.cmdSelect, d.chkAlert, d.cmdDelete, d.cmdOk,
                                       d.cmdCancel, d.lblID};
    EXPECT_EQ(tabChain(d.cmdBack, order.size()), order);

    d.drawAlert(0);
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    EXPECT_EQ(QApplication::focusWidget(), d.cmdBack);
    expectCaptionsFit(&d);

    // "Rule #" ends before "<" starts: the caption line reads on.
    QStyleOptionGroupBox opt;
    opt.initFrom(d.Frame1);
    opt.text = title;
    opt.lineWidth = 1;
    opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    const QRect label =
        d.style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, d.Frame1);
    EXPECT_LE(d.Frame1->x() + label.x() + dialogsupport::captionWidth(d.Frame1->font(), "Rule #"),
              d.cmdBack->x());
    // The caption line stays inside the frame.
    EXPECT_LE(label.right(), d.Frame1->width());
    maybeSaveShot(&d, "frmAlerts.png");
}

TEST_F(DialogLook, DialogsOpenCentredOverTheirParent)
{
    QMainWindow main;
    main.setGeometry(100, 80, 800, 600);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    frmTask task(&main);
    frmAlerts alerts(&main);
    for (QDialog *d : {static_cast<QDialog *>(&task), static_cast<QDialog *>(&alerts)}) {
        for (int shown = 0; shown < 2; ++shown) {
            d->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(d));
            const QPoint off = d->frameGeometry().center() - main.frameGeometry().center();
            // The first time the window frame's size is not known yet.
            EXPECT_LE(off.manhattanLength(), shown == 0 ? 4 : 2)
                << d->windowTitle().toStdString() << " " << d->frameGeometry().x() << ","
                << d->frameGeometry().y() << " " << d->geometry().x() << "," << d->geometry().y()
                << " " << main.frameGeometry().x() << "," << main.frameGeometry().y() << " "
                << main.geometry().x() << "," << main.geometry().y();
            d->hide();
            d->move(0, 0);  // moved away, it comes back centred next time
        }
    }
}

// Alt+O and Alt+C click at once: no 100 ms press animation before the
// editor saves or reads back.
TEST_F(DialogLook, AccessKeysClickAtOnce)
{
    writeTasks(dialogtest::taskFile({testsupport::dueOn("Pay rent", QDate(2026, 12, 9))},
                                    {testsupport::rule(3, true)}));
    ASSERT_TRUE(Module1::loadTasks().ok());
    frmTask task;
    frmAlerts alerts;
    const struct {
        QDialog *dialog;
        QPushButton *button;
        Qt::Key key;
    } cases[] = {{&task, task.Command1, Qt::Key_O},
                 {&task, task.Command2, Qt::Key_C},
                 {&alerts, alerts.cmdOk, Qt::Key_O},
                 {&alerts, alerts.cmdCancel, Qt::Key_C},
                 {&alerts, alerts.cmdNew, Qt::Key_N}};
    for (const auto &c : cases) {
        if (c.dialog == &task)
            task.prepare(1);
        else
            alerts.drawAlert(0);
        c.dialog->show();
        QApplication::setActiveWindow(c.dialog);
        ASSERT_TRUE(QTest::qWaitForWindowActive(c.dialog));
        QSignalSpy clicked(c.button, &QPushButton::clicked);
        QTest::keyClick(c.dialog, c.key, Qt::AltModifier);
        EXPECT_EQ(clicked.count(), 1) << c.button->text().toStdString();
        c.dialog->hide();
    }
}

TEST(DialogSupport, CentredPositionStaysOnScreen)
{
    struct Case {
        QSize size;
        QRect over, screen;
        QPoint expected;
    };
    const Case cases[] = {
        {{200, 100}, {0, 0, 1000, 800}, {0, 0, 1920, 1080}, {400, 350}},
        {{200, 100}, {-500, 0, 400, 300}, {0, 0, 1920, 1080}, {0, 100}},
        {{200, 100}, {1800, 1000, 400, 300}, {0, 0, 1920, 1080}, {1720, 980}},
        {{200, 100}, {100, -400, 400, 300}, {0, 0, 1920, 1080}, {200, 0}},
        {{200, 100}, {100, -400, 400, 300}, {0, 30, 1920, 1050}, {200, 30}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(dialogsupport::centredPosition(c.size, c.over, c.screen), c.expected);
}

TEST(DialogSupport, OnlyACutCaptionGetsATip)
{
    // A caption whose width is a whole number of pixels, so that its cell
    // can be exactly as wide: advances come in 64ths of a pixel.
    const QFont normal = sansFont(8.25);
    QString text;
    for (int n = 1; n <= 64 && text.isEmpty(); ++n) {
        const QString candidate(n, QLatin1Char('n'));
        const double w = dialogsupport::captionWidth(normal, candidate);
        if (w == std::floor(w))
            text = candidate;
    }
    if (text.isEmpty())
        GTEST_SKIP() << "no caption of a whole pixel width in this font";
    const int width = int(dialogsupport::captionWidth(normal, text));
    struct {
        int room;
        bool tip;
    } const cases[] = {{width + 1, false}, {width, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.room);
        QWidget dialog;
        auto *label = new QLabel(text, &dialog);
        label->resize(c.room, 20);
        ASSERT_EQ(dialogsupport::textRoom(label), c.room);
        dialogsupport::fitCaptions(&dialog, {label}, {});
        EXPECT_EQ(!label->toolTip().isEmpty(), c.tip);
        EXPECT_EQ(label->text(), text);
        EXPECT_EQ(dialog.font().pointSizeF(), 8.25) << "the normal font fits exactly";
    }
}

TEST(DialogSupport, FittingFontShrinksOnlyAsFarAsNeeded)
{
    const QFont normal = sansFont(8.25);
    const double wide = dialogsupport::captionWidth(normal, "If project is due in:");
    // Room enough: the normal font.
    QFont f = dialogsupport::fittingFont({{"If project is due in:", wide + 1}});
    EXPECT_EQ(f.pointSizeF(), 8.25);
    EXPECT_EQ(f.stretch(), 0);  // not narrowed
    // Less room: something that fits it.
    f = dialogsupport::fittingFont({{"If project is due in:", wide * 0.9}});
    EXPECT_LE(dialogsupport::captionWidth(f, "If project is due in:"), wide * 0.9);
    EXPECT_GE(f.pointSizeF(), 7.0);
    // Access-key markers take no room.
    EXPECT_EQ(dialogsupport::captionWidth(normal, "&Ok"),
              dialogsupport::captionWidth(normal, "Ok"));
    EXPECT_GT(dialogsupport::captionWidth(normal, "A&&B"),
              dialogsupport::captionWidth(normal, "AB"));
}

}  // namespace
