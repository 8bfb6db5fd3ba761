#include "sync/merge.h"

#include <gtest/gtest.h>

#include <functional>

using namespace qsync;

namespace {

Fields sample()
{
    Fields f;
    f.title = QStringLiteral("Pay the rent");
    f.forWhom = QStringLiteral("Sam");
    f.description = QStringLiteral("Bring the card");
    f.due = 1'800'000'000;
    return f;
}

Fields with(const std::function<void(Fields &)> &edit)
{
    Fields f = sample();
    edit(f);
    return f;
}

const QDateTime kNow = QDateTime(QDate(2026, 12, 9), QTime(14, 2), Qt::UTC);

struct MergeRow {
    const char *name;
    bool hasBase;
    Fields local, remote, expected;
    bool conflict;
};

}  // namespace

TEST(SyncMerge, EachFieldThreeWays)
{
    const auto title = [](const char *t) {
        return [t](Fields &f) { f.title = QString::fromUtf8(t); };
    };
    const auto due = [](qint64 d) { return [d](Fields &f) { f.due = d; }; };
    const auto recycled = [](Fields &f) { f.recycled = true; };
    const QString line = QStringLiteral("\nSync conflict 2026-12-09 14:02, the calendar had: ");
    const MergeRow rows[] = {
        {"unchanged", true, sample(), sample(), sample(), false},
        {"local title only", true, with(title("Rent")), sample(), with(title("Rent")), false},
        {"remote title only", true, sample(), with(title("Rent")), with(title("Rent")), false},
        {"both to the same", true, with(title("Rent")), with(title("Rent")), with(title("Rent")),
         false},
        {"title here, due there", true, with(title("Rent")), with(due(1'800'003'600)),
         with([](Fields &f) {
             f.title = QStringLiteral("Rent");
             f.due = 1'800'003'600;
         }),
         false},
        {"recycled there", true, sample(), with(recycled), with(recycled), false},
        {"both titles differ", true, with(title("Rent")), with(title("Pay")), with([&](Fields &f) {
             f.title = QStringLiteral("Rent");
             f.description += line + QStringLiteral("title \"Pay\"");
         }),
         true},
        {"two fields differ, one line", true, with([](Fields &f) {
             f.title = QStringLiteral("A");
             f.forWhom = QStringLiteral("Kim");
         }),
         with([](Fields &f) {
             f.title = QStringLiteral("B");
             f.forWhom = QStringLiteral("Lee");
         }),
         with([&](Fields &f) {
             f.title = QStringLiteral("A");
             f.forWhom = QStringLiteral("Kim");
             f.description += line + QStringLiteral("title \"B\"; for \"Lee\"");
         }),
         true},
        {"no base, equal", false, sample(), sample(), sample(), false},
        {"no base, different", false, with(title("A")), with(title("B")), with([&](Fields &f) {
             f.title = QStringLiteral("A");
             f.description += line + QStringLiteral("title \"B\"");
         }),
         true},
    };
    for (const MergeRow &row : rows) {
        SCOPED_TRACE(row.name);
        const std::optional<Fields> base =
            row.hasBase ? std::optional<Fields>(sample()) : std::nullopt;
        const Merged m = mergeFields(base, row.local, row.remote, kNow);
        EXPECT_EQ(m.fields.title, row.expected.title);
        EXPECT_EQ(m.fields.forWhom, row.expected.forWhom);
        EXPECT_EQ(m.fields.description, row.expected.description);
        EXPECT_EQ(m.fields.due, row.expected.due);
        EXPECT_EQ(m.fields.recycled, row.expected.recycled);
        EXPECT_EQ(m.conflict, row.conflict);
    }
}

// A sync cut off after one side took the merge: the next one meets both
// sides equal and must neither conflict nor add a second line.
TEST(SyncMerge, MergedResultIsStableOnTheNextRun)
{
    const Fields base = sample();
    Fields local = sample(), remote = sample();
    local.title = QStringLiteral("A");
    remote.title = QStringLiteral("B");
    const Merged first = mergeFields(base, local, remote, kNow);
    ASSERT_TRUE(first.conflict);
    const Merged again = mergeFields(base, first.fields, first.fields, kNow);
    EXPECT_FALSE(again.conflict);
    EXPECT_EQ(again.fields, first.fields);
}
