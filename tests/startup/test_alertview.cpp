// The alert page as the viewer shows it, block by block: exactly what the
// whole page shows as one document, and readable by a screen reader.
#include "page/alertpage.h"
#include "page/pageviewer.h"
#include "startup/frmstartup.h"
#include "store/tables.h"
#include "support/pagetasks.h"
#include "support/pageviewerprobe.h"
#include "support/testsupport.h"

#include <QAbstractTextDocumentLayout>
#include <QAccessible>
#include <QApplication>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextDocument>

#include <gtest/gtest.h>

using namespace Module1;

namespace {

using testsupport::addPageTask;

// Tasks of every kind the page shows: markup kept and escaped, empty and
// long fields, lists and breaks, late, today and days left.
void fillVariedTasks(int count)
{
    const QString kinds[] = {
        QStringLiteral("Plain notes"),
        QStringLiteral("Line one\r\nline two <b>bold</b> and <i>italic</i>"),
        QStringLiteral("<ul><li>first</li><li>second</li></ul>after the list"),
        QStringLiteral("A long description that wraps over several lines of the block, ") +
            QStringLiteral("word ").repeated(60),
        QStringLiteral("<table><tr><td>").repeated(12) + "deep" +
            QStringLiteral("</td></tr></table>").repeated(12),
        QString(),
        QStringLiteral("<font size=+2>big</font> text<br>and a break"),
    };
    for (int i = 0; i < count; ++i)
        addPageTask(i % 5 == 1 ? QStringLiteral("Send the <i>report</i> %1").arg(i)
                               : QStringLiteral("Task %1 & more").arg(i),
                    i % 4 == 0 ? QString() : QStringLiteral("Person %1").arg(i), 1 + (i * 3) % 28,
                    kinds[i % 7]);
    alertRules[alertRuleCount++] = AlertRule{40, QStringLiteral("d"), 255, true};
    alertRules[alertRuleCount++] = AlertRule{5, QStringLiteral("d"), 0x00A5FF, true};
}

// The whole page as one document, as the viewer showed it before it showed
// blocks: the application's font, dark text on white.
QImage wholePage(const AlertPage &page, int width, int top, int height)
{
    QTextDocument doc;
    doc.setHtml(page.view.markup);
    doc.setTextWidth(width);
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.translate(0, -top);
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = PageViewer::pagePalette();
    context.clip = QRectF(0, top, width, height);
    doc.documentLayout()->draw(&painter, context);
    return image;
}

QImage shown(PageViewer &viewer)
{
    return viewer.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

struct ViewSize {
    int width, height;
};

class BlocksLookLikeThePage : public ::testing::TestWithParam<ViewSize> { };

TEST_P(BlocksLookLikeThePage, AtTheTopAndScrolledByTheKeyboard)
{
    const ViewSize size = GetParam();
    fillVariedTasks(60);
    const AlertPage page = buildAlertPage(today());
    PageViewer viewer;
    viewer.resize(size.width, size.height);
    viewer.showPage(page.view);
    viewer.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&viewer));
    const int width = viewer.viewport()->width();
    const int height = viewer.viewport()->height();
    EXPECT_EQ(shown(viewer), wholePage(page, width, 0, height)) << "at the top";

    // Page by page, every block above has been laid out: all in its place.
    for (int i = 0; i < 8; ++i)
        QTest::keyClick(&viewer, Qt::Key_PageDown);
    const int top = viewer.verticalScrollBar()->value();
    ASSERT_GT(top, 0);
    EXPECT_EQ(shown(viewer), wholePage(page, width, top, height)) << "scrolled to " << top;
}

INSTANTIATE_TEST_SUITE_P(AlertView, BlocksLookLikeThePage,
                         ::testing::Values(ViewSize{853, 533}, ViewSize{480, 700}),
                         [](const ::testing::TestParamInfo<ViewSize> &info) {
                             return std::to_string(info.param.width) + "x" +
                                    std::to_string(info.param.height);
                         });

TEST(AlertView, ShowingAThousandTasksLaysOutAScreenful)
{
    fillVariedTasks(1001);
    frmStartup w;
    ASSERT_TRUE(w.makepage());
    w.placeOnScreen();
    w.loadPageInto(w.WebBrowser1);
    EXPECT_EQ(PageViewerProbe(*w.WebBrowser1).laidOutCount(), 0) << "laid out before it was shown";
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_EQ(w.WebBrowser1->blockCount(), 1002);
    EXPECT_LT(PageViewerProbe(*w.WebBrowser1).laidOutCount(), 40);

    // Alt+S hides it; a page made meanwhile is not laid out, but for the
    // blocks of the tasks that did not change, which are kept.
    w.cmdShowAll->click();
    ASSERT_FALSE(w.isVisible());
    const int before = PageViewerProbe(*w.WebBrowser1).laidOutCount();
    ASSERT_TRUE(PageViewerProbe(*w.WebBrowser1).isLaidOut(1));
    tasks[0].title = QStringLiteral("Changed");
    w.makepage();
    w.loadPageInto(w.WebBrowser1);
    EXPECT_TRUE(w.WebBrowser1->blockName(1).startsWith("Changed"));
    EXPECT_FALSE(PageViewerProbe(*w.WebBrowser1).isLaidOut(1));
    EXPECT_EQ(PageViewerProbe(*w.WebBrowser1).laidOutCount(), before - 1);
}

// A screen reader meets a window named by its title and starts on the first
// announced task, named with its title, for whom, due text and days left.
TEST(AlertView, StartUpWindowReadsAsAWindowStartingOnTheFirstTask)
{
    addPageTask(QStringLiteral("Pay the <b>rent</b>"), QStringLiteral("Me"), 6);
    addPageTask(QStringLiteral("Dentist"), QString(), 8);
    addPageTask(QStringLiteral("Report"), QStringLiteral("Office"), 11);
    alertRules[alertRuleCount++] = AlertRule{7, QStringLiteral("d"), 255, true};
    frmStartup w;
    ASSERT_TRUE(w.makepage());
    w.placeOnScreen();
    w.loadPageInto(w.WebBrowser1);
    w.show();
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));

    QAccessibleInterface *window = QAccessible::queryAccessibleInterface(&w);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->role(), QAccessible::Window);
    EXPECT_EQ(window->text(QAccessible::Name), "Quillet Alert!");

    ASSERT_EQ(QApplication::focusWidget(), w.WebBrowser1);
    QAccessibleInterface *page = QAccessible::queryAccessibleInterface(w.WebBrowser1);
    EXPECT_EQ(page->text(QAccessible::Name), "Attention!");
    QStringList names;
    for (int i = 0; i < page->childCount(); ++i)
        names << page->child(i)->text(QAccessible::Name);
    EXPECT_EQ(names, QStringList({"Pay the rent, for Me, due December 06/26 at 6:30:00 AM, Late!",
                                  "Dentist, due December 08/26 at 8:30:00 AM, Today!",
                                  "Report, for Office, due December 11/26 at 11:30:00 AM, "
                                  "3 days left"}));
    QAccessibleInterface *focus = page->focusChild();
    ASSERT_NE(focus, nullptr);
    EXPECT_EQ(focus->text(QAccessible::Name), names.front());
}

}  // namespace
