// What a start decides, in one process: the command line and the plan for
// each state of the task file, with and without a display.
#include "app/commandline.h"
#include "app/startplan.h"

#include "support/taskfilebuilder.h"
#include "support/tempfolder.h"
#include "support/testsupport.h"

#include <QDate>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

namespace {

using testsupport::dueOn;
using testsupport::rule;
using testsupport::taskFile;

TEST(CommandLine, OptionsAndStatuses)
{
    struct {
        QStringList arguments;
        std::optional<int> ends;  // the status when the start ends there
        bool showAll;
    } const cases[] = {
        {{"quillet"}, std::nullopt, false},   {{"quillet", "--show-all"}, std::nullopt, true},
        {{"quillet", "--help"}, 0, false},    {{"quillet", "-h"}, 0, false},
        {{"quillet", "--version"}, 0, false}, {{"quillet", "--bogus"}, 2, false},
        {{"quillet", "tasks.txt"}, 2, false}, {{"quillet", "--show-all=yes"}, 2, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        StartOptions options;
        EXPECT_EQ(parseCommandLine(c.arguments, &options), c.ends);
        if (!c.ends) {
            EXPECT_EQ(options.showAll, c.showAll);
        }
    }
}

const QDate kToday(2026, 12, 8);

struct PlanCase {
    const char *name;
    std::optional<QByteArray> file;  // none: no tasks.txt yet
    bool showAll;
    bool display;
    StartPlan::Next next;
    int exitCode;
};
void PrintTo(const PlanCase &c, std::ostream *os) { *os << c.name; }

class Plan : public testsupport::InTempFolder<::testing::TestWithParam<PlanCase>> { };

TEST_P(Plan, EachStartDoesWhatItsFileAndDisplayCallFor)
{
    const PlanCase &c = GetParam();
    if (c.file)
        testsupport::writeFile(QStringLiteral("tasks.txt"), *c.file);
    const QByteArray before = c.file.value_or(QByteArray());
    StartOptions options;
    options.showAll = c.showAll;
    const StartPlan plan = planStart(options, c.display);
    EXPECT_EQ(plan.next, c.next);
    EXPECT_EQ(plan.exitCode, c.exitCode);
    // A start never writes the task file.
    EXPECT_EQ(QFile::exists(QStringLiteral("tasks.txt")), c.file.has_value());
    if (c.file) {
        EXPECT_EQ(testsupport::readFile(QStringLiteral("tasks.txt")), before);
    }
}

const QByteArray kNothingDue = taskFile({dueOn("Later", kToday.addDays(30))}, {rule(3, true)});
const QByteArray kDue = taskFile({dueOn("Now", kToday)}, {rule(3, true)});
const QByteArray kNotes = "Buy milk\nCall Anna\n";

INSTANTIATE_TEST_SUITE_P(
    Start, Plan,
    ::testing::Values(
        PlanCase{"FirstRun", std::nullopt, false, true, StartPlan::ShowList, 0},
        PlanCase{"FirstRunWithoutDisplay", std::nullopt, false, false, StartPlan::End, 1},
        PlanCase{"NothingDue", kNothingDue, false, true, StartPlan::End, 0},
        PlanCase{"EmptyFile", QByteArray(), false, true, StartPlan::End, 0},
        PlanCase{"Due", kDue, false, true, StartPlan::ShowAlert, 0},
        PlanCase{"DueWithoutDisplay", kDue, false, false, StartPlan::End, 0},
        PlanCase{"ShowAllWhenDue", kDue, true, true, StartPlan::ShowList, 0},
        PlanCase{"ShowAllWhenNothingIsDue", kNothingDue, true, true, StartPlan::ShowList, 0},
        PlanCase{"ShowAllWithoutDisplay", kNothingDue, true, false, StartPlan::End, 1},
        PlanCase{"NotATaskFile", kNotes, false, true, StartPlan::Refuse, 1},
        PlanCase{"NotATaskFileWithoutDisplay", kNotes, false, false, StartPlan::End, 1},
        PlanCase{"NotATaskFileShowAll", kNotes, true, true, StartPlan::Refuse, 1}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(AnnouncedAsText, OneLineATaskInDueOrder)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tasks.txt"));
    testsupport::writeFile(
        path, taskFile({dueOn("Overdue", kToday.addDays(-3)), dueOn("Now", kToday),
                        dueOn("Binned", kToday, "Y"), dueOn("In two days", kToday.addDays(2)),
                        dueOn("Unannounced", kToday.addDays(9))},
                       {rule(3, true)}));
    ASSERT_TRUE(Module1::loadTasks(path));
    EXPECT_EQ(announcedAsText(Module1::today()),
              "Overdue, for Me, due December 05/26 at 9:05:00 AM: Late!\n"
              "Now, for Me, due December 08/26 at 9:05:00 AM: Today!\n"
              "In two days, for Me, due December 10/26 at 9:05:00 AM: 2 days left\n");
}

}  // namespace
