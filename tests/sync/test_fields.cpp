#include "sync/fields.h"

#include "store/ordering.h"

#include <gtest/gtest.h>

#include <QDateTime>

using namespace Module1;
using namespace qsync;

namespace {

Task taskDue(int year, int month, int day, int hour, int minute)
{
    Task t;
    t.title = QStringLiteral("Pay the rent");
    t.description = QStringLiteral("line one\r\nline two");
    t.year = qint16(year);
    t.month = qint16(month);
    t.day = qint16(day);
    t.hour = qint16(hour);
    t.minute = qint16(minute);
    t.deleted = QStringLiteral("N");
    return t;
}

}  // namespace

// A sync writes back only what it changed: a due it did not move keeps the
// numbers the file had (month 13, hour 33), a moved one is the new moment,
// and texts go back to the file's line ends.
TEST(SyncFields, AppliedFieldsKeepWhatDidNotChange)
{
    const struct {
        const char *name;
        Task stored;
    } rows[] = {
        {"plain", taskDue(2027, 1, 5, 9, 30)},
        {"month 13 carries over", taskDue(2026, 13, 5, 9, 30)},
        {"hour 33 wraps within its day", taskDue(2027, 1, 5, 33, 30)},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const Fields f = fieldsOf(row.stored);
        EXPECT_EQ(f.description, QStringLiteral("line one\nline two"));
        EXPECT_EQ(f.due, QDateTime(QDate(2027, 1, 5), QTime(9, 30), Qt::UTC).toSecsSinceEpoch());

        Task same = row.stored;
        applyFields(same, f);
        EXPECT_EQ(same.month, row.stored.month);
        EXPECT_EQ(same.hour, row.stored.hour);
        EXPECT_EQ(same.description, row.stored.description);

        Fields moved = f;
        moved.due += 24 * 3600;
        moved.recycled = true;
        Task changed = row.stored;
        applyFields(changed, moved);
        EXPECT_EQ(fieldsOf(changed), moved);
        EXPECT_EQ(changed.day, 6);
        EXPECT_TRUE(isDeleted(changed));
        EXPECT_EQ(changed.sortKey, makeSortKey(changed));
    }
}
