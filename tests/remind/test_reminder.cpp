// When the reminder notifies what, driven by a clock of the test's own.
#include "remind/duemoment.h"
#include "remind/printers.h"
#include "remind/reminder.h"
#include "store/tables.h"
#include "store/taskfile.h"
#include "support/taskfilebuilder.h"
#include "support/tempfolder.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using remind::Reminder;
using testsupport::rule;
using testsupport::RuleLines;
using testsupport::TaskLines;

const QDate kDay(2026, 12, 8);

QDateTime at(int hour, int minute, int second = 0, const QDate &day = kDay)
{
    return QDateTime(day, QTime(hour, minute, second));
}

TaskLines dueAt(const QString &title, const QDateTime &when, const QString &deleted = "N")
{
    const QDate d = when.date();
    const QTime t = when.time();
    return {title,    "Me",       d.day(),    d.month(), d.year(),
            t.hour(), t.minute(), t.second(), deleted,   {}};
}

Module1::Task taskWith(int day, int month, int year, int hour, int minute, int second)
{
    Module1::Task t;
    t.title = "Pay";
    t.forWhom = "Me";
    t.day = qint16(day);
    t.month = qint16(month);
    t.year = qint16(year);
    t.hour = qint16(hour);
    t.minute = qint16(minute);
    t.second = qint16(second);
    return t;
}

TEST(DueMoment, IsTheDueDateWithCarryOverAtTheTimeTheListWrites)
{
    struct Row {
        int day, month, year, hour, minute, second;
        QDateTime expected;
    } rows[] = {
        {8, 12, 2026, 9, 5, 0, at(9, 5)},
        {8, 12, 2026, 9, 75, 0, at(10, 15)},
        // The list writes 1:00:00 AM for hour 25, on the task's own date.
        {8, 12, 2026, 25, 0, 0, at(1, 0)},
        {8, 12, 2026, 0, 0, -1, at(23, 59, 59)},
        {1, 13, 2026, 9, 0, 0, at(9, 0, 0, QDate(2027, 1, 1))},
        {0, 3, 2026, 9, 0, 0, at(9, 0, 0, QDate(2026, 2, 28))},
        {32, 1, 2026, 9, 0, 0, at(9, 0, 0, QDate(2026, 2, 1))},
    };
    for (const Row &r : rows) {
        const Module1::Task t = taskWith(r.day, r.month, r.year, r.hour, r.minute, r.second);
        EXPECT_EQ(remind::dueMoment(t), r.expected)
            << r.day << "." << r.month << "." << r.year << " " << r.hour << ":" << r.minute << ":"
            << r.second;
    }
}

TEST(DueMoment, BodyIsForWhomAndTheListsDueText)
{
    EXPECT_EQ(remind::reminderBody(taskWith(8, 12, 2026, 14, 5, 0)),
              "for Me, due December 08/26 at 2:05:00 PM");
    // Month 0 reads as January, and the task keeps its 0.
    Module1::Task t = taskWith(8, 0, 2026, 9, 0, 0);
    EXPECT_EQ(remind::reminderBody(t), "for Me, due January 08/26 at 9:00:00 AM");
    EXPECT_EQ(t.month, 0);
}

class ReminderTest : public testsupport::InTempFolder<> {
protected:
    void SetUp() override
    {
        InTempFolder::SetUp();
        Module1::releaseTaskFolder();
    }

    void TearDown() override
    {
        InTempFolder::TearDown();
        Module1::releaseTaskFolder();
    }

    void writeTasks(const std::vector<TaskLines> &tasks,
                    const std::vector<RuleLines> &rules = {rule(0, true)})
    {
        testsupport::writeFile(folder().filePath("tasks.txt"), testsupport::taskFile(tasks, rules));
    }

    Reminder &reminder()
    {
        if (!made)
            made = std::make_unique<Reminder>(Reminder::Hooks{
                [this] { return clock; },
                [this](const QString &summary, const QString &) { sent.push_back(summary); },
                [this](std::optional<QDateTime> next) { wakes.push_back(next); },
                [this](const QString &message) { warnings.push_back(message); },
            });
        return *made;
    }

    // The clock moves on, then the alarm rings.
    void wakeAt(const QDateTime &when)
    {
        clock = when;
        reminder().wake();
    }

    QDateTime clock = at(9, 0);
    std::vector<QString> sent;
    std::vector<std::optional<QDateTime>> wakes;
    std::vector<QString> warnings;
    std::unique_ptr<Reminder> made;
};

using Sent = std::vector<QString>;

TEST_F(ReminderTest, NotifiesEachCurrentTaskOnceWhenItFallsDue)
{
    writeTasks({dueAt("Past", at(8, 0)), dueAt("Rent", at(9, 30)),
                dueAt("Recycled", at(9, 30), "Y"), dueAt("Call", at(10, 0))});
    reminder().start();
    // What was due before the start is the alert page's business.
    EXPECT_EQ(sent, Sent{});
    EXPECT_EQ(reminder().nextWake(), at(9, 30));

    wakeAt(at(9, 30));
    EXPECT_EQ(sent, Sent{"Rent"});
    EXPECT_EQ(reminder().nextWake(), at(10, 0));
    wakeAt(at(9, 30, 1));
    EXPECT_EQ(sent, Sent{"Rent"});

    wakeAt(at(10, 0));
    EXPECT_EQ(sent, (Sent{"Rent", "Call"}));
    // Nothing ahead: no alarm but the clock's own changes.
    EXPECT_EQ(reminder().nextWake(), std::nullopt);
    EXPECT_EQ(wakes.back(), std::nullopt);
    EXPECT_EQ(warnings, std::vector<QString>{});
}

TEST_F(ReminderTest, OnlyWhatTheAlertPageWouldListAtThatMoment)
{
    struct Row {
        const char *name;
        std::vector<RuleLines> rules;
        bool notified;
    } rows[] = {
        {"no rules", {}, false},
        {"due today, popup on", {rule(0, true)}, true},
        {"due today, popup off", {rule(0, false)}, false},
        {"a rule that never covers today", {rule(-1, true)}, false},
        {"a popup rule that counts", {rule(7, true), rule(3, false)}, true},
        // After the 3-day rule, the 7-day one no longer counts.
        {"a popup rule after a smaller interval", {rule(3, false), rule(7, true)}, false},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        sent.clear();
        made.reset();
        clock = at(9, 0);
        writeTasks({dueAt("Rent", at(9, 30))}, r.rules);
        reminder().start();
        // Not woken for a task that will not be notified.
        EXPECT_EQ(reminder().nextWake().has_value(), r.notified);
        wakeAt(at(9, 30));
        EXPECT_EQ(sent, r.notified ? Sent{"Rent"} : Sent{});
    }
}

TEST_F(ReminderTest, WhatFellDueDuringASuspendComesOnWakingOnceInDueOrder)
{
    writeTasks({dueAt("Second", at(9, 40)), dueAt("First", at(9, 20)),
                dueAt("Tomorrow", at(9, 0, 0, kDay.addDays(1)))});
    reminder().start();
    wakeAt(at(11, 0));
    EXPECT_EQ(sent, (Sent{"First", "Second"}));
    wakeAt(at(11, 0, 1));
    EXPECT_EQ(sent, (Sent{"First", "Second"}));
    EXPECT_EQ(reminder().nextWake(), at(9, 0, 0, kDay.addDays(1)));
}

TEST_F(ReminderTest, AClockSetBackRepeatsNothing)
{
    writeTasks({dueAt("Rent", at(9, 30))});
    reminder().start();
    wakeAt(at(9, 31));
    ASSERT_EQ(sent, Sent{"Rent"});

    // Set back: the moment lies ahead again, but was notified.
    wakeAt(at(9, 10));
    EXPECT_EQ(reminder().nextWake(), std::nullopt);
    // A task added meanwhile, due in the stretch that comes again.
    writeTasks({dueAt("Rent", at(9, 30)), dueAt("Call", at(9, 20))});
    reminder().fileChanged();
    wakeAt(at(9, 20));
    wakeAt(at(9, 31));
    EXPECT_EQ(sent, (Sent{"Rent", "Call"}));
}

TEST_F(ReminderTest, FollowsTheFile)
{
    writeTasks({dueAt("Rent", at(9, 30)), dueAt("Call", at(9, 45))});
    reminder().start();

    // Rent recycled, a task added ahead and one whose moment has passed.
    clock = at(9, 5);
    writeTasks({dueAt("Rent", at(9, 30), "Y"), dueAt("Call", at(9, 45)), dueAt("Mail", at(9, 40)),
                dueAt("Late", at(9, 1))});
    reminder().fileChanged();
    EXPECT_EQ(reminder().nextWake(), at(9, 40));
    wakeAt(at(9, 30));
    wakeAt(at(9, 40));
    EXPECT_EQ(sent, Sent{"Mail"});

    // Call moved later before its moment, then notified at the new one; a
    // moment moved after it was notified is a new one too.
    clock = at(9, 41);
    writeTasks({dueAt("Call", at(9, 50)), dueAt("Mail", at(9, 55))});
    reminder().fileChanged();
    wakeAt(at(9, 45));
    EXPECT_EQ(sent, Sent{"Mail"});
    wakeAt(at(9, 55));
    EXPECT_EQ(sent, (Sent{"Mail", "Call", "Mail"}));
}

TEST_F(ReminderTest, AChangeReadAfterAMomentDoesNotTakeBackItsNotification)
{
    // The alarm and the file change come together: the moment came while
    // the task was current.
    writeTasks({dueAt("Rent", at(9, 30))});
    reminder().start();
    clock = at(9, 30, 1);
    writeTasks({dueAt("Rent", at(9, 30), "Y")});
    reminder().fileChanged();
    EXPECT_EQ(sent, Sent{"Rent"});
}

TEST_F(ReminderTest, AMissingFileIsAnEmptyListUntilItComes)
{
    reminder().start();
    EXPECT_EQ(reminder().nextWake(), std::nullopt);
    writeTasks({dueAt("Rent", at(9, 30))});
    reminder().fileChanged();
    wakeAt(at(9, 30));
    EXPECT_EQ(sent, Sent{"Rent"});
    EXPECT_EQ(warnings, std::vector<QString>{});
}

TEST_F(ReminderTest, ABrokenFileKeepsTheTasksReadBeforeAndIsSaidOnce)
{
    writeTasks({dueAt("Rent", at(9, 30))});
    reminder().start();
    testsupport::writeFile(folder().filePath("tasks.txt"), "my shopping list\r\nmilk\r\n");
    reminder().fileChanged();
    reminder().fileChanged();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_TRUE(warnings[0].contains("not a Quillet task file")) << warnings[0].toStdString();
    wakeAt(at(9, 30));
    EXPECT_EQ(sent, Sent{"Rent"});
}

TEST_F(ReminderTest, TasksDueTogetherAreEachNotifiedAndATwinOnce)
{
    writeTasks({dueAt("Rent", at(9, 30)), dueAt("Rent", at(9, 30)), dueAt("Call", at(9, 30))});
    reminder().start();
    wakeAt(at(9, 30));
    // The same title, for and moment twice is one reminder of one thing.
    EXPECT_EQ(sent, (Sent{"Rent", "Call"}));
}

}  // namespace
