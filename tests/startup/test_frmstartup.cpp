#include "page/pageviewer.h"
#include "startup/frmstartup.h"
#include "store/tables.h"
#include "support/pageviewerprobe.h"
#include "support/testsupport.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Module1;

namespace {

// A sanitizer build runs several times slower.
#ifdef QUILLET_SANITIZED
constexpr int kSlowdown = 5;
#else
constexpr int kSlowdown = 1;
#endif

void announceOneTask()
{
    Task &t = tasks[taskCount++];
    t.title = QStringLiteral("Pay rent");
    t.year = 2026;
    t.month = 12;
    t.day = 8;
    t.deleted = QStringLiteral("N");
    alertRules[alertRuleCount++] = AlertRule{3, QStringLiteral("d"), 255, true};
}

TEST(frmStartup, TwoThirdsOfTheScreenAndCentred)
{
    frmStartup w;
    w.placeOnScreen();
    const QRect s = w.screen()->geometry();
    EXPECT_NEAR(w.width(), s.width() / 1.5, 1);
    EXPECT_NEAR(w.height(), s.height() / 1.5, 1);
    EXPECT_NEAR(w.geometry().center().x(), s.center().x(), 1);
    EXPECT_NEAR(w.geometry().center().y(), s.center().y(), 1);
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(w.WebBrowser1->geometry(), w.rect());
}

TEST(frmStartup, ButtonsAboveTheBrowserAndReachable)
{
    frmStartup w;
    w.placeOnScreen();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_EQ(w.cmdExit->text(), "&Exit");
    EXPECT_EQ(w.cmdShowAll->text(), "&Show all...");
    for (QPushButton *b : {w.cmdExit, w.cmdShowAll}) {
        EXPECT_EQ(w.childAt(b->geometry().center()), b);
        EXPECT_EQ(b->y(), 0);
        EXPECT_GE(b->width(), b->fontMetrics().horizontalAdvance(b->text().remove('&')));
    }
    EXPECT_LT(w.cmdExit->geometry().right(), w.cmdShowAll->x());
    // Tab order: browser, Exit, Show all.
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.WebBrowser1->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w.cmdExit);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w.cmdShowAll);
}

// Alt+S itself is driven through a real X server in the system tests.
TEST(frmStartup, ShowAllHidesAndShowsTheMainWindow)
{
    announceOneTask();
    frmStartup w;
    int shown = 0;
    w.setShowAll([&] { ++shown; });
    ASSERT_TRUE(w.makepage());
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_EQ(QKeySequence::mnemonic(w.cmdShowAll->text()), QKeySequence(Qt::ALT | Qt::Key_S));
    EXPECT_EQ(QKeySequence::mnemonic(w.cmdExit->text()), QKeySequence(Qt::ALT | Qt::Key_E));
    QTest::mouseClick(w.cmdShowAll, Qt::LeftButton);
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(w.isVisible());
}

TEST(frmStartup, ShowsItsOwnPageWhateverTheFileHoldsNow)
{
    announceOneTask();
    frmStartup w;
    ASSERT_TRUE(w.makepage());
    // Another start writes its page to the same file meanwhile.
    testsupport::writeFile(alertPagePath(), "<h2>Another start</h2>");
    PageViewer other;
    w.loadPageInto(&other);
    EXPECT_TRUE(PageViewerProbe(other).toPlainText().contains("Pay rent"));
    EXPECT_TRUE(PageViewerProbe(other).toPlainText().contains("Today!"));
    EXPECT_FALSE(PageViewerProbe(other).toPlainText().contains("Another start"));
}

TEST(frmStartup, UnwrittenPageIsShownFromMemory)
{
    PublishedPage page;
    page.page.html = page.page.view.markup = QByteArrayLiteral("<h2>Only in memory</h2>");
    page.page.view.blocks.push_back({0, page.page.html.size(), QStringLiteral("Only in memory")});
    page.page.announced = true;
    page.file = {FileStatus::WriteFailed, QStringLiteral("no folder")};
    frmStartup w;
    w.adoptPage(page);
    w.loadPageInto(w.WebBrowser1);
    EXPECT_EQ(PageViewerProbe(*w.WebBrowser1).toPlainText(), "Only in memory");
}

TEST(frmStartup, MakepageWithNothingAnnouncedIsFalse)
{
    frmStartup w;
    EXPECT_FALSE(w.makepage());
    PageViewer b;
    w.loadPageInto(&b);
    EXPECT_EQ(PageViewerProbe(b).toPlainText().trimmed(), "Attention!");
}

// A viewer that opens the file named in <img src> blocks on a pipe until a
// writer comes. After the deadline this opens the writing end now and then,
// so such a viewer fails the test instead of hanging it.
class PipeUnblocker {
public:
    explicit PipeUnblocker(const QString &path)
        : m_thread([this, name = QFile::encodeName(path)] {
              const auto start = std::chrono::steady_clock::now();
              while (!m_done) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(50));
                  if (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1500))
                      continue;
                  const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK);
                  if (fd >= 0)
                      ::close(fd);
              }
          })
    { }
    ~PipeUnblocker()
    {
        m_done = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

enum class ImageSource { Pipe, EndlessDevice };

class ImageInTitle : public ::testing::TestWithParam<ImageSource> { };

TEST_P(ImageInTitle, WindowIsUpWithinASecond)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString source = QStringLiteral("/dev/zero");
    if (GetParam() == ImageSource::Pipe) {
        source = dir.filePath(QStringLiteral("pipe"));
        ASSERT_EQ(::mkfifo(QFile::encodeName(source).constData(), 0600), 0);
    }
    const PipeUnblocker unblocker(source);
    announceOneTask();
    tasks[0].title = QStringLiteral("<img src=\"%1\">Pay rent").arg(source);

    QElapsedTimer clock;
    clock.start();
    frmStartup w;
    ASSERT_TRUE(w.makepage());
    w.placeOnScreen();
    w.loadPageInto(w.WebBrowser1);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_LT(clock.elapsed(), 10000 * kSlowdown) << "a hang, not a slow machine";
    EXPECT_TRUE(PageViewerProbe(*w.WebBrowser1).toPlainText().contains("Pay rent"));
}

INSTANTIATE_TEST_SUITE_P(frmStartup, ImageInTitle,
                         ::testing::Values(ImageSource::Pipe, ImageSource::EndlessDevice));

// Qt lays nested tables out in time that doubles with each level, and runs
// out of stack a few thousand levels down.
class NestedTablesInDescription : public ::testing::TestWithParam<int> { };

TEST_P(NestedTablesInDescription, ViewerLaysThePageOutAtOnce)
{
    const int levels = GetParam();
    announceOneTask();
    tasks[0].description = QStringLiteral("<table><tr><td>").repeated(levels) + "x" +
                           QStringLiteral("</td></tr></table>").repeated(levels);
    frmStartup w;
    ASSERT_TRUE(w.makepage());
    w.placeOnScreen();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    QElapsedTimer clock;
    clock.start();
    w.loadPageInto(w.WebBrowser1);
    // All of it now, as the browser would while the user scrolls.
    for (int k = 0; k < w.WebBrowser1->blockCount(); ++k)
        PageViewerProbe(*w.WebBrowser1).blockDocument(k)->documentLayout()->documentSize();
    EXPECT_LT(clock.elapsed(), 5000 * kSlowdown) << "a hang, not a slow machine";
    EXPECT_TRUE(PageViewerProbe(*w.WebBrowser1).toPlainText().contains("Pay rent"));
}

INSTANTIATE_TEST_SUITE_P(frmStartup, NestedTablesInDescription, ::testing::Values(100, 3000));

}  // namespace
