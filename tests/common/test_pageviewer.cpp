#include "common/pageviewer.h"
#include "support/testsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

// Every URL names something that exists, so a viewer that loads would get it.
class PageViewerLoads : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        testsupport::writeFile(m_dir.filePath("note.css"), "td { color: red }");
        m_oldDir = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
    }
    void TearDown() override { QDir::setCurrent(m_oldDir); }

private:
    QTemporaryDir m_dir;
    QString m_oldDir;
};

TEST_P(PageViewerLoads, NothingForAnyUrl)
{
    PageViewer viewer;
    const QUrl url(QString::fromUtf8(GetParam()));
    for (int type : {QTextDocument::HtmlResource, QTextDocument::ImageResource,
                     QTextDocument::StyleSheetResource}) {
        EXPECT_FALSE(viewer.loadResource(type, url).isValid()) << type;
        // What the page's layout asks for.
        EXPECT_FALSE(viewer.document()->resource(type, url).isValid()) << type;
    }
}

INSTANTIATE_TEST_SUITE_P(
    PageViewer, PageViewerLoads,
    ::testing::Values("file:///etc/passwd", "/etc/passwd", "note.css", "./note.css",
                      "qrc:/qt-project.org/styles/commonstyle/images/file-16.png",
                      ":/qt-project.org/styles/commonstyle/images/file-16.png",
                      "data:text/plain,hello", "http://localhost/note.css"));

TEST(PageViewer, ShowsTheOpeningThenTheWholePageOnceItIsPainted)
{
    PageViewer viewer;
    viewer.resize(400, 300);
    viewer.showPage(QStringLiteral("<p>first</p>"),
                    QStringLiteral("<p>first</p><p>all the rest</p>"));
    EXPECT_EQ(viewer.toPlainText(), "first");
    viewer.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&viewer));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return viewer.toPlainText().contains("all the rest"); }, 2000));
}

}  // namespace
