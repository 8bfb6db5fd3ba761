// The viewer side by side with the QTextBrowser it stands in for, set up as
// the program once set it up, on the same page file at the same size: what
// is drawn, where the keys scroll to, and what is copied.
//
// Deliberate differences, not checked here:
// - colours on a dark theme: the browser paints the page in the theme's
//   colours (light text on its dark base, under the page's own backgrounds);
//   the viewer keeps the page's own (dark text on white), so it reads alike
//   on every desktop;
// - the scroll bars: the browser's are there from its first paint; the
//   viewer's come once it has measured every task, a moment after its
//   first paint (their place kept empty meanwhile), so that their range is
//   exact from the first time they are seen;
// - a task whose markup draws outside its own table (a huge font in a tiny
//   line height) spills over the next task in the browser; the viewer clips
//   each task to its own band;
// - a word longer than the task editor takes (32767 letters) runs past the
//   edge in the viewer: Qt breaks it in time that grows with the square of
//   its length;
// - Ctrl+wheel zooms the browser; the viewer scrolls;
// - dragging a selection out of the browser starts a drag and drop; after a
//   double click the browser extends the selection word by word; the viewer
//   does neither;
// - the browser also offers the copied text as HTML; the viewer as text;
// - a selection that runs on past a task: the browser marks the end of the
//   line between two tasks with a sliver of highlight; the viewer cannot
//   select past the end of a task's own document, and leaves it out (the
//   copied text is the same).
#include "page/alertpage.h"
#include "page/pageviewer.h"
#include "store/tables.h"
#include "support/pagetasks.h"
#include "support/testsupport.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTextBrowser>
#include <QWheelEvent>
#include <QtMath>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

using namespace Module1;

namespace {

// Pages of one kind: `count` tasks whose texts are made from the kind's
// pieces, varied by the task's number.
struct PageKind {
    const char *name;
    std::function<QString(int)> title;
    std::function<QString(int)> description;
};

QString words(int i, int n)
{
    static const char *const pool[] = {"pay",    "the", "rent",   "call",   "Ann", "about",
                                       "dinner", "on",  "Friday", "report", "due", "soon"};
    QStringList out;
    for (int k = 0; k < n; ++k)
        out << QLatin1String(pool[(i * 7 + k * 3) % 12]);
    return out.join(u' ');
}

const PageKind kKinds[] = {
    {"Plain", [](int i) { return words(i, 3 + i % 4); },
     [](int i) { return words(i, 5 + (i * 13) % 60); }},
    {"InlineTags",
     [](int i) { return QStringLiteral("<b>%1</b> <i>%2</i>").arg(words(i, 2), words(i + 1, 2)); },
     [](int i) {
         return QStringLiteral(
                    "<u>%1</u> <font color=red>%2</font> <small>%3</small> "
                    "<a href=\"http://example.com/%4\">link</a>")
             .arg(words(i, 4), words(i + 2, 3), words(i + 3, 8))
             .arg(i);
     }},
    {"ListsAndTables", [](int i) { return words(i, 3); },
     [](int i) {
         return QStringLiteral(
                    "<ul><li>%1</li><li>%2</li></ul><ol><li>%3</ol>"
                    "<table border=1><tr><td>%4</td><td colspan=2>%5</td></tr></table>")
             .arg(words(i, 3), words(i + 1, 5), words(i + 2, 2), words(i + 3, 4), words(i + 4, 9));
     }},
    {"RightToLeft", [](int i) { return QStringLiteral("שלם את שכר הדירה %1").arg(i); },
     [](int i) {
         return QStringLiteral("اتصل بآن بشأن العشاء يوم الجمعة ").repeated(1 + i % 4) +
                words(i, 3);
     }},
    {"LongWords", [](int i) { return QString(120 + 40 * (i % 5), QChar(u'a' + i % 26)); },
     [](int i) { return words(i, 4) + u' ' + QString(300, u'x') + u' ' + words(i, 2); }},
    {"UnbalancedTags",
     [](int i) { return QStringLiteral("<b>%1 <i>%2").arg(words(i, 2), words(i + 1, 2)); },
     [](int i) {
         return QStringLiteral("<font color=red>%1<li>%2<li>%3<p>%4<p>%5</b>")
             .arg(words(i, 3), words(i + 1, 2), words(i + 2, 2), words(i + 3, 6), words(i + 4, 3));
     }},
    {"ManyTagsPerTask", [](int i) { return QStringLiteral("<b>%1</b>").arg(words(i, 3)); },
     [](int i) {
         QString d;
         for (int k = 0; k < 14; ++k)
             d += QStringLiteral("<%1>%2</%1> ")
                      .arg(QLatin1String(k % 3 == 0   ? "b"
                                         : k % 3 == 1 ? "i"
                                                      : "u"),
                           words(i + k, 2));
         return d;
     }},
};

// Every task is announced: due within the rule's 40 days or overdue.
AlertPage makePage(const PageKind &kind, int count = 14)
{
    for (int i = 0; i < count; ++i)
        testsupport::addPageTask(kind.title(i),
                                 i % 3 ? QStringLiteral("Person %1").arg(i) : QString(),
                                 1 + (i * 2) % 48, kind.description(i), 15);
    alertRules[alertRuleCount++] = AlertRule{40, QStringLiteral("d"), 0x00A5FF, true};
    return buildAlertPage(today());
}

// The browser as the program set it up.
void prepareBrowser(QTextBrowser &browser)
{
    browser.setOpenLinks(false);
    browser.setOpenExternalLinks(false);
    browser.setSearchPaths({});
    browser.setTabChangesFocus(true);
    browser.setFrameShape(QFrame::NoFrame);
}

// As drawn in the active window: a selection is drawn in the colours of the
// window's state.
QImage shown(QAbstractScrollArea &area)
{
    QApplication::setActiveWindow(&area);
    const QImage image = area.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (qEnvironmentVariableIsSet("QUILLET_SAVE_SHOTS"))
        image.save(QStringLiteral("/tmp/shot-%1.png").arg(area.metaObject()->className()));
    return image;
}

void drag(QWidget *view, QPoint from, QPoint to)
{
    QTest::mousePress(view, Qt::LeftButton, {}, from);
    QMouseEvent move(QEvent::MouseMove, to, view->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                     {});
    QApplication::sendEvent(view, &move);
    QTest::mouseRelease(view, Qt::LeftButton, {}, to);
}

QString copied(QWidget *widget)
{
    QApplication::clipboard()->clear();
    QTest::keySequence(widget, QKeySequence::Copy);
    return QApplication::clipboard()->text();
}

struct Key {
    const char *name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
};

const Key kKeys[] = {
    {"Down", Qt::Key_Down, {}},
    {"Down", Qt::Key_Down, {}},
    {"Down", Qt::Key_Down, {}},
    {"PageDown", Qt::Key_PageDown, {}},
    {"Space", Qt::Key_Space, {}},
    {"Shift+Space", Qt::Key_Space, Qt::ShiftModifier},
    {"Up", Qt::Key_Up, {}},
    {"Right", Qt::Key_Right, {}},
    {"Left", Qt::Key_Left, {}},
    {"Ctrl+End", Qt::Key_End, Qt::ControlModifier},
    {"PageDown", Qt::Key_PageDown, {}},
    {"End", Qt::Key_End, {}},
    {"Up", Qt::Key_Up, {}},
    {"PageUp", Qt::Key_PageUp, {}},
    {"Ctrl+Home", Qt::Key_Home, Qt::ControlModifier},
    {"Home", Qt::Key_Home, {}},
    {"Space", Qt::Key_Space, {}},
};

struct Case {
    const PageKind *kind;
    QSize size;
    int tasks = 14;
};

class ViewerBesideBrowser : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        const Case c = GetParam();
        page = makePage(*c.kind, c.tasks);
        prepareBrowser(browser);
        browser.resize(c.size);
        browser.setHtml(page.html);
        browser.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&browser));
        // The whole document laid out, and its scroll bars settled.
        browser.document()->documentLayout()->documentSize();
        ASSERT_TRUE(QTest::qWaitFor([&] {
            return browser.verticalScrollBar()->maximum() ==
                   qMax(0,
                        qCeil(browser.document()->size().height()) - browser.viewport()->height());
        }));
        // The viewer is drawn by grabbing it, and met by the keys before
        // any event loop could measure the page behind the first paint: the
        // first key does.
        viewer.resize(c.size);
        viewer.showPage(page.view);
        viewer.show();
    }

    AlertPage page;
    QTextBrowser browser;
    PageViewer viewer;
};

TEST_P(ViewerBesideBrowser, DrawsTheSameAndScrollsAlikeKeyByKey)
{
    ASSERT_EQ(viewer.viewport()->size(), browser.viewport()->size());
    EXPECT_TRUE(shown(viewer) == shown(browser)) << "at the top";
    for (const Key &k : kKeys) {
        QTest::keyClick(&browser, k.key, k.modifiers);
        QTest::keyClick(&viewer, k.key, k.modifiers);
        EXPECT_EQ(viewer.verticalScrollBar()->value(), browser.verticalScrollBar()->value())
            << "after " << k.name;
        if (viewer.verticalScrollBar()->isVisible()) {
            EXPECT_EQ(viewer.verticalScrollBar()->maximum(), browser.verticalScrollBar()->maximum())
                << "after " << k.name;
        }
        EXPECT_EQ(viewer.horizontalScrollBar()->value(), browser.horizontalScrollBar()->value())
            << "after " << k.name;
        EXPECT_TRUE(shown(viewer) == shown(browser)) << "after " << k.name;
    }
    for (int delta : {-120, -240, 120}) {
        for (QAbstractScrollArea *area : {static_cast<QAbstractScrollArea *>(&browser),
                                          static_cast<QAbstractScrollArea *>(&viewer)}) {
            const QPointF at(50, 50);
            QWheelEvent wheel(at, area->viewport()->mapToGlobal(at), {}, QPoint(0, delta),
                              Qt::NoButton, {}, Qt::NoScrollPhase, false);
            QApplication::sendEvent(area->viewport(), &wheel);
        }
        EXPECT_EQ(viewer.verticalScrollBar()->value(), browser.verticalScrollBar()->value())
            << "after a wheel turn of " << delta;
        EXPECT_TRUE(shown(viewer) == shown(browser)) << "after a wheel turn of " << delta;
    }
}

TEST_P(ViewerBesideBrowser, PointsAtLinksAlike)
{
    QTextCursor at = browser.document()->find(QStringLiteral("link"));
    if (at.isNull())
        return;  // a page without links
    at.setPosition(at.selectionStart() + 2);
    for (const QPoint pos : {browser.cursorRect(at).center(), QPoint(5, 5)}) {
        for (QAbstractScrollArea *area : {static_cast<QAbstractScrollArea *>(&browser),
                                          static_cast<QAbstractScrollArea *>(&viewer)}) {
            QMouseEvent move(QEvent::MouseMove, pos, area->viewport()->mapToGlobal(pos),
                             Qt::NoButton, Qt::NoButton, {});
            QApplication::sendEvent(area->viewport(), &move);
        }
        EXPECT_EQ(viewer.viewport()->cursor().shape(), browser.viewport()->cursor().shape())
            << pos.x() << "," << pos.y();
        EXPECT_EQ(viewer.viewport()->cursor().shape(),
                  pos == QPoint(5, 5) ? Qt::ArrowCursor : Qt::PointingHandCursor);
    }
}

TEST_P(ViewerBesideBrowser, CopiesTheSameText)
{
    QTest::keySequence(&browser, QKeySequence::SelectAll);
    QTest::keySequence(&viewer, QKeySequence::SelectAll);
    EXPECT_EQ(copied(&viewer).toStdString(), copied(&browser).toStdString()) << "Ctrl+A";

    // From the first task's title into the third task's; a click first
    // leaves nothing selected, so that the drag selects.
    const QSize size = viewer.viewport()->size();
    const QPoint from(size.width() / 5, size.height() / 6);
    const QPoint to(size.width() / 2, size.height() - 30);
    for (QAbstractScrollArea *area : {static_cast<QAbstractScrollArea *>(&browser),
                                      static_cast<QAbstractScrollArea *>(&viewer)}) {
        QTest::mouseClick(area->viewport(), Qt::LeftButton, {}, to);
        drag(area->viewport(), from, to);
    }
    EXPECT_EQ(copied(&viewer).toStdString(), copied(&browser).toStdString()) << "a drag";

    // A word, then its paragraph: the second task's due date.
    QTextCursor at = browser.document()->find(QStringLiteral("December 03/26"));
    ASSERT_FALSE(at.isNull());
    at.setPosition(at.selectionStart() + 3);
    const QPoint word = browser.cursorRect(at).center();
    QTest::mouseDClick(browser.viewport(), Qt::LeftButton, {}, word);
    QTest::mouseDClick(viewer.viewport(), Qt::LeftButton, {}, word);
    EXPECT_EQ(copied(&viewer).toStdString(), copied(&browser).toStdString()) << "a double click";
    EXPECT_TRUE(shown(viewer) == shown(browser)) << "a double click";
    QTest::mouseClick(browser.viewport(), Qt::LeftButton, {}, word);
    QTest::mouseClick(viewer.viewport(), Qt::LeftButton, {}, word);
    EXPECT_EQ(copied(&viewer).toStdString(), copied(&browser).toStdString()) << "a triple click";
    EXPECT_TRUE(shown(viewer) == shown(browser)) << "a triple click";
}

// What a user sees of a scroll bar, and what decides it.
struct BarLook {
    bool shown = false;
    int minimum = 0, maximum = 0, pageStep = 0;
    QRect thumb;
    bool operator==(const BarLook &) const = default;
};

std::ostream &operator<<(std::ostream &out, const BarLook &b)
{
    return out << (b.shown ? "shown" : "hidden") << " range " << b.minimum << ".." << b.maximum
               << " page " << b.pageStep << " thumb " << b.thumb.y() << "+" << b.thumb.height();
}

BarLook lookOf(const QScrollBar &bar)
{
    QStyleOptionSlider option;
    option.initFrom(&bar);
    option.subControls = QStyle::SC_All;
    option.orientation = bar.orientation();
    option.minimum = bar.minimum();
    option.maximum = bar.maximum();
    option.sliderPosition = option.sliderValue = 0;
    option.singleStep = bar.singleStep();
    option.pageStep = bar.pageStep();
    const QRect thumb = bar.style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                    QStyle::SC_ScrollBarSlider, &bar);
    return {bar.isVisible(), bar.minimum(), bar.maximum(), bar.pageStep(), thumb};
}

// A thousand tasks, page by page from the top to the end: whenever the
// viewer's scroll bar is seen, it is the one it has at the end, and every
// page lands where the browser's does.
using LongPageBesideBrowser = ViewerBesideBrowser;

TEST_P(LongPageBesideBrowser, TheThumbNeverChangesFromTopToEnd)
{
    QScrollBar *bar = viewer.verticalScrollBar();
    std::vector<std::pair<std::string, BarLook>> seen{{"at the top", lookOf(*bar)}};
    // A few pages down, then straight to the end, before most between was
    // seen.
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(&browser, Qt::Key_PageDown);
        QTest::keyClick(&viewer, Qt::Key_PageDown);
        seen.emplace_back("after the first PageDowns", lookOf(*bar));
        EXPECT_EQ(bar->value(), browser.verticalScrollBar()->value()) << seen.back().first;
    }
    QTest::keyClick(&browser, Qt::Key_End);
    QElapsedTimer clock;
    clock.start();
    QTest::keyClick(&viewer, Qt::Key_End);
    std::printf(
        "[ figures  ] %d tasks: the first End, which measures the rest, %lld ms "
        "(a loaded machine, not a limit)\n",
        GetParam().tasks, static_cast<long long>(clock.elapsed()));
    seen.emplace_back("after the first End", lookOf(*bar));
    EXPECT_EQ(bar->value(), browser.verticalScrollBar()->value()) << seen.back().first;
    EXPECT_TRUE(shown(viewer) == shown(browser)) << seen.back().first;
    QTest::keyClick(&browser, Qt::Key_Home);
    QTest::keyClick(&viewer, Qt::Key_Home);
    int presses = 0;
    while (browser.verticalScrollBar()->value() < browser.verticalScrollBar()->maximum() &&
           presses < 2000) {
        QTest::keyClick(&browser, Qt::Key_PageDown);
        QTest::keyClick(&viewer, Qt::Key_PageDown);
        ++presses;
        seen.emplace_back("after PageDown " + std::to_string(presses), lookOf(*bar));
        ASSERT_EQ(bar->value(), browser.verticalScrollBar()->value()) << seen.back().first;
    }
    QTest::keyClick(&browser, Qt::Key_Home);
    QTest::keyClick(&viewer, Qt::Key_Home);
    seen.emplace_back("after Home", lookOf(*bar));
    QTest::keyClick(&browser, Qt::Key_End);
    QTest::keyClick(&viewer, Qt::Key_End);
    EXPECT_EQ(bar->value(), browser.verticalScrollBar()->value()) << "after End";
    EXPECT_EQ(bar->maximum(), browser.verticalScrollBar()->maximum());
    EXPECT_TRUE(shown(viewer) == shown(browser)) << "after End";
    const BarLook end = lookOf(*bar);
    ASSERT_TRUE(end.shown);
    for (const auto &[when, look] : seen) {
        if (look.shown) {
            EXPECT_EQ(look, end) << when;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Pages, LongPageBesideBrowser,
                         ::testing::Values(Case{&kKinds[0], QSize(640, 480), 1001},
                                           Case{&kKinds[2], QSize(420, 700), 1001}),
                         [](const ::testing::TestParamInfo<Case> &info) {
                             return std::string(info.param.kind->name) + "_" +
                                    std::to_string(info.param.size.width()) + "x" +
                                    std::to_string(info.param.size.height());
                         });

std::vector<Case> cases()
{
    std::vector<Case> out;
    for (const PageKind &kind : kKinds)
        for (QSize size : {QSize(640, 480), QSize(420, 700)})
            out.push_back({&kind, size});
    return out;
}

INSTANTIATE_TEST_SUITE_P(Pages, ViewerBesideBrowser, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case> &info) {
                             return std::string(info.param.kind->name) + "_" +
                                    std::to_string(info.param.size.width()) + "x" +
                                    std::to_string(info.param.size.height());
                         });

}  // namespace
