// When the reminder notifies what, driven by a clock of the test's own.
#include "remind/duemoment.h"
#include "remind/printers.h"
#include "remind/reminder.h"
#include "store/tables.h"
#include "store/taskfile.h"
#include "store/taskidentity.h"
#include "support/taskfilebuilder.h"
#include "support/tempfolder.h"
#include "support/testsupport.h"
#include "support/testusers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

TaskLines dueAt(const QString &title, const QDateTime &when, const QString &deleted = "N",
                const QString &description = {})
{
    const QDate d = when.date();
    const QTime t = when.time();
    return {title,    "Me",       d.day(),    d.month(), d.year(),
            t.hour(), t.minute(), t.second(), deleted,   description};
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
        EXPECT_EQ(Module1::dueMoment(t), r.expected)
            << r.day << "." << r.month << "." << r.year << " " << r.hour << ":" << r.minute << ":"
            << r.second;
    }
}

// A wall time the clocks skip is the moment other calendars read for it (the
// offset from before the change), so the reminder comes when their alarms
// do; Qt alone gives no moment at all, and the task was never notified.
TEST(DueMoment, ATimeTheClocksSkipComesAsMuchLaterAsTheGapIsLongOneTheyRepeatTheFirstTime)
{
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "Europe/Berlin");
    tzset();
    // In UTC before the zone goes back: a local time is read in the zone of the day.
    const QDateTime moment = Module1::dueMoment(taskWith(28, 3, 2027, 2, 30, 0)).toUTC();
    const QDateTime around = Module1::dueMoment(taskWith(28, 3, 2027, 1, 59, 0)).toUTC();
    // And a time that comes twice, when they go back, is the first.
    const QDateTime twice = Module1::dueMoment(taskWith(31, 10, 2027, 2, 30, 0)).toUTC();
    qputenv("TZ", zone);
    tzset();
    EXPECT_EQ(moment, QDateTime(QDate(2027, 3, 28), QTime(1, 30), Qt::UTC));
    EXPECT_EQ(around, QDateTime(QDate(2027, 3, 28), QTime(0, 59), Qt::UTC));
    EXPECT_EQ(twice, QDateTime(QDate(2027, 10, 31), QTime(0, 30), Qt::UTC));
}

TEST(DueMoment, BodyIsTheListsDueTextForWhomWhenSetAndTheDescriptionsFirstLines)
{
    struct Row {
        const char *name;
        QString forWhom, description, body;
    } rows[] = {
        {"for set", "Me", "", "for Me, due December 08/26 at 2:05:00 PM"},
        {"for empty", "", "", "due December 08/26 at 2:05:00 PM"},
        {"a description of three lines and more, blank ones skipped", "Me",
         "Bring <the> forms\r\n\r\n  and the key  \r\nRoom 4\r\nnot shown",
         "for Me, due December 08/26 at 2:05:00 PM\nBring <the> forms\nand the key\nRoom 4"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        Module1::Task t = taskWith(8, 12, 2026, 14, 5, 0);
        t.forWhom = r.forWhom;
        t.description = r.description;
        EXPECT_EQ(remind::reminderBody(t), r.body);
    }
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
            made = std::make_unique<Reminder>(
                Reminder::Hooks{
                    [this] { return clock; },
                    [this](const remind::Notice &notice) {
                        sent.push_back(notice.summary);
                        notices.push_back(notice);
                    },
                    [this](std::optional<QDateTime> next) { wakes.push_back(next); },
                    [this](const QString &message) { warnings.push_back(message); },
                },
                folder().filePath("tasks.txt"), folder().filePath("state/put-off"));
        return *made;
    }

    // The clock moves on, then the alarm rings.
    void wakeAt(const QDateTime &when)
    {
        clock = when;
        reminder().wake();
    }

    // A new reminder, with nothing put off, that notified Rent (due 9:30);
    // the clock a minute later.
    void rentJustNotified()
    {
        made.reset();
        sent.clear();
        notices.clear();
        QFile::remove(folder().filePath("state/put-off"));
        clock = at(9, 0);
        writeTasks({dueAt("Rent", at(9, 30))});
        reminder().start();
        wakeAt(at(9, 30));
        clock = at(9, 31);
    }

    QDateTime clock = at(9, 0);
    std::vector<QString> sent;
    std::vector<remind::Notice> notices;
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

TEST_F(ReminderTest, EveryTaskAtItsMomentWhateverTheRulesAndOnceMoreWhenAPopupRuleListsIt)
{
    // Due on the third day at 9:30; the reminder starts on the first.
    const QDateTime due = at(9, 30, 0, kDay.addDays(2));
    const auto midnight = [](int day) { return QDateTime(kDay.addDays(day), QTime(0, 0)); };
    struct Row {
        const char *name;
        std::vector<RuleLines> rules;
        std::vector<QDateTime> notified;
    } rows[] = {
        {"no rules, as a first run writes them", {}, {due}},
        {"due today, popup on", {rule(0, true)}, {midnight(2), due}},
        {"due today, popup off", {rule(0, false)}, {due}},
        {"a popup rule of one day", {rule(1, true)}, {midnight(1), due}},
        // Listed already when the reminder starts: the page said it.
        {"a popup rule that lists it today", {rule(7, true)}, {due}},
        // Only the day before: after the 0-day rule the 1-day one does not count.
        {"a popup rule after a smaller interval",
         {rule(0, false), rule(1, true)},
         {midnight(1), due}},
        {"a popup rule for what is a day overdue", {rule(-1, true)}, {due, midnight(3)}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        sent.clear();
        made.reset();
        clock = at(9, 0);
        writeTasks({dueAt("Rent", due)}, r.rules);
        reminder().start();
        std::vector<QDateTime> notified;
        // Woken as it asks, up to the fourth day.
        while (reminder().nextWake() && *reminder().nextWake() <= midnight(3)) {
            const size_t before = sent.size();
            wakeAt(*reminder().nextWake());
            if (sent.size() > before)
                notified.push_back(clock);
        }
        EXPECT_EQ(notified, r.notified);
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
    // At midnight the due-today rule lists Tomorrow.
    EXPECT_EQ(reminder().nextWake(), QDateTime(kDay.addDays(1), QTime(0, 0)));
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

TEST_F(ReminderTest, TasksDueTogetherAreEachNotifiedTwinsToo)
{
    writeTasks({dueAt("Call Bob", at(9, 30), "N", "about the car"),
                dueAt("Call Bob", at(9, 30), "N", "about the house"),
                dueAt("Call Bob", at(9, 30), "N", "about the boat"), dueAt("Rent", at(9, 30)),
                dueAt("Rent", at(9, 30))});
    reminder().start();
    wakeAt(at(9, 30));
    ASSERT_EQ(notices.size(), 4u);
    // The first few one by one, then one for the rest of that minute.
    EXPECT_EQ(notices[0].body, "for Me, due December 08/26 at 9:30:00 AM\nabout the car");
    EXPECT_EQ(notices[1].body, "for Me, due December 08/26 at 9:30:00 AM\nabout the house");
    EXPECT_EQ(notices[2].body, "for Me, due December 08/26 at 9:30:00 AM\nabout the boat");
    EXPECT_EQ(notices[3].summary, "2 more tasks due");
    // Each names its own task.
    EXPECT_NE(notices[0].task, notices[1].task);
    EXPECT_NE(notices[1].task, notices[2].task);
}

TEST_F(ReminderTest, SavingSortingOrEditingOtherTasksNeverNotifiesATaskTwice)
{
    writeTasks({dueAt("Rent", at(9, 30)), dueAt("Rent", at(9, 30)), dueAt("Call", at(9, 45))});
    reminder().start();
    wakeAt(at(9, 31));
    ASSERT_EQ(sent, (Sent{"Rent", "Rent"}));
    // Saved again in another order with Call edited, and the clock set
    // back over the moment: the twins were notified, Call comes once.
    clock = at(9, 20);
    writeTasks({dueAt("Call", at(9, 40), "N", "moved"), dueAt("Rent", at(9, 30)),
                dueAt("Rent", at(9, 30))});
    reminder().fileChanged();
    wakeAt(at(9, 30));
    wakeAt(at(9, 50));
    EXPECT_EQ(sent, (Sent{"Rent", "Rent", "Call"}));
}

TEST_F(ReminderTest, ManyDueInOneMinuteBecomeAFewAndOneForTheRest)
{
    std::vector<TaskLines> list;
    for (int i = 0; i < 20; ++i)
        list.push_back(dueAt(QString("Task %1").arg(i), at(9, 30, i < 10 ? 0 : 40)));
    list.push_back(dueAt("Next minute", at(9, 31)));
    writeTasks(list);
    reminder().start();
    // Some at 9:30:00, the others at 9:30:40: one minute all the same.
    wakeAt(at(9, 30));
    wakeAt(at(9, 30, 40));
    wakeAt(at(9, 31));
    std::vector<remind::Notice> single, grouped;
    for (const remind::Notice &n : notices)
        (n.group ? grouped : single).push_back(n);
    ASSERT_EQ(single.size(), 4u);
    EXPECT_EQ(single.back().summary, "Next minute");
    // The count grows in one notification that opens the list.
    ASSERT_FALSE(grouped.empty());
    EXPECT_EQ(grouped.back().summary, "17 more tasks due");
    EXPECT_TRUE(grouped.back().task.isEmpty());
}

TEST_F(ReminderTest, UrgentWhenLearntOfAfterItsMoment)
{
    writeTasks({dueAt("On time", at(9, 30)), dueAt("Slept through", at(9, 40))});
    reminder().start();
    wakeAt(at(9, 30));
    // The machine slept from before 9:40 to 11:00.
    wakeAt(at(11, 0));
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_FALSE(notices[0].critical);
    EXPECT_TRUE(notices[1].critical);
}

TEST_F(ReminderTest, APutOffTaskComesBackThenEvenToAReminderStartedLater)
{
    writeTasks({dueAt("Rent", at(9, 30)), dueAt("Call", at(9, 30))});
    reminder().start();
    wakeAt(at(9, 30));
    ASSERT_EQ(sent, (Sent{"Rent", "Call"}));
    const QByteArray rent = notices[0].task;
    const QByteArray tasksBefore = testsupport::readFile(folder().filePath("tasks.txt"));

    clock = at(9, 31);
    reminder().putOff(rent, at(9, 41));
    EXPECT_EQ(reminder().nextWake(), at(9, 41));
    wakeAt(at(9, 41));
    EXPECT_EQ(sent, (Sent{"Rent", "Call", "Rent"}));
    EXPECT_EQ(notices.back().task, rent);
    wakeAt(at(9, 50));
    EXPECT_EQ(sent.size(), 3u);

    // Put off to tomorrow; the reminder ends and another starts.
    reminder().putOff(rent, at(9, 50, 0, kDay.addDays(1)));
    made.reset();
    sent.clear();
    clock = at(10, 0);
    reminder().start();
    EXPECT_EQ(reminder().nextWake(), at(9, 50, 0, kDay.addDays(1)));
    made.reset();
    // One that starts after the moment brings it at once.
    clock = at(10, 0, 0, kDay.addDays(1));
    reminder().start();
    EXPECT_EQ(sent, Sent{"Rent"});
    made.reset();
    reminder().start();
    EXPECT_EQ(sent, Sent{"Rent"});
    // Kept beside the user's state, never in the task file.
    EXPECT_EQ(testsupport::readFile(folder().filePath("tasks.txt")), tasksBefore);
}

// A notification's "Snooze" and "Tomorrow" count from the reminder's own
// clock, as everything else it decides, not from the wall clock.
TEST_F(ReminderTest, SnoozeAndTomorrowPutOffFromTheRemindersClock)
{
    struct Row {
        const char *name;
        void (Reminder::*later)(const QByteArray &);
        QDateTime back;
    } const rows[] = {
        {"Snooze", &Reminder::snooze, at(9, 41)},
        {"Tomorrow", &Reminder::putOffUntilTomorrow, at(9, 31, 0, kDay.addDays(1))},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        rentJustNotified();
        ASSERT_EQ(notices.size(), 1u);
        (reminder().*r.later)(notices.back().task);
        EXPECT_EQ(reminder().nextWake(), r.back);
        wakeAt(r.back);
        EXPECT_EQ(sent, (Sent{"Rent", "Rent"}));
    }
}

// What a put-off brings back is the task as it is then.
TEST_F(ReminderTest, APutOffTaskComesBackOnlyWhileItIsStillCurrent)
{
    struct Row {
        const char *name;
        std::vector<TaskLines> meanwhile;  // the list when the put-off ends
        Sent back;
    } rows[] = {
        {"unchanged", {dueAt("Rent", at(9, 30))}, {"Rent"}},
        {"recycled", {dueAt("Rent", at(9, 30), "Y")}, {}},
        {"edited", {dueAt("Rent the flat", at(9, 30))}, {}},
        {"removed", {}, {}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        rentJustNotified();
        ASSERT_EQ(notices.size(), 1u);
        reminder().putOff(notices.back().task, at(9, 41));
        sent.clear();
        notices.clear();
        writeTasks(r.meanwhile);
        reminder().fileChanged();
        wakeAt(at(9, 41));
        EXPECT_EQ(sent, r.back);
        // Past its due moment by then: urgent.
        for (const remind::Notice &n : notices)
            EXPECT_TRUE(n.critical) << n.summary.toStdString();
    }
}

// A put-off file kept by an earlier version names its task by the key it
// gave then (this one, for Rent below): the task still comes back, under
// its key now, the one a click on the notification hands over.
TEST_F(ReminderTest, APutOffKeptByAnEarlierVersionStillComesBack)
{
    writeTasks({dueAt("Rent", at(9, 30)), dueAt("Call", at(9, 30))});
    ASSERT_TRUE(QDir(folder().path()).mkpath("state"));
    testsupport::writeFile(folder().filePath("state/put-off"),
                           QByteArray::number(at(9, 41).toMSecsSinceEpoch()) +
                               " 24e82fc2e08a4c64f70c901c9b4383ee8ca4b8c0:0\n");
    clock = at(9, 35);
    reminder().start();
    EXPECT_EQ(sent, Sent{});
    EXPECT_EQ(reminder().nextWake(), at(9, 41));
    wakeAt(at(9, 41));
    ASSERT_EQ(sent, Sent{"Rent"});
    EXPECT_EQ(notices.back().task, Module1::taskKeys()[0]);
}

// What stands at the put-off file's name is neither waited on nor written
// through: the reminder still notifies, and says what it could not keep.
struct PlantedPutOff {
    const char *name;
    // Plants at `at`; false: cannot here (skipped).
    std::function<bool(const QString &at, const QString &victim)> plant;
    bool warns;
};

void PrintTo(const PlantedPutOff &c, std::ostream *os) { *os << c.name; }

class PutOffFile : public ReminderTest, public ::testing::WithParamInterface<PlantedPutOff> { };

TEST_P(PutOffFile, NeverHoldsTheReminderNorWritesThroughIt)
{
    const PlantedPutOff &c = GetParam();
    const QString path = folder().filePath("state/put-off");
    const QString victim = folder().filePath("victim");
    ASSERT_TRUE(QDir().mkpath(folder().filePath("state")));
    testsupport::writeFile(victim, "victim's\n");
    if (!c.plant(path, victim))
        GTEST_SKIP() << "needs root to plant this";
    const QByteArray fifo = QFile::encodeName(path);
    // A reader waiting on a FIFO is counted and let go. The kernel says
    // where this thread sleeps: a reader that only looks (a non-blocking
    // open, then fstat) never sleeps there, however the two meet.
    const QString sleepsIn = QStringLiteral("/proc/self/task/%1/wchan").arg(::gettid());
    std::atomic<bool> done{false}, waited{false};
    std::thread watchdog([&] {
        while (!done) {
            QFile wchan(sleepsIn);
            const QByteArray where =
                wchan.open(QIODevice::ReadOnly) ? wchan.readAll() : QByteArray();
            if (where.contains("partner") || where.contains("pipe")) {
                waited = true;
                const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW);
                if (fd >= 0)
                    ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });

    writeTasks({dueAt("Rent", at(9, 30))});
    reminder().start();
    wakeAt(at(9, 30));
    clock = at(9, 31);
    if (!notices.empty())
        reminder().putOff(notices[0].task, at(9, 41));
    wakeAt(at(9, 41));
    done = true;
    watchdog.join();

    EXPECT_FALSE(waited) << "the reminder waited on the FIFO";
    EXPECT_EQ(sent, (Sent{"Rent", "Rent"}));
    EXPECT_EQ(testsupport::readFile(victim), QByteArray("victim's\n"));
    EXPECT_EQ(!warnings.empty(), c.warns);
}

// A key from elsewhere (a notification's action) that is no key of a task
// never reaches the file, where a line break in it would make a line.
TEST_F(ReminderTest, OnlyTaskKeysAreKeptAsPutOff)
{
    writeTasks({dueAt("Rent", at(9, 30))});
    reminder().start();
    wakeAt(at(9, 30));
    ASSERT_EQ(notices.size(), 1u);
    reminder().putOff(notices[0].task, at(9, 41));
    reminder().putOff("x\n123 forged", at(9, 42));
    const QList<QByteArray> lines =
        testsupport::readFile(folder().filePath("state/put-off")).split('\n');
    EXPECT_EQ(lines, (QList<QByteArray>{QByteArray::number(at(9, 41).toMSecsSinceEpoch()) + ' ' +
                                            notices[0].task,
                                        ""}));
}

INSTANTIATE_TEST_SUITE_P(
    Reminder, PutOffFile,
    ::testing::Values(
        PlantedPutOff{"Fifo",
                      [](const QString &at, const QString &) {
                          return ::mkfifo(QFile::encodeName(at).constData(), 0600) == 0;
                      },
                      true},
        PlantedPutOff{"AnotherUsersLink",
                      [](const QString &at, const QString &victim) {
                          const auto other = testsupport::testUser("quillet-planter");
                          return ::geteuid() == 0 && other && QFile::link(victim, at) &&
                                 ::lchown(QFile::encodeName(at).constData(), other->uid,
                                          other->gid) == 0;
                      },
                      true}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
