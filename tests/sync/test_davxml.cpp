#include "sync/davclient.h"

#include <gtest/gtest.h>

using namespace qsync;

namespace {

const QUrl kBase(QStringLiteral("http://127.0.0.1:5232/sam/tasks/"));

}  // namespace

// Servers spell the same answer differently: prefixes, absolute hrefs,
// escapes, a property that is not found beside those that are.
TEST(SyncMultiStatus, ReadsWhatServersSend)
{
    const QByteArray body =
        "<?xml version=\"1.0\"?>"
        "<multistatus xmlns=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:caldav\">"
        "<response><href>/sam/tasks/a%20b.ics</href>"
        "<propstat><prop><getetag>\"e1\"</getetag></prop><status>HTTP/1.1 200 "
        "OK</status></propstat>"
        "<propstat><prop><displayname/></prop><status>HTTP/1.1 404 Not Found</status></propstat>"
        "</response>"
        "<response><href>http://127.0.0.1:5232/sam/tasks/gone.ics</href>"
        "<status>HTTP/1.1 404 Not Found</status></response>"
        "<response><href>/sam/tasks/</href><propstat><prop>"
        "<resourcetype><collection/><C:calendar/></resourcetype><displayname>Tasks</displayname>"
        "<C:supported-calendar-component-set><C:comp "
        "name=\"VEVENT\"/></C:supported-calendar-component-set>"
        "<current-user-principal><href>/sam/</href></current-user-principal>"
        "<C:calendar-home-set><href>/sam/</href></C:calendar-home-set>"
        "</prop><status>HTTP/1.1 200 OK</status></propstat></response>"
        "<sync-token>http://x/sync/7</sync-token>"
        "</multistatus>";
    const MultiStatus ms = parseMultiStatus(body, kBase);
    ASSERT_TRUE(ms.valid);
    ASSERT_EQ(ms.entries.size(), 3u);
    EXPECT_EQ(ms.entries[0].href, QStringLiteral("/sam/tasks/a b.ics"));
    EXPECT_EQ(ms.entries[0].etag, QByteArray("\"e1\""));
    EXPECT_EQ(ms.entries[0].status, 200);
    EXPECT_EQ(ms.entries[1].href, QStringLiteral("/sam/tasks/gone.ics"));
    EXPECT_EQ(ms.entries[1].status, 404);
    const DavEntry &c = ms.entries[2];
    EXPECT_TRUE(c.collection && c.calendar);
    EXPECT_FALSE(c.todos);  // events only
    EXPECT_EQ(c.displayName, QStringLiteral("Tasks"));
    EXPECT_EQ(c.principal, QStringLiteral("/sam/"));
    EXPECT_EQ(c.home, QStringLiteral("/sam/"));
    EXPECT_EQ(ms.syncToken, QStringLiteral("http://x/sync/7"));
    EXPECT_FALSE(parseMultiStatus("<html>Not found</html>", kBase).valid);
}

TEST(SyncUrls, PlainHttpOnlyOnLoopback)
{
    const struct {
        const char *url;
        bool allowed;
    } rows[] = {
        {"https://dav.example.org/", true},
        {"http://127.0.0.1:5232/", true},
        {"http://127.8.9.1/", true},
        {"http://[::1]:5232/", true},
        {"http://localhost/", true},
        {"http://dav.example.org/", false},
        {"http://192.168.1.2/", false},
        {"ftp://127.0.0.1/", false},
        {"not a url", false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.url);
        EXPECT_EQ(refusedUrl(QUrl(QString::fromLatin1(row.url))).isEmpty(), row.allowed);
    }
}
