#include "page/pageviewer.h"
#include "support/pageviewerprobe.h"
#include "support/tempfolder.h"
#include "support/testsupport.h"

#include <QAbstractTextDocumentLayout>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>
#include <QtMath>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace {

// A page shaped as the alert page: a heading, then `count` task blocks whose
// bodies take 1 to 5 lines, so that their heights differ from the estimate.
PageBlocks pageOf(int count, const QString &extra = {})
{
    PageBlocks page;
    page.opening = QStringLiteral("<body><center><p align=center>\r\n");
    page.closing = QStringLiteral("</p></center></body></html>\r\n");
    page.markup = (QStringLiteral("<head><title>Alerts</title></head>\r\n") + page.opening +
                   QStringLiteral("<h2>Attention!</h2>\r\n"))
                      .toUtf8();
    page.blocks.push_back({0, page.markup.size(), QStringLiteral("Attention!")});
    page.sample = QStringLiteral(
        "<table width=95% align=center border=0 cellspacing=8 bgcolor=#000000>"
        "<tr><td bgcolor=#ffffff><b> </b></td></tr></table><br>\r\n");
    for (int i = 0; i < count; ++i) {
        const qsizetype from = page.markup.size();
        page.markup += QStringLiteral(
                           "<table width=95% align=center border=0 cellspacing=8 bgcolor=#FF0000>"
                           "<tr><td bgcolor=#ffffff><b> Task %1</b>%2%3</td></tr></table><br>\r\n")
                           .arg(i)
                           .arg(QStringLiteral("<br>line").repeated(i % 5), extra)
                           .toUtf8();
        page.blocks.push_back({from, page.markup.size(), QStringLiteral("Task <i>%1</i>").arg(i)});
    }
    page.markup += page.closing.toUtf8();
    return page;
}

// Every URL names something that exists, so a viewer that loads would get it.
class PageViewerLoads : public testsupport::InTempFolder<::testing::TestWithParam<const char *>> {
protected:
    void SetUp() override
    {
        InTempFolder::SetUp();
        testsupport::writeFile(folder().filePath("note.css"), "td { color: red }");
    }
};

TEST_P(PageViewerLoads, NothingForAnyUrl)
{
    const QString url = QString::fromUtf8(GetParam());
    PageViewer viewer;
    viewer.resize(400, 300);
    viewer.showPage(pageOf(1, QStringLiteral("<img src=\"%1\"><a href=\"%1\">link</a>").arg(url)));
    QTextDocument *doc = PageViewerProbe(viewer).blockDocument(1);
    ASSERT_NE(doc, nullptr);
    for (int type : {QTextDocument::HtmlResource, QTextDocument::ImageResource,
                     QTextDocument::StyleSheetResource}) {
        // What the block's layout asks for.
        EXPECT_FALSE(doc->resource(type, QUrl(url)).isValid()) << type;
    }
}

INSTANTIATE_TEST_SUITE_P(
    PageViewer, PageViewerLoads,
    ::testing::Values("file:///etc/passwd", "/etc/passwd", "note.css", "./note.css",
                      "qrc:/qt-project.org/styles/commonstyle/images/file-16.png",
                      ":/qt-project.org/styles/commonstyle/images/file-16.png",
                      "data:text/plain,hello", "http://localhost/note.css"));

class PageViewerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        viewer = std::make_unique<PageViewer>();
        viewer->resize(500, 400);
    }
    void show()
    {
        viewer->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(viewer.get()));
    }
    // The task blocks laid out, in order.
    std::vector<int> laidOut() const
    {
        std::vector<int> out;
        for (int k = 1; k < viewer->blockCount(); ++k)
            if (PageViewerProbe(*viewer).isLaidOut(k))
                out.push_back(k);
        return out;
    }
    QScrollBar *bar() const { return viewer->verticalScrollBar(); }

    std::unique_ptr<PageViewer> viewer;
};

TEST_F(PageViewerTest, HiddenLaysOutNothingShownOnlyWhatIsSeen)
{
    viewer->showPage(pageOf(1000));
    viewer->resize(520, 420);
    EXPECT_EQ(PageViewerProbe(*viewer).laidOutCount(), 0);

    show();
    const std::vector<int> first = laidOut();
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.front(), 1);
    EXPECT_LT(first.size(), 15u);
    // The last one laid out reaches the view's bottom; the one after does not.
    EXPECT_GE(viewer->blockRect(first.back()).bottom(), viewer->viewport()->height() - 1);
    EXPECT_GE(viewer->blockRect(first.back() + 1).top(), viewer->viewport()->height());
    // The scroll bar has the length of a thousand blocks.
    EXPECT_GT(bar()->maximum(), 1000 * 40);

    // WHEN the user goes to the end THEN only the end is laid out besides.
    QTest::keyClick(viewer.get(), Qt::Key_End);
    const std::vector<int> both = laidOut();
    EXPECT_LT(both.size(), 2 * first.size() + 2);
    EXPECT_TRUE(PageViewerProbe(*viewer).isLaidOut(1000));
    EXPECT_FALSE(PageViewerProbe(*viewer).isLaidOut(500));
    EXPECT_EQ(bar()->value(), bar()->maximum());
    EXPECT_EQ(viewer->blockRect(1000).bottom() + 1 + 4, viewer->viewport()->height())
        << "the page's margin below the last block";

    // WHEN it is hidden and given another page THEN nothing is laid out.
    viewer->hide();
    viewer->showPage(pageOf(999, QStringLiteral("other")));
    viewer->resize(600, 500);
    EXPECT_TRUE(laidOut().empty());
}

// The first paint lays out what it shows; the rest is measured behind any
// input, and the scroll bar comes once its range is that of the whole page,
// with only what was seen kept laid out.
TEST_F(PageViewerTest, TheRestIsMeasuredInSlicesAndTheBarComesExact)
{
    const PageBlocks page = pageOf(1000);
    QElapsedTimer clock;
    clock.start();
    viewer->showPage(page);
    viewer->show();
    viewer->viewport()->grab();  // the first paint, with no event loop behind it
    const qint64 firstPaint = clock.elapsed();
    const std::vector<int> seen = laidOut();
    ASSERT_FALSE(seen.empty());
    EXPECT_LT(seen.size(), 15u);
    EXPECT_FALSE(bar()->isVisible()) << "a range not known yet";

    bool answered = false;
    bool measuredThen = true;
    QTimer::singleShot(0, viewer.get(), [&] {
        answered = true;
        measuredThen = bar()->isVisible();
    });
    QTRY_VERIFY(answered);
    EXPECT_FALSE(measuredThen) << "input waited for the whole page";

    QTRY_VERIFY_WITH_TIMEOUT(bar()->isVisible(), 20000);
    const qint64 measured = clock.elapsed();
    QTextDocument whole;
    whole.setTextWidth(viewer->viewport()->width());
    whole.setHtml(page.markup);
    EXPECT_EQ(bar()->maximum(), qCeil(whole.size().height()) - viewer->viewport()->height());
    EXPECT_EQ(laidOut(), seen);
    std::printf(
        "[ figures  ] 1000 tasks: first paint %lld ms, all measured at %lld ms "
        "(a loaded machine, not a limit)\n",
        static_cast<long long>(firstPaint), static_cast<long long>(measured));
}

// Blocks above the view measured meanwhile move nothing on screen, and the
// scroll bar comes back with the whole page's range.
struct MidPage {
    const char *name;
    // Brings the view to the middle of the page with blocks above it not
    // measured at the view's width.
    std::function<void(PageViewer &)> arrive;
};

class MeasuringAboveTheView : public ::testing::TestWithParam<MidPage> { };

TEST_P(MeasuringAboveTheView, MovesNothingSeen)
{
    // A child, which takes a new size at once, as a window does not.
    QWidget window;
    window.resize(700, 400);
    PageViewer viewer(&window);
    viewer.resize(500, 400);
    const PageBlocks page = pageOf(400);
    viewer.showPage(page);
    window.show();
    GetParam().arrive(viewer);
    QScrollBar *bar = viewer.verticalScrollBar();
    ASSERT_FALSE(bar->isVisible()) << "the range is not known yet";
    const QImage before = viewer.viewport()->grab().toImage();
    const int k = viewer.currentBlock();
    ASSERT_GT(k, 100);
    const QRect at = viewer.blockRect(k);

    QTRY_VERIFY_WITH_TIMEOUT(bar->isVisible(), 20000);
    EXPECT_EQ(viewer.blockRect(k), at);
    EXPECT_EQ(viewer.viewport()->grab().toImage(), before);
    QTextDocument whole;
    whole.setTextWidth(viewer.viewport()->width());
    whole.setHtml(page.markup);
    EXPECT_EQ(bar->maximum(), qCeil(whole.size().height()) - viewer.viewport()->height());
}

INSTANTIATE_TEST_SUITE_P(
    PageViewer, MeasuringAboveTheView,
    ::testing::Values(
        // Sent there before the page behind the first paint was measured.
        MidPage{"ScrolledBeforeMeasured",
                [](PageViewer &viewer) {
                    viewer.verticalScrollBar()->setValue(viewer.verticalScrollBar()->maximum() / 2);
                }},
        // Measured, scrolled there, then made wider: every height changes.
        MidPage{"Widened",
                [](PageViewer &viewer) {
                    QTRY_VERIFY(viewer.verticalScrollBar()->isVisible());
                    viewer.verticalScrollBar()->setValue(viewer.verticalScrollBar()->maximum() / 2);
                    viewer.resize(640, 400);
                }}),
    [](const ::testing::TestParamInfo<MidPage> &info) { return std::string(info.param.name); });

// Shown again, as a browser shows a page it navigates to: from its top.
TEST_F(PageViewerTest, TheSamePageAgainKeepsItsLayoutAndStartsAtTheTop)
{
    viewer->showPage(pageOf(50));
    show();
    QTextDocument *shown = PageViewerProbe(*viewer).blockDocument(1);
    bar()->setValue(300);
    viewer->showPage(pageOf(50));
    EXPECT_EQ(PageViewerProbe(*viewer).blockDocument(1), shown);
    EXPECT_EQ(bar()->value(), 0);

    viewer->showPage(pageOf(49));
    EXPECT_EQ(bar()->value(), 0);
    EXPECT_EQ(viewer->currentBlock(), 1);
    EXPECT_EQ(viewer->blockCount(), 50);
}

// A page in which one task changed keeps the other blocks as they were
// laid out; the changed one is laid out when it is seen.
TEST_F(PageViewerTest, AChangedTaskIsTheOnlyBlockLaidOutAgain)
{
    PageBlocks page = pageOf(20);
    viewer->showPage(page);
    show();
    const std::vector<int> before = laidOut();
    ASSERT_GE(before.size(), 3u);
    QTextDocument *first = PageViewerProbe(*viewer).blockDocument(1);
    QTextDocument *third = PageViewerProbe(*viewer).blockDocument(3);

    viewer->hide();
    page.markup.replace(page.markup.indexOf("Task 2<"), 6, "Task 2 changed");
    page.blocks[3].to += 8;
    for (size_t k = 4; k < page.blocks.size(); ++k) {
        page.blocks[k].from += 8;
        page.blocks[k].to += 8;
    }
    viewer->showPage(page);
    EXPECT_EQ(laidOut().size(), before.size() - 1);
    EXPECT_FALSE(PageViewerProbe(*viewer).isLaidOut(3));
    EXPECT_EQ(PageViewerProbe(*viewer).blockDocument(1), first);

    viewer->show();
    EXPECT_EQ(laidOut(), before);
    EXPECT_NE(PageViewerProbe(*viewer).blockDocument(3), third);
    EXPECT_TRUE(PageViewerProbe(*viewer).toPlainText().contains("Task 2 changed"));
}

// Whatever page came before, a page looks as it does in a viewer of its own.
TEST_F(PageViewerTest, APageLooksTheSameWhateverCameBefore)
{
    PageViewer fresh;
    fresh.resize(viewer->size());
    fresh.showPage(pageOf(6));
    fresh.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&fresh));
    const QImage expected = fresh.viewport()->grab().toImage();

    show();
    for (const PageBlocks &before : {pageOf(0), pageOf(3), pageOf(8, QStringLiteral("x"))}) {
        viewer->showPage(before);
        viewer->showPage(pageOf(6));
        EXPECT_EQ(viewer->viewport()->grab().toImage(), expected)
            << "after a page of " << before.blocks.size() - 1 << " tasks";
    }
}

// Blocks above take their real heights as they come into view; what was on
// screen does not jump.
TEST_F(PageViewerTest, ScrollingUpKeepsWhatIsSeenInPlace)
{
    viewer->showPage(pageOf(400));
    show();
    bar()->setValue(bar()->maximum() / 2);
    const auto [k, top] = [&] {
        for (int b = 1; b < viewer->blockCount(); ++b) {
            const QRect r = viewer->blockRect(b);
            if (PageViewerProbe(*viewer).isLaidOut(b) && r.top() >= 0)
                return std::pair{b, r.top()};
        }
        return std::pair{-1, 0};
    }();
    ASSERT_GT(k, 1);
    ASSERT_FALSE(PageViewerProbe(*viewer).isLaidOut(k - 2));
    for (int step = 1; step <= 10; ++step) {
        bar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        ASSERT_EQ(viewer->blockRect(k).top(), top + 20 * step) << "step " << step;
    }
    EXPECT_TRUE(PageViewerProbe(*viewer).isLaidOut(k - 2));
}

// As in a browser, the keys scroll by line, through a tall last task to the
// page's end; a screen reader's item follows what is seen.
TEST_F(PageViewerTest, DownScrollsByLineToTheEndOfATallLastTask)
{
    PageBlocks page = pageOf(3);
    const QString tall = QStringLiteral("<br>line").repeated(80);
    page.markup.insert(page.markup.lastIndexOf("</td>", page.blocks.back().to), tall.toUtf8());
    page.blocks.back().to += tall.size();
    viewer->showPage(page);
    show();
    ASSERT_GT(viewer->blockRect(3).height(), 2 * viewer->viewport()->height());
    EXPECT_EQ(viewer->currentBlock(), 1);
    int presses = 0;
    while (bar()->value() < bar()->maximum() && presses < 200) {
        const int before = bar()->value();
        QTest::keyClick(viewer.get(), Qt::Key_Down);
        ++presses;
        ASSERT_EQ(bar()->value(), std::min(before + 20, bar()->maximum())) << "press " << presses;
    }
    EXPECT_EQ(bar()->value(), bar()->maximum());
    EXPECT_EQ(viewer->currentBlock(), 3);
    EXPECT_EQ(viewer->blockRect(3).bottom() + 1 + 4, viewer->viewport()->height());
    QTest::keyClick(viewer.get(), Qt::Key_Home);
    EXPECT_EQ(bar()->value(), 0);
    EXPECT_TRUE(viewer->viewport()->rect().intersects(viewer->blockRect(viewer->currentBlock())));
}

// A page wider than the view: End shows the last task whole above the
// horizontal scroll bar.
TEST_F(PageViewerTest, EndShowsTheLastTaskAboveTheHorizontalBar)
{
    viewer->showPage(pageOf(12, QStringLiteral("<img width=900 height=4>")));
    show();
    QTest::keyClick(viewer.get(), Qt::Key_End);
    ASSERT_TRUE(viewer->horizontalScrollBar()->isVisible());
    EXPECT_EQ(viewer->blockRect(12).bottom() + 1 + 4, viewer->viewport()->height());
}

// Two tasks alike on a page are two blocks, each laid out: a page that
// changes elsewhere keeps one's layout and lays the other out anew.
TEST_F(PageViewerTest, TwoLikeTasksKeepTwoLayoutsWhenAnotherChanges)
{
    const auto withTwins = [](const QString &other) {
        PageBlocks page = pageOf(0);
        page.markup.chop(page.closing.size());
        for (const QString &title : {QStringLiteral("Twin"), QStringLiteral("Twin"), other}) {
            const qsizetype from = page.markup.size();
            page.markup += QStringLiteral(
                               "<table width=95% align=center border=0 cellspacing=8 "
                               "bgcolor=#FF0000><tr><td bgcolor=#ffffff><b> %1</b>"
                               "</td></tr></table><br>\r\n")
                               .arg(title)
                               .toUtf8();
            page.blocks.push_back({from, page.markup.size(), title});
        }
        page.markup += page.closing.toUtf8();
        return page;
    };
    show();
    viewer->showPage(withTwins(QStringLiteral("Other")));
    viewer->showPage(withTwins(QStringLiteral("Changed")));
    viewer->viewport()->repaint();
    PageViewerProbe probe(*viewer);
    ASSERT_NE(probe.blockDocument(1), nullptr);
    ASSERT_NE(probe.blockDocument(2), nullptr);
    EXPECT_NE(probe.blockDocument(1), probe.blockDocument(2));

    PageViewer fresh;
    fresh.resize(viewer->size());
    fresh.showPage(withTwins(QStringLiteral("Changed")));
    fresh.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&fresh));
    EXPECT_EQ(viewer->viewport()->grab().toImage(), fresh.viewport()->grab().toImage());
}

// A task's markup can draw far outside its own lines (a huge letter in a
// tiny line height); what falls outside its band is not painted over the
// next task.
TEST_F(PageViewerTest, ATaskPaintsNothingOverTheNext)
{
    const auto spilling = [](const QString &letter) {
        PageBlocks page = pageOf(2);
        const QString spill =
            QStringLiteral(
                "<p style=\"line-height:1%\"><span style=\"font-size:250px\">%1</span></p>")
                .arg(letter);
        page.markup.insert(page.markup.lastIndexOf("</td>", page.blocks[1].to), spill.toUtf8());
        page.blocks[1].to += spill.size();
        for (size_t k = 2; k < page.blocks.size(); ++k) {
            page.blocks[k].from += spill.size();
            page.blocks[k].to += spill.size();
        }
        return page;
    };
    show();
    viewer->showPage(spilling(QStringLiteral("&nbsp;")));
    const int below = viewer->blockRect(1).bottom() + 1;
    const QImage blank = viewer->viewport()->grab().toImage();
    viewer->showPage(spilling(QStringLiteral("W")));
    ASSERT_EQ(viewer->blockRect(1).bottom() + 1, below);
    const QImage drawn = viewer->viewport()->grab().toImage();
    const QRect next(0, below, drawn.width(), drawn.height() - below);
    EXPECT_EQ(drawn.copy(next), blank.copy(next));
}

// As in any browser, the mouse selects text, across blocks, and Ctrl+C or the
// context menu copies it.
TEST_F(PageViewerTest, DraggingSelectsTextAndCtrlCCopiesIt)
{
    viewer->showPage(pageOf(5));
    show();
    QApplication::clipboard()->setText(QStringLiteral("copied before"));
    QWidget *view = viewer->viewport();
    const QPoint from = viewer->blockRect(1).topLeft() + QPoint(30, 14);
    const QPoint to = viewer->blockRect(2).topLeft() + QPoint(200, 14);
    QTest::mousePress(view, Qt::LeftButton, {}, from);
    QTest::mouseMove(view, to);
    QMouseEvent move(QEvent::MouseMove, to, view->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                     {});
    QApplication::sendEvent(view, &move);
    QTest::mouseRelease(view, Qt::LeftButton, {}, to);
    const QString selected = viewer->selectedText();
    EXPECT_TRUE(selected.contains("Task 0")) << selected.toStdString();
    EXPECT_TRUE(selected.contains("Task 1")) << selected.toStdString();
    EXPECT_FALSE(selected.contains("Task 2")) << selected.toStdString();
    // Selecting is not copying: the selection goes to the primary selection
    // only (where the platform has one).
    EXPECT_EQ(QApplication::clipboard()->text(), "copied before");
    if (QApplication::clipboard()->supportsSelection()) {
        EXPECT_EQ(QApplication::clipboard()->text(QClipboard::Selection), selected);
    }

    QTest::keySequence(viewer.get(), QKeySequence::Copy);
    EXPECT_EQ(QApplication::clipboard()->text(), selected);

    // A click elsewhere leaves nothing selected.
    QTest::mouseClick(view, Qt::LeftButton, {}, viewer->blockRect(3).center());
    EXPECT_TRUE(viewer->selectedText().isEmpty());
}

// The page reads the same whatever the theme: dark text on its own light
// backgrounds; only the scroll bars follow the theme.
TEST_F(PageViewerTest, PageLooksTheSameOnADarkTheme)
{
    viewer->showPage(pageOf(6, QStringLiteral("<a href=x>link</a>")));
    show();
    const QImage light = viewer->viewport()->grab().toImage();

    struct Theme {
        const char *style;
        bool darkPalette;
    };
    for (const Theme theme : {Theme{"Fusion", true}, Theme{"Adwaita-Dark", false}}) {
        std::unique_ptr<QStyle> style(QStyleFactory::create(QString::fromLatin1(theme.style)));
        if (!style)
            continue;  // adwaita-qt6 is not installed
        const QPalette before = QApplication::palette();
        QPalette dark = style->standardPalette();
        if (theme.darkPalette) {
            dark.setColor(QPalette::Window, QColor(53, 53, 53));
            dark.setColor(QPalette::Base, QColor(42, 42, 42));
            dark.setColor(QPalette::Text, Qt::white);
            dark.setColor(QPalette::WindowText, Qt::white);
            dark.setColor(QPalette::Link, QColor(42, 130, 218));
        }
        viewer->setStyle(style.get());
        viewer->setPalette(dark);
        const QImage shown = viewer->viewport()->grab().toImage();
        viewer->setStyle(nullptr);
        viewer->setPalette(before);
        EXPECT_EQ(shown, light) << theme.style;
    }
}

// The heading names the list and is no item of it: whatever the user does,
// the current block (a screen reader's item) is a task in view.
TEST_F(PageViewerTest, TheHeadingIsNeverTheCurrentBlock)
{
    const auto onHeading = [](PageViewer &v, Qt::MouseButton button) {
        QTest::mouseClick(v.viewport(), button, {}, v.blockRect(0).center());
    };
    const auto keys = [](PageViewer &v, Qt::Key key, int times) {
        for (int i = 0; i < times; ++i)
            QTest::keyClick(&v, key);
    };
    const struct {
        const char *name;
        std::function<void(PageViewer &)> act;
    } rows[] = {
        {"shown", [](PageViewer &) {}},
        {"up from the first task", [&](PageViewer &v) { keys(v, Qt::Key_Up, 1); }},
        {"down, then up past the first task",
         [&](PageViewer &v) {
             keys(v, Qt::Key_Down, 3);
             keys(v, Qt::Key_Up, 6);
         }},
        {"a click on the heading", [&](PageViewer &v) { onHeading(v, Qt::LeftButton); }},
        {"a right click on the heading", [&](PageViewer &v) { onHeading(v, Qt::RightButton); }},
        {"a click on the heading after a task further down",
         [&](PageViewer &v) {
             QTest::mouseClick(v.viewport(), Qt::LeftButton, {}, v.blockRect(2).center());
             onHeading(v, Qt::LeftButton);
         }},
        {"the heading scrolled back into view",
         [&](PageViewer &v) {
             keys(v, Qt::Key_Down, 40);
             keys(v, Qt::Key_Home, 1);
         }},
        {"scrolled back by the bar",
         [](PageViewer &v) {
             v.verticalScrollBar()->setValue(v.verticalScrollBar()->maximum());
             v.verticalScrollBar()->setValue(0);
         }},
        {"the same page shown again",
         [](PageViewer &v) {
             v.verticalScrollBar()->setValue(300);
             v.showPage(pageOf(40));
         }},
        {"a page without tasks, then one with",
         [](PageViewer &v) {
             v.showPage(pageOf(0));
             v.showPage(pageOf(40));
         }},
        {"another font",
         [](PageViewer &v) {
             QEvent change(QEvent::ApplicationFontChange);
             QApplication::sendEvent(&v, &change);
         }},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        viewer = std::make_unique<PageViewer>();
        viewer->resize(500, 400);
        viewer->showPage(pageOf(40));
        show();
        QApplication::setActiveWindow(viewer.get());
        viewer->setFocus();

        r.act(*viewer);

        const int current = viewer->currentBlock();
        EXPECT_GE(current, 1);
        EXPECT_TRUE(viewer->viewport()->rect().intersects(viewer->blockRect(current)));
        QAccessibleInterface *list = QAccessible::queryAccessibleInterface(viewer.get());
        ASSERT_NE(list, nullptr);
        QAccessibleInterface *focus = list->focusChild();
        EXPECT_NE(focus, nullptr) << "the focus on no task";
        if (focus) {
            EXPECT_EQ(list->indexOfChild(focus), current - 1);
        }
    }
}

// Screen readers see a list named by the heading, one item per task named by
// its name as plain text, and the focus on the current task. (The events a
// move sends need a platform bridge: the AT-SPI test hears them.)
TEST_F(PageViewerTest, ScreenReadersReadEachTaskAndFollowTheKeys)
{
    viewer->showPage(pageOf(3));
    show();
    QApplication::setActiveWindow(viewer.get());
    viewer->setFocus();

    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(viewer.get());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->role(), QAccessible::List);
    EXPECT_EQ(list->text(QAccessible::Name), "Attention!");
    ASSERT_EQ(list->childCount(), 3);
    for (int i = 0; i < 3; ++i) {
        QAccessibleInterface *item = list->child(i);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->role(), QAccessible::ListItem);
        EXPECT_EQ(item->text(QAccessible::Name), QStringLiteral("Task %1").arg(i));
        EXPECT_EQ(item->parent(), list);
        EXPECT_EQ(list->indexOfChild(item), i);
        EXPECT_EQ(list->childAt(item->rect().center().x(), item->rect().center().y()), item);
    }
    EXPECT_EQ(list->focusChild(), list->child(0));
    EXPECT_TRUE(list->child(0)->state().focused);
    EXPECT_FALSE(list->child(1)->state().focused);

    QTest::keyClick(viewer.get(), Qt::Key_Down);
    EXPECT_EQ(list->focusChild(), list->child(1));
    EXPECT_TRUE(list->child(1)->state().focused);
    EXPECT_FALSE(list->child(0)->state().focused);

    // A shorter page: the items beyond it are gone.
    QAccessibleInterface *third = list->child(2);
    viewer->showPage(pageOf(2));
    EXPECT_EQ(list->childCount(), 2);
    EXPECT_FALSE(third->isValid());
}

}  // namespace
