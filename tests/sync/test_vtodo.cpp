#include "sync/vtodo.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <functional>

using namespace qsync;

namespace {

// What a phone writes: properties Quillet has no field for, a zoned due,
// an alarm of its own, folded lines.
const QByteArray kPhone =
    "BEGIN:VCALENDAR\r\n"
    "VERSION:2.0\r\n"
    "PRODID:-//Phone//EN\r\n"
    "BEGIN:VTIMEZONE\r\n"
    "TZID:Asia/Tokyo\r\n"
    "BEGIN:STANDARD\r\n"
    "DTSTART:19700101T000000\r\n"
    "TZOFFSETFROM:+0900\r\n"
    "TZOFFSETTO:+0900\r\n"
    "END:STANDARD\r\n"
    "END:VTIMEZONE\r\n"
    "BEGIN:VTODO\r\n"
    "UID:phone-1\r\n"
    "DTSTAMP:20261201T000000Z\r\n"
    "SUMMARY:Buy milk\r\n"
    "DUE;TZID=Asia/Tokyo:20261224T093000\r\n"
    "PRIORITY:1\r\n"
    "CATEGORIES:Home,Errands\r\n"
    "RRULE:FREQ=WEEKLY\r\n"
    "X-PHONE-COLOR:#ff0000\r\n"
    "DESCRIPTION:a long description that the phone folded at seventy-five oc\r\n"
    " tets\r\n"
    "SEQUENCE:4\r\n"
    "STATUS:COMPLETED\r\n"
    "COMPLETED:20261202T000000Z\r\n"
    "BEGIN:VALARM\r\n"
    "ACTION:DISPLAY\r\n"
    "DESCRIPTION:phone alarm\r\n"
    "TRIGGER:-PT15M\r\n"
    "END:VALARM\r\n"
    "END:VTODO\r\n"
    "END:VCALENDAR\r\n";

const QDateTime kStamp(QDate(2026, 12, 9), QTime(14, 2), Qt::UTC);

QByteArrayList linesOf(const QByteArray &text) { return text.split('\n'); }

struct PatchRow {
    const char *name;
    std::function<void(Fields &)> edit;
    QByteArrayList gone;   // lines of the phone's copy no longer there
    QByteArrayList added;  // lines that must be there
};

}  // namespace

TEST(SyncPatch, OnlyChangedPropertiesChange)
{
    const std::optional<RemoteTodo> read = readTodo(kPhone);
    ASSERT_TRUE(read);
    const Fields was = read->fields;
    EXPECT_TRUE(was.recycled);  // completed on the phone
    const PatchRow rows[] = {
        {"title",
         [](Fields &f) { f.title = QStringLiteral("Buy oat milk"); },
         {"SUMMARY:Buy milk\r"},
         {"SUMMARY:Buy oat milk\r"}},
        {"due",
         [](Fields &f) { f.due += 3600; },
         {"DUE;TZID=Asia/Tokyo:20261224T093000\r"},
         {"DUE:20261224T013000Z\r"}},
        {"restored",
         [](Fields &f) { f.recycled = false; },
         {"STATUS:COMPLETED\r", "COMPLETED:20261202T000000Z\r"},
         {"STATUS:NEEDS-ACTION\r"}},
        {"for, added",
         [](Fields &f) { f.forWhom = QStringLiteral("Kim; Lee"); },
         {},
         {"CONTACT:Kim\\; Lee\r"}},
    };
    for (const PatchRow &row : rows) {
        SCOPED_TRACE(row.name);
        Fields now = was;
        row.edit(now);
        const QByteArray patched = patchResource(kPhone, was, now, kStamp);
        const QByteArrayList before = linesOf(kPhone), after = linesOf(patched);
        for (const QByteArray &line : before) {
            const bool stamped = line.startsWith("DTSTAMP") || line.startsWith("SEQUENCE");
            if (stamped || row.gone.contains(line))
                EXPECT_FALSE(after.contains(line)) << line.constData();
            else
                EXPECT_TRUE(after.contains(line)) << line.constData();
        }
        for (const QByteArray &line : row.added)
            EXPECT_TRUE(after.contains(line)) << line.constData();
        EXPECT_TRUE(after.contains("SEQUENCE:5\r"));
        EXPECT_TRUE(after.contains("LAST-MODIFIED:20261209T140200Z\r"));
        EXPECT_EQ(patched.count("BEGIN:VALARM"), 1);
        const std::optional<RemoteTodo> back = readTodo(patched);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->uid, QStringLiteral("phone-1"));
        EXPECT_EQ(back->fields, now);
    }
}

// Texts that need escaping, folding or keep blanks come back as they went.
TEST(SyncPatch, NewResourceReadsBackTheSameFields)
{
    const QString texts[] = {
        QStringLiteral("plain"),
        QStringLiteral("  blanks at both ends  "),
        QStringLiteral("semi; comma, back\\slash"),
        QStringLiteral("two\nlines"),
        QString(200, QChar(0x00E9)),  // folded inside two-byte characters
    };
    for (const QString &text : texts) {
        SCOPED_TRACE(text.toStdString());
        Fields f;
        f.title = text;
        f.forWhom = text;
        f.description = text;
        f.due = 1'800'000'000;
        const QByteArray resource = newResource(QStringLiteral("u-1"), f, kStamp);
        for (const QByteArray &line : resource.split('\n'))
            EXPECT_LE(line.size(), 76);
        const std::optional<RemoteTodo> back = readTodo(resource);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->fields, f);
    }
}
