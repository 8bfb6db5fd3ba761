#include "mainwindowfixture.h"

#include "mainwindow/navhotarea.h"
#include "mainwindow/navigationpane.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include "common/icons.h"
#include "common/messagebox.h"

#include <set>
#include <vector>

namespace {

constexpr qint32 kGreen = 0x00FF00;
constexpr qint32 kOrange = 0x0080FF;
constexpr qint32 kRed = 0x0000FF;
constexpr qint32 kBlue = 0xFF0000;
constexpr qint32 kYellow = 0x00FFFF;

QPoint cellCentre(frmMain &w, int k, ListColumn c)
{
    return w.lstContainer->cellRect(k, c).center();
}

TEST_F(MainWindowTest, RowsCaptionsAndSlotsInBothViews)
{
    addTask("Later", "Ann", 3);
    addTask("Binned", "Bob", 1, "Y");
    addTask("Sooner", "Cy", 1, "y");  // only "Y" recycles
    frmMain &w = open();

    ASSERT_EQ(rowCount(), 2);
    // Due order: sorting put "Sooner" (due in 1 day) first.
    EXPECT_EQ(title(1), "Sooner");
    EXPECT_EQ(title(2), "Later");
    EXPECT_EQ(row(1).cell(ListColumn::For).caption, "Cy");
    EXPECT_TRUE(row(1).cell(ListColumn::Due).caption.endsWith(" at 9:00:00 AM"))
        << row(1).cell(ListColumn::Due).caption.toStdString();
    const int slotOfLater = row(2).id.toInt();
    EXPECT_EQ(Module1::tasks[static_cast<size_t>(slotOfLater)].title, "Later");
    EXPECT_FALSE(w.lstContainer->row(0).visible);  // the template never shows
    EXPECT_EQ(row(1).top, 255);
    EXPECT_EQ(row(2).top, 510);

    w.Image1_Click(2);
    ASSERT_EQ(rowCount(), 1);
    EXPECT_EQ(title(1), "Binned");
    EXPECT_EQ(Module1::tasks[static_cast<size_t>(row(1).id.toInt())].title, "Binned");
    // Sized for every task of the table, whatever the view shows.
    EXPECT_DOUBLE_EQ(w.geometryTwips().lstContainer.height,
                     5 * 255 + w.geometryTwips().pctContainer.height);
}

struct ColourCase {
    const char *name;
    int days;
    qint32 color;
    bool bold;
};

class RowColour : public MainWindowTest, public ::testing::WithParamInterface<ColourCase> { };

TEST_P(RowColour, ClosestRuleWinsAndTheLastRuleDecidesBold)
{
    const ColourCase &c = GetParam();
    addRule(7, kGreen);
    addRule(2, kOrange);
    addRule(0, kRed);
    addTask("T", "", c.days);
    open();
    ASSERT_EQ(rowCount(), 1);
    for (const ListCell &cell : row(1).cells) {
        EXPECT_EQ(cell.color, c.color);
        EXPECT_EQ(cell.bold, c.bold);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RowColour,
                         ::testing::Values(ColourCase{"TenDays", 10, 0, false},
                                           ColourCase{"FiveDays", 5, kGreen, false},
                                           ColourCase{"TwoDays", 2, kOrange, false},
                                           ColourCase{"Tomorrow", 1, kOrange, false},
                                           ColourCase{"Today", 0, kRed, true},
                                           ColourCase{"LastWeek", -7, kRed, true}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(MainWindowTest, EqualIntervalsLastRuleWins)
{
    addRule(3, kBlue);
    addRule(3, kYellow);
    addTask("T", "", 1);
    open();
    EXPECT_EQ(row(1).cell(ListColumn::Title).color, kYellow);
}

TEST_F(MainWindowTest, NoRulesBlackAndRegular)
{
    addTask("T", "", -3);
    open();
    EXPECT_EQ(row(1).cell(ListColumn::Title).color, 0);
    EXPECT_FALSE(row(1).cell(ListColumn::Title).bold);
}

TEST_F(MainWindowTest, SelectionIsWhiteOnBlueAndKeepsBold)
{
    addRule(0, kRed);
    addTask("Today", "", 0, "N", "first\r\nsecond");
    addTask("Later", "", 5, "N", "");
    frmMain &w = open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    QTest::mouseClick(w.lstContainer, Qt::LeftButton, {}, cellCentre(w, 1, ListColumn::Due));
    EXPECT_EQ(w.selectedTask(), row(1).id.toInt() + 1);
    for (const ListCell &cell : row(1).cells) {
        EXPECT_TRUE(cell.opaque);
        EXPECT_EQ(cell.backColor, 100 << 16);
        EXPECT_EQ(cell.color, 0xFFFFFF);
        EXPECT_TRUE(cell.bold);
    }
    EXPECT_EQ(w.txtDescription->toPlainText(), "first\nsecond");

    // WHEN another row is selected THEN the first one is red and bold again.
    QTest::mouseClick(w.lstContainer, Qt::LeftButton, {}, cellCentre(w, 2, ListColumn::Title));
    EXPECT_FALSE(row(1).cell(ListColumn::Title).opaque);
    EXPECT_EQ(row(1).cell(ListColumn::Title).color, kRed);
    EXPECT_TRUE(row(1).cell(ListColumn::Title).bold);
    EXPECT_TRUE(w.txtDescription->toPlainText().isEmpty());
}

// A new selection repaints the row it leaves and the row it takes, not the
// list: what is painted stays within those two rows.
TEST_F(MainWindowTest, ANewSelectionRepaintsTwoRows)
{
    addRule(3, kRed);
    for (int i = 0; i < 40; ++i)
        addTask(QStringLiteral("Task %1").arg(i), "Me", i % 7);
    frmMain &w = open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.highlight(3);
    QCoreApplication::processEvents();

    struct PaintedRegion : QObject {
        QRegion region;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint)
                region += static_cast<QPaintEvent *>(event)->region();
            return false;
        }
    } painted;
    w.lstContainer->installEventFilter(&painted);
    const auto rowRect = [&](int k) {
        return w.lstContainer->cellRect(k, ListColumn::Title)
            .united(w.lstContainer->cellRect(k, ListColumn::Due));
    };
    w.highlight(7);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !painted.region.isEmpty(); }, 2000));
    QCoreApplication::processEvents();
    w.lstContainer->removeEventFilter(&painted);

    EXPECT_TRUE((painted.region - QRegion(rowRect(3)) - QRegion(rowRect(7))).isEmpty())
        << "painted " << painted.region.boundingRect().height() << " px high";
    EXPECT_FALSE(row(3).cell(ListColumn::Title).opaque);
    EXPECT_TRUE(row(7).cell(ListColumn::Title).opaque);
}

TEST_F(MainWindowTest, RightClickSelectsThenOpensTheRowMenu)
{
    addTask("A", "", 1);
    addTask("B", "", 2);
    frmMain &w = open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QTest::mouseClick(w.lstContainer, Qt::RightButton, {}, cellCentre(w, 2, ListColumn::For));
    EXPECT_EQ(w.selectedTask(), row(2).id.toInt() + 1);
    EXPECT_TRUE(w.menu_short->isVisible());
    EXPECT_FALSE(w.menu_undelete->isVisible());
    w.menu_short->close();
}

TEST_F(MainWindowTest, DescriptionPaneIgnoresTypingAndPaste)
{
    addTask("A", "", 1, "N", "keep me");
    frmMain &w = open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.highlight(1);
    w.txtDescription->setFocus();
    QTest::keyClicks(w.txtDescription, "typed");
    QTest::keyClick(w.txtDescription, Qt::Key_Return);
    QTest::keyClick(w.txtDescription, Qt::Key_Backspace);
    QTest::keyClick(w.txtDescription, Qt::Key_Delete);
    QApplication::clipboard()->setText("pasted");
    w.txtDescription->paste();
    EXPECT_EQ(w.txtDescription->toPlainText(), "keep me");
    EXPECT_EQ(Module1::tasks[0].description, "keep me");
}

TEST_F(MainWindowTest, HeaderClicksSortAndSelectionFollowsTheSlot)
{
    addTask("Charlie", "", 1);
    addTask("Alpha", "", 2);
    addTask("Bravo", "", 3);
    frmMain &w = open();
    w.highlight(1);  // slot 0: Charlie, due first
    ASSERT_EQ(w.selectedTask(), 1);

    w.lstContainer->cmdTitle->click();
    EXPECT_EQ(Module1::sortMode, 0);
    EXPECT_EQ(title(1), "Alpha");
    // Slot 0 now holds Alpha: its row is the highlighted one.
    EXPECT_EQ(w.selectedTask(), 1);
    EXPECT_TRUE(row(1).cell(ListColumn::Title).opaque);
    EXPECT_FALSE(row(3).cell(ListColumn::Title).opaque);
    EXPECT_EQ(w.lstContainer->cmdTitle->text(), "Title");  // no sort indicator

    w.lstContainer->cmdTitle->click();
    EXPECT_EQ(Module1::sortMode, 10);
    EXPECT_EQ(title(1), "Charlie");
    w.lstContainer->cmdDue->click();
    EXPECT_EQ(Module1::sortMode, 12);
    EXPECT_EQ(title(1), "Bravo");
}

// Rows and slots differ when a recycled task sits between two current
// ones: the redraw must find the row by the slot it shows.
TEST_F(MainWindowTest, ARedrawHighlightsTheRowShowingTheRememberedSlot)
{
    addTask("A", "", 1);
    addTask("Binned", "", 2, "Y");
    addTask("B", "", 3);
    frmMain &w = open();
    w.highlight(static_cast<qint16>(rowOf("B")));  // row 2, slot 2
    ASSERT_EQ(w.selectedTask(), 3);
    w.drawList();
    EXPECT_EQ(w.selectedTask(), 3);
    EXPECT_EQ(w.lstContainer->selectedRow(), rowOf("B"));
    EXPECT_TRUE(row(rowOf("B")).cell(ListColumn::Title).opaque);
    EXPECT_FALSE(row(rowOf("A")).cell(ListColumn::Title).opaque);
}

TEST_F(MainWindowTest, LongListScrollsPast32767Twips)
{
    for (int i = 0; i < 150; ++i)
        addTask(QString::number(i), "", i);
    frmMain &w = open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    ASSERT_GT(w.vscroll->maximum(), 2200);
    w.vscroll->setValue(2200);
    EXPECT_DOUBLE_EQ(w.geometryTwips().lstContainer.top, -33000);
    EXPECT_EQ(w.lstContainer->y(), -2200);
    w.vscroll->setValue(w.vscroll->maximum());
    // The last row is inside the viewport at the end of the range.
    const QRect last = w.lstContainer->cellRect(150, ListColumn::Title);
    const QRect inViewport(w.lstContainer->mapToParent(last.topLeft()), last.size());
    EXPECT_TRUE(w.lstContainer->parentWidget()->rect().contains(inViewport));
}

TEST_F(MainWindowTest, ScreenshotRowsAlignedAndCaptionsWhole)
{
    addRule(0, kRed);
    addTask("A title long enough to be cut at the edge of its column, surely", "Somebody", 0);
    addTask("Short", "Ann", 4);
    frmMain &w = open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.highlight(2);
    w.grab().save(QDir::temp().filePath("quillet-mainwindow.png"));

    // Rows sit under their header buttons.
    const std::pair<QPushButton *, ListColumn> columns[] = {
        {w.lstContainer->cmdTitle, ListColumn::Title},
        {w.lstContainer->cmdFor, ListColumn::For},
        {w.lstContainer->cmdDue, ListColumn::Due}};
    for (const auto &[button, column] : columns) {
        const QRect cell = w.lstContainer->cellRect(1, column);
        EXPECT_EQ(cell.left(), button->geometry().left()) << button->text().toStdString();
        EXPECT_EQ(cell.width(), button->geometry().width()) << button->text().toStdString();
        EXPECT_GE(button->width(), button->fontMetrics().horizontalAdvance(button->text()));
    }
    // "Immideate Attention" takes two lines and fits its caption box.
    QLabel *caption = w.pctMenu->Label1[0];
    const int lineHeight = caption->fontMetrics().height();
    const int needed = caption->heightForWidth(caption->width());
    EXPECT_GE(needed, 2 * lineHeight);
    EXPECT_LE(needed, caption->height());
    for (int k = 1; k < NavigationPane::kItems; ++k) {
        QLabel *l = w.pctMenu->Label1[static_cast<size_t>(k)];
        EXPECT_LE(l->fontMetrics().horizontalAdvance(l->text()), l->width()) << k;
    }
    EXPECT_TRUE(w.pctMenu->isCaptionBold(1));
    EXPECT_FALSE(w.pctMenu->isCaptionBold(0));
}

TEST_F(MainWindowTest, HoverBorderFollowsThePointer)
{
    frmMain &w = open();
    NavigationPane *pane = w.pctMenu;
    pane->Image1_MouseMove(0);
    EXPECT_TRUE(pane->hasBorder(0));
    pane->Image1_MouseMove(2);
    EXPECT_FALSE(pane->hasBorder(0));
    EXPECT_TRUE(pane->hasBorder(2));
    pane->pctMenu_MouseMove();
    for (int k = 0; k < NavigationPane::kItems; ++k)
        EXPECT_FALSE(pane->hasBorder(k));
}

TEST_F(MainWindowTest, SplitterReleaseSetsTheTruncatedPercent)
{
    frmMain &w = open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const double barTop = w.geometryTwips().sepa1.top;
    w.sepa1_MouseDown();
    EXPECT_TRUE(w.splitterDragging());
    w.sepa1_MouseMove(-600);
    EXPECT_DOUBLE_EQ(w.geometryTwips().sepa1.top, barTop - 600);
    w.sepa1_MouseUp();
    EXPECT_FALSE(w.splitterDragging());
    const double S = w.geometryTwips().pctMenu.height;
    EXPECT_EQ(w.splitPercent(), static_cast<int>((barTop - 600) / S * 100));
    // Dragged far below the status bar: kept where it can be grabbed again.
    w.sepa1_MouseDown();
    w.sepa1_MouseMove(100000);
    w.sepa1_MouseUp();
    EXPECT_EQ(w.splitPercent(), 95);
    EXPECT_LT(w.geometryTwips().sepa1.top, S);
}

}  // namespace

namespace {

TEST_F(MainWindowTest, KeyboardMovesTheSelectionAndOpensTheMenu)
{
    for (int i = 0; i < 40; ++i)
        addTask(QString::number(i), "", i);
    frmMain &w = open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.lstContainer->setFocus();
    QTest::keyClick(w.lstContainer, Qt::Key_Down);
    EXPECT_EQ(title(1), "0");
    EXPECT_TRUE(row(1).cell(ListColumn::Title).opaque);
    QTest::keyClick(w.lstContainer, Qt::Key_Down);
    EXPECT_EQ(w.selectedTask(), row(2).id.toInt() + 1);
    QTest::keyClick(w.lstContainer, Qt::Key_End);
    EXPECT_TRUE(row(40).cell(ListColumn::Title).opaque);
    // The last row was scrolled into view.
    EXPECT_GT(w.vscroll->value(), 0);
    QTest::keyClick(w.lstContainer, Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_TRUE(w.menu_short->isVisible());
    w.menu_short->close();
}

TEST_F(MainWindowTest, DownOntoARowJustBelowTheViewScrollsItWhole)
{
    for (int i = 0; i < 40; ++i)
        addTask(QString::number(i), "", i);
    frmMain &w = open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const int viewHeight = w.lstContainer->parentWidget()->height();
    // GIVEN a row whose last line is the first line below the view
    int k = 1;
    while (k < 40 && w.lstContainer->cellRect(k, ListColumn::Title).bottom() < viewHeight)
        ++k;
    const int bottom = w.lstContainer->cellRect(k, ListColumn::Title).bottom();
    w.vscroll->setValue(bottom - viewHeight);
    ASSERT_EQ(-w.lstContainer->y() + viewHeight, bottom) << "the row's last line is just hidden";
    w.highlight(static_cast<qint16>(k - 1));
    // WHEN Down selects it THEN it is scrolled wholly into view
    w.lstContainer->setFocus();
    QTest::keyClick(w.lstContainer, Qt::Key_Down);
    EXPECT_EQ(w.lstContainer->selectedRow(), k);
    EXPECT_EQ(w.vscroll->value(), bottom - viewHeight + 1);
    EXPECT_GT(-w.lstContainer->y() + viewHeight, bottom);
}

TEST_F(MainWindowTest, KeysAtTheEndsOfTheListStayOnIt)
{
    for (int i = 0; i < 12; ++i)
        addTask(QString::number(i), "", i);
    frmMain &w = open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    struct {
        int from;
        Qt::Key key;
        int to;
    } const cases[] = {
        {12, Qt::Key_Down, 12}, {1, Qt::Key_Up, 1},   {8, Qt::Key_PageDown, 12},
        {3, Qt::Key_PageUp, 1}, {5, Qt::Key_Home, 1}, {5, Qt::Key_End, 12},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << c.from << ", key " << c.key);
        w.highlight(static_cast<qint16>(c.from));
        QTest::keyClick(w.lstContainer, c.key);
        EXPECT_EQ(w.lstContainer->selectedRow(), c.to);
        EXPECT_EQ(w.selectedTask(), row(c.to).id.toInt() + 1);
    }
}

TEST_F(MainWindowTest, ReturnDoubleClickAndDeleteActOnTheSelectedRow)
{
    addTask("A", "", 1);
    addTask("Binned", "", 2, "Y");
    addTask("B", "", 3);
    std::vector<qint16> edited;
    frmMainHooks hooks;
    hooks.showTaskEditor = [&](qint16 n) {
        edited.push_back(n);
        return TaskEditorResult{};
    };
    frmMain &w = open(std::move(hooks));
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const int rowB = rowOf("B");  // row 2 shows slot 2, task number 3

    // Nothing selected: none of them acts.
    QTest::keyClick(w.lstContainer, Qt::Key_Return);
    MessageBox::clearLastShown();
    QTest::keyClick(w.lstContainer, Qt::Key_Delete);
    EXPECT_TRUE(edited.empty());
    EXPECT_FALSE(MessageBox::lastShown().has_value());

    QTest::mouseDClick(w.lstContainer, Qt::LeftButton, {}, cellCentre(w, rowB, ListColumn::For));
    w.highlight(static_cast<qint16>(rowB));
    QTest::keyClick(w.lstContainer, Qt::Key_Return);
    QTest::keyClick(w.lstContainer, Qt::Key_Enter);
    EXPECT_EQ(edited, (std::vector<qint16>{3, 3, 3}));

    MessageBox::setNextAnswer(QMessageBox::No);
    QTest::keyClick(w.lstContainer, Qt::Key_Delete);
    ASSERT_TRUE(MessageBox::lastShown().has_value());
    EXPECT_EQ(MessageBox::lastShown()->text, "Are you sure?");
}

TEST_F(MainWindowTest, ACutCellShowsItsWholeTextAsATip)
{
    const QString longTitle =
        QStringLiteral("A title long enough to be cut at the edge of its column, surely");
    addTask(longTitle, "Ann", 1);
    frmMain &w = open();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_EQ(w.lstContainer->cutTextAt(cellCentre(w, 1, ListColumn::Title)), longTitle);
    EXPECT_EQ(w.lstContainer->cutTextAt(cellCentre(w, 1, ListColumn::For)), "");
    EXPECT_EQ(w.lstContainer->cutTextAt(QPoint(5, 2)), "") << "the header is no row";
}

// The painted pixels, not only the cell's fields: red must come out red.
TEST_F(MainWindowTest, RowsArePaintedInTheRuleColourOrTheThemeText)
{
    addRule(0, kRed);
    addTask("Overdue", "", -1);
    addTask("Uncoloured", "", 400);
    frmMain &w = open();
    QPalette dark = w.lstContainer->palette();
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    w.lstContainer->setPalette(dark);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const QImage shot = w.lstContainer->grab().toImage();
    auto inks = [&](int k) {
        // The colours of the glyph pixels of a row's title.
        std::set<QRgb> found;
        const QRect r = w.lstContainer->cellRect(k, ListColumn::Title);
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                if (shot.pixel(x, y) != QColor(30, 30, 30).rgb())
                    found.insert(shot.pixel(x, y));
        return found;
    };
    const std::set<QRgb> red = inks(rowOf("Overdue"));
    const std::set<QRgb> light = inks(rowOf("Uncoloured"));
    EXPECT_TRUE(red.count(qRgb(255, 0, 0))) << "the rule's red is painted red";
    EXPECT_FALSE(red.count(qRgb(0, 0, 255)));
    EXPECT_TRUE(light.count(qRgb(230, 230, 230)))
        << "a row no rule colours takes the theme's text colour";
    EXPECT_FALSE(light.count(qRgb(0, 0, 0)));
}

TEST_F(MainWindowTest, TheDatePanelFollowsARedrawAfterMidnight)
{
    addTask("A", "", 1);
    frmMain &w = open();
    const Module1::Days tomorrow = Module1::today() + std::chrono::days{1};
    Module1::setToday(tomorrow);
    w.lstContainer->cmdDue->click();
    EXPECT_EQ(w.statusPanels[2]->text(), "12/9/26");
}

// The pictures are the program's own, so the pane looks the same with any
// icon theme or none.
TEST_F(MainWindowTest, NavigationPicturesAreDrawnWithoutAnIconTheme)
{
    QIcon::setThemeName(QStringLiteral("no-such-theme"));
    frmMain &w = open();
    for (QLabel *picture : w.pctMenu->Image2) {
        const QPixmap shown = picture->pixmap();
        ASSERT_FALSE(shown.isNull()) << picture->objectName().toStdString();
        EXPECT_EQ(shown.deviceIndependentSize().toSize(), QSize(32, 32));
        const QImage image = shown.toImage();
        EXPECT_NE(image.pixelColor(16, 16).alpha(), 0)
            << picture->objectName().toStdString() << " is blank";
    }
    EXPECT_FALSE(icons::programIcon().pixmap(256).isNull());
    EXPECT_EQ(icons::programIcon().availableSizes().size(), 8);
}

}  // namespace
