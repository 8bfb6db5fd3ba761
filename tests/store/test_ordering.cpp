#include "printers.h"
#include "store/dates.h"
#include "store/ordering.h"
#include "store/tables.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace Module1;

namespace {

Task dueTask(const char *title, int y, int mo, int d, int h, int mi, int s)
{
    Task t;
    t.title = QString::fromUtf8(title);
    t.year = qint16(y);
    t.month = qint16(mo);
    t.day = qint16(d);
    t.hour = qint16(h);
    t.minute = qint16(mi);
    t.second = qint16(s);
    t.sortKey = makeSortKey(t);
    return t;
}

void fill(const std::vector<Task> &list)
{
    for (size_t i = 0; i < list.size(); ++i)
        tasks[i] = list[i];
    taskCount = qint16(list.size());
}

QStringList titles()
{
    QStringList out;
    for (int i = 0; i < taskCount; ++i)
        out << tasks[i].title;
    return out;
}

QStringList forWhoms()
{
    QStringList out;
    for (int i = 0; i < taskCount; ++i)
        out << tasks[i].forWhom;
    return out;
}

Task titled(const char *title, const char *forWhom = "")
{
    Task t;
    t.title = QString::fromUtf8(title);
    t.forWhom = QString::fromUtf8(forWhom);
    return t;
}

struct SortCase {
    const char *name;
    qint16 mode;
    std::vector<Task> input;
    QStringList expectedFor;  // identifies records by forWhom
};

TEST(SortTasks, Table)
{
    const SortCase cases[] = {
        {"ties are not stable",
         0,
         {titled("B", "1"), titled("B", "2"), titled("A", "3")},
         {"3", "2", "1"}},
        {"code 0 ignores case",
         0,
         {titled("apple", "a"), titled("Banana", "B"), titled("Apple", "A")},
         {"a", "A", "B"}},
        {"code 10 keeps case",
         10,
         {titled("Apple", "A"), titled("Banana", "B"), titled("apple", "a")},
         {"a", "B", "A"}},
        {"code 10 reverses",
         10,
         {titled("a", "1"), titled("c", "3"), titled("b", "2")},
         {"3", "2", "1"}},
        {"code 1 by forWhom",
         1,
         {titled("1", "bob"), titled("2", "Alice"), titled("3", "carl")},
         {"Alice", "bob", "carl"}},
        {"code 11 by forWhom as is",
         11,
         {titled("1", "bob"), titled("2", "Alice"), titled("3", "carl")},
         {"carl", "bob", "Alice"}},
        {"code 5 keeps order",
         5,
         {titled("c", "1"), titled("a", "2"), titled("b", "3")},
         {"1", "2", "3"}},
        {"code -1 keeps order", -1, {titled("c", "1"), titled("a", "2")}, {"1", "2"}},
        {"code 3 keeps order", 3, {titled("c", "1"), titled("a", "2")}, {"1", "2"}},
        {"one task", 0, {titled("z", "1")}, {"1"}},
        {"empty", 0, {}, {}},
    };
    for (const auto &c : cases) {
        fill(c.input);
        sortMode = c.mode;
        sortTasks();
        EXPECT_EQ(forWhoms(), c.expectedFor) << c.name;
    }
}

TEST(SortTasks, ByDueMoment)
{
    const std::vector<Task> input = {
        dueTask("ten", 2026, 3, 7, 10, 0, 0), dueTask("nine", 2026, 3, 7, 9, 5, 0),
        dueTask("later", 2027, 1, 1, 0, 0, 0), dueTask("early", 2025, 12, 31, 23, 59, 59)};
    fill(input);
    sortMode = 2;
    sortTasks();
    EXPECT_EQ(titles(), (QStringList{"early", "nine", "ten", "later"}));
    sortMode = 12;
    sortTasks();
    EXPECT_EQ(titles(), (QStringList{"later", "ten", "nine", "early"}));
}

TEST(SortTasks, DeletedTasksTakePartAndWholeRecordsMove)
{
    Task b = dueTask("b", 2026, 1, 2, 3, 4, 5);
    b.forWhom = QStringLiteral("for b");
    b.description = QStringLiteral("desc b");
    b.dueText = QStringLiteral("due b");
    b.deleted = QStringLiteral("Y");
    Task a = dueTask("a", 2025, 6, 7, 8, 9, 10);
    a.deleted = QStringLiteral("N");
    fill({b, a});
    tasks[2] = titled("stale slot");
    sortMode = 0;
    sortTasks();
    EXPECT_EQ(tasks[0], a);
    EXPECT_EQ(tasks[1], b);
    EXPECT_EQ(tasks[2].title, QStringLiteral("stale slot"));
}

TEST(SortTasks, Code10IsNotTheReverseOfCode0)
{
    fill({titled("b"), titled("B"), titled("a"), titled("A")});
    sortMode = 0;
    sortTasks();
    const QStringList ascending = titles();
    sortMode = 10;
    sortTasks();
    QStringList reversed = ascending;
    std::reverse(reversed.begin(), reversed.end());
    EXPECT_NE(titles(), reversed);
    EXPECT_EQ(titles(), (QStringList{"b", "a", "B", "A"}));
}

// The exchange sort, written out, to check ties land exactly where it puts them.
void referenceSort(std::vector<Task> &v, qint16 mode)
{
    auto key = [mode](const Task &t) {
        switch (mode) {
        case 0: return t.title.toLower();
        case 1: return t.forWhom.toLower();
        case 10: return t.title;
        case 11: return t.forWhom;
        default: return t.sortKey;
        }
    };
    const bool descending = mode >= 10;
    for (size_t j = 0; j + 1 < v.size(); ++j)
        for (size_t i = j; i < v.size(); ++i) {
            const int c = QString::compare(key(v[j]), key(v[i]));
            if (descending ? c < 0 : c > 0)
                std::swap(v[j], v[i]);
        }
}

// With ties, and without any (where the sort takes a shorter way).
TEST(SortTasks, MatchesTheExchangeSortWithAndWithoutTies)
{
    std::mt19937 rng(20261208);
    const char *const words[] = {"a", "A", "b", "B", "ab", "aB", "Ab", "", "z"};
    for (const bool ties : {true, false})
        for (qint16 mode : {0, 1, 2, 10, 11, 12}) {
            for (int round = 0; round < 20; ++round) {
                std::vector<Task> v;
                const int n = 2 + int(rng() % 40);
                for (int k = 0; k < n; ++k) {
                    Task t = ties ? dueTask(words[rng() % 9], 2026, 1 + int(rng() % 2), 1, 0, 0, 0)
                                  : dueTask("", 2026, 1, 1, 0, 0, 0);
                    t.forWhom = QString::fromLatin1(words[rng() % 9]);
                    if (!ties) {
                        // Distinct in every column, case folded or not.
                        const QString unique = QString::number(rng() % 1000 * 100 + k);
                        t.title = (k % 2 ? QStringLiteral("T") : QStringLiteral("t")) + unique;
                        t.forWhom = unique;
                        t.second = qint16(k % 60);
                        t.minute = qint16(rng() % 60);
                        t.hour = qint16(k / 60);
                        t.sortKey = makeSortKey(t);
                    }
                    t.description = QString::number(k);
                    v.push_back(t);
                }
                fill(v);
                referenceSort(v, mode);
                sortMode = mode;
                sortTasks();
                for (int k = 0; k < n; ++k)
                    ASSERT_EQ(tasks[k].description, v[k].description)
                        << "mode " << mode << " slot " << k;
                // Again on the ordered table, which the sort finds in order.
                referenceSort(v, mode);
                sortTasks();
                for (int k = 0; k < n; ++k)
                    ASSERT_EQ(tasks[k].description, v[k].description)
                        << "again, mode " << mode << " slot " << k;
            }
        }
}

struct FormatCase {
    qint16 day, month, year;
    const char *text;
    qint16 monthAfter;
};

TEST(FormatDate, Table)
{
    const FormatCase cases[] = {
        {7, 3, 2026, "March 07/26", 3},     {25, 12, 1999, "December 25/99", 12},
        {1, 1, 2026, "January 01/26", 1},   {1, 13, 2026, " 01/26", 13},
        {1, 0, 2026, "January 01/26", 1},   {15, 6, 2005, "June 15/05", 6},
        {15, 6, 5, "June 15/05", 6},        {15, 6, 0, "June 15/00", 6},
        {15, 6, -15, "June 15/15", 6},      {15, 6, -5, "June 15/-5", 6},
        {15, 6, 123, "June 15/23", 6},      {15, 6, 10000, "June 15/00", 6},
        {-5, 6, 2026, "June -5/26", 6},     {0, 6, 2026, "June 00/26", 6},
        {31, 2, 2026, "February 31/26", 2}, {9, 9, 2026, "September 09/26", 9},
    };
    for (const auto &c : cases) {
        qint16 day = c.day, month = c.month, year = c.year;
        EXPECT_EQ(formatDate(day, month, year), QString::fromLatin1(c.text))
            << c.day << '/' << c.month << '/' << c.year;
        EXPECT_EQ(month, c.monthAfter);
        EXPECT_EQ(day, c.day);
        EXPECT_EQ(year, c.year);
    }
}

TEST(FormatDate, MonthZeroIsFixedInTheTask)
{
    tasks[0] = dueTask("t", 2026, 0, 1, 0, 0, 0);
    taskCount = 1;
    formatDate(tasks[0].day, tasks[0].month, tasks[0].year);
    EXPECT_EQ(tasks[0].month, 1);
}

// A month outside the table has no name: its number stands in for it, and
// a day too long for two places is shown whole.
TEST(FormatDate, OutOfTableMonthsShowTheirNumber)
{
    struct {
        qint16 month;
        const char *text;
    } const cases[] = {
        {-1, "-1 100/68"}, {14, "14 100/68"}, {32767, "32767 100/68"}, {-32768, "-32768 100/68"}};
    for (const auto &c : cases) {
        qint16 d = 100, mo = c.month, y = -32768;
        EXPECT_EQ(formatDate(d, mo, y), QString::fromLatin1(c.text)) << c.month;
        EXPECT_EQ(mo, c.month) << "only a month of 0 is changed";
    }
}

struct KeyCase {
    int y, mo, d, h, mi, s;
    const char *key;
};

TEST(MakeSortKey, Table)
{
    const KeyCase cases[] = {
        {2026, 3, 7, 9, 5, 0, "2026-03 - 07 09:05:00"},
        {2026, 12, 31, 23, 59, 59, "2026-12 - 31 23:59:59"},
        {5, 1, 1, 0, 0, 0, "0005-01 - 01 00:00:00"},
        {0, 0, 0, 0, 0, 0, "0000-00 - 00 00:00:00"},
        {-5, 1, 1, 0, 0, 0, "00-5-01 - 01 00:00:00"},
        {-123, 1, 1, 0, 0, 0, "-123-01 - 01 00:00:00"},
        {2026, -5, -5, -5, -5, -5, "2026--5 - -5 -5:-5:-5"},
        {2026, 13, 1, 24, 60, 60, "2026-13 - 01 24:60:60"},
    };
    for (const auto &c : cases) {
        const Task t = dueTask("", c.y, c.mo, c.d, c.h, c.mi, c.s);
        EXPECT_EQ(makeSortKey(t), QString::fromLatin1(c.key)) << c.key;
    }
}

TEST(MakeSortKey, OrdersByDueMoment)
{
    const Task earlier = dueTask("", 2026, 3, 7, 9, 5, 0);
    const Task later = dueTask("", 2026, 3, 7, 10, 0, 0);
    const Task nextYear = dueTask("", 2027, 1, 1, 0, 0, 0);
    EXPECT_LT(QString::compare(makeSortKey(earlier), makeSortKey(later)), 0);
    EXPECT_LT(QString::compare(makeSortKey(later), makeSortKey(nextYear)), 0);
}

TEST(MakeDueText, ShortDateAtLongTime)
{
    EXPECT_EQ(makeDueText(dueTask("", 2026, 3, 7, 14, 5, 0)),
              QStringLiteral("3/7/26 at 2:05:00 PM"));
    // parts out of range carry over
    EXPECT_EQ(makeDueText(dueTask("", 2026, 13, 1, 0, 75, 0)),
              QStringLiteral("1/1/27 at 1:15:00 AM"));
}

}  // namespace
