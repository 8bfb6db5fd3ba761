// One walk of the rules decides a row's colour and weight and whether the
// alert page announces the task.
#include "store/rules.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <vector>

using namespace Module1;

namespace {

constexpr qint32 kGreen = 0x00FF00, kOrange = 0x0080FF, kRed = 0x0000FF, kYellow = 0x00FFFF,
                 kBlue = 0xFF0000;

struct MatchCase {
    const char *name;
    std::vector<AlertRule> rules;
    int daysAway;
    bool colored;
    qint32 color;
    std::optional<bool> bold;
    bool announce;
    qint32 announceColor;
};

AlertRule r(qint16 interval, qint32 color, bool popup = false, const char *unit = "d")
{
    return AlertRule{interval, QString::fromLatin1(unit), color, popup};
}

const std::vector<AlertRule> kSteps{r(7, kGreen), r(2, kOrange), r(0, kRed)};

TEST(MatchRules, OneWalkForTheListAndThePage)
{
    const MatchCase cases[] = {
        {"ten days: no rule counts", kSteps, 10, false, 0, false, false, 0},
        {"five days: green", kSteps, 5, true, kGreen, false, false, 0},
        {"two days: orange", kSteps, 2, true, kOrange, false, false, 0},
        {"tomorrow: orange", kSteps, 1, true, kOrange, false, false, 0},
        {"today: red and bold", kSteps, 0, true, kRed, true, false, 0},
        {"last week: red and bold", kSteps, -7, true, kRed, true, false, 0},
        {"equal intervals: the later rule",
         {r(3, kBlue), r(3, kYellow)},
         1,
         true,
         kYellow,
         false,
         false,
         0},
        {"no rules: weight left alone", {}, -3, false, 0, std::nullopt, false, 0},
        {"a later popup-off rule does not withdraw",
         {r(7, kRed, true), r(3, kYellow)},
         2,
         true,
         kYellow,
         false,
         true,
         kRed},
        {"a wider rule after a narrower one does not count",
         {r(3, kYellow), r(7, kRed, true)},
         2,
         true,
         kYellow,
         false,
         false,
         0},
        {"interval 0 announces today", {r(0, kRed, true)}, 0, true, kRed, true, true, kRed},
        {"interval 0 does not announce tomorrow", {r(0, kRed, true)}, 1, false, 0, false, false, 0},
        // Counted exactly: a 16-bit difference would reach 32767 and match.
        {"100 years away, rule of 32767 days",
         {r(32767, kRed, true)},
         36525,
         false,
         0,
         false,
         false,
         0},
        {"110 years, unit y", {r(32767, kRed, true, "y")}, 40177, false, 0, false, false, 0},
        {"110 years, unit D", {r(32767, kRed, true, "D")}, 40177, false, 0, false, false, 0},
        {"110 years, empty unit", {r(32767, kRed, true, "")}, 40177, false, 0, false, false, 0},
        {"empty unit counts days", {r(5, kGreen, true, "")}, 5, true, kGreen, false, true, kGreen},
        {"a week in weeks", {r(1, kGreen, false, "ww")}, 6, true, kGreen, false, false, 0},
        {"the last rule's unit decides the weight",
         {r(0, kRed), r(9, kGreen, false, "m")},
         -1,
         true,
         kRed,
         true,
         false,
         0},
    };
    const Days today{testsupport::kToday};
    for (const MatchCase &c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::resetWorld();
        for (const AlertRule &rule : c.rules)
            alertRules[static_cast<size_t>(alertRuleCount++)] = rule;
        const std::chrono::year_month_day due{today + std::chrono::days{c.daysAway}};
        Task task;
        task.year = static_cast<qint16>(int(due.year()));
        task.month = static_cast<qint16>(unsigned(due.month()));
        task.day = static_cast<qint16>(unsigned(due.day()));
        const RuleMatch m = matchRules(task, today);
        EXPECT_EQ(m.colored, c.colored);
        EXPECT_EQ(m.color, c.color);
        EXPECT_EQ(m.bold, c.bold);
        EXPECT_EQ(m.announce, c.announce);
        EXPECT_EQ(m.announceColor, c.announceColor);
    }
}

}  // namespace

// The walk that skips tasks due past every rule matches as matchRules does,
// over random rules (days and other units, negative intervals) and dues.
TEST(RuleWalkTest, MatchesMatchRules)
{
    std::mt19937 rng(33);
    const Days today{std::chrono::year{2026} / 12 / 9};
    const QString units[] = {QStringLiteral("d"), QStringLiteral("d"), QStringLiteral("ww"),
                             QStringLiteral("m"), QStringLiteral("D")};
    for (int round = 0; round < 400; ++round) {
        alertRuleCount = qint16(rng() % 5);
        for (int i = 0; i < alertRuleCount; ++i)
            alertRules[size_t(i)] =
                AlertRule{qint16(int(rng() % 60) - 10), units[rng() % (round % 2 ? 2 : 5)],
                          qint32(rng() & 0xFFFFFF), rng() % 2 == 0};
        const RuleWalk walk(today);
        for (int n = 0; n < 20; ++n) {
            Task t;
            const std::chrono::year_month_day due{today + std::chrono::days{int(rng() % 200) - 80}};
            t.year = qint16(int(due.year()));
            t.month = qint16(unsigned(due.month()));
            t.day = qint16(unsigned(due.day()));
            const RuleMatch a = walk.of(t), b = matchRules(t, today);
            SCOPED_TRACE(round);
            EXPECT_EQ(a.colored, b.colored);
            EXPECT_EQ(a.color, b.color);
            EXPECT_EQ(a.announce, b.announce);
            EXPECT_EQ(a.announceColor, b.announceColor);
            EXPECT_EQ(a.bold, b.bold);
        }
    }
    alertRuleCount = 0;
}
