#include "printers.h"
#include "store/tables.h"

#include <gtest/gtest.h>

using namespace Module1;

namespace {

struct LineBreakCase {
    const char *encoded;
    const char *decoded;
};

// Decoding then encoding must give the file text back for every case.
const LineBreakCase kLineBreaks[] = {
    {"first|~second", "first\r\nsecond"},
    {"|~|~", "\r\n\r\n"},
    {"|||~", "||\r\n"},
    {"||~~", "|\r\n~"},
    {"a|b~c", "a|b~c"},
    {"~|", "~|"},
    {"lone\nlf", "lone\nlf"},
    {"", ""},
    {"|~", "\r\n"},
    {"end|", "end|"},
};

TEST(LineBreaks, DecodeReplacesWholeMarkersOnly)
{
    for (const auto &c : kLineBreaks) {
        EXPECT_EQ(decodeLineBreaks(QString::fromUtf8(c.encoded)), QString::fromUtf8(c.decoded))
            << c.encoded;
    }
}

TEST(LineBreaks, EncodeReplacesWholePairsOnly)
{
    for (const auto &c : kLineBreaks) {
        EXPECT_EQ(encodeLineBreaks(QString::fromUtf8(c.decoded)), QString::fromUtf8(c.encoded))
            << c.encoded;
    }
}

TEST(LineBreaks, LoneCrAndLfAreLeftAlone)
{
    EXPECT_EQ(encodeLineBreaks(QStringLiteral("a\rb\nc\n\rd")), QStringLiteral("a\rb\nc\n\rd"));
    EXPECT_EQ(encodeLineBreaks(QStringLiteral("a\r\r\nb")), QStringLiteral("a\r|~b"));
}

TEST(LineBreaks, CallersTextIsUnchanged)
{
    const QString text = QStringLiteral("x\r\ny");
    QString copy = text;
    (void)encodeLineBreaks(copy);
    EXPECT_EQ(copy, text);
}

TEST(Tables, OnlyCapitalYMeansDeleted)
{
    struct {
        const char *value;
        bool deleted;
    } const cases[] = {{"Y", true}, {"y", false},  {"N", false},
                       {"", false}, {"Y ", false}, {"Yes", false}};
    for (const auto &c : cases) {
        Task t;
        t.deleted = QString::fromLatin1(c.value);
        EXPECT_EQ(isDeleted(t), c.deleted) << c.value;
    }
}

TEST(Tables, FixedCapacities)
{
    EXPECT_EQ(tasks.size(), 1001u);
    EXPECT_EQ(alertRules.size(), 101u);
}

TEST(Tables, ResetClearsEverySlotAndCount)
{
    tasks[1000].title = QStringLiteral("last");
    tasks[3].year = 7;
    alertRules[100].unit = QStringLiteral("d");
    taskCount = 4;
    alertRuleCount = 2;
    sortMode = 12;
    resetTables();
    EXPECT_EQ(tasks[1000], Task{});
    EXPECT_EQ(tasks[3], Task{});
    EXPECT_EQ(alertRules[100], AlertRule{});
    EXPECT_EQ(taskCount, 0);
    EXPECT_EQ(alertRuleCount, 0);
    EXPECT_EQ(sortMode, 0);
}

}  // namespace
