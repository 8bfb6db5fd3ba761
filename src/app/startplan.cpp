#include "app/startplan.h"

#include "store/ordering.h"
#include "store/rules.h"
#include "store/systemtext.h"
#include "store/tables.h"

using namespace Module1;

QString announcedAsText(Days today)
{
    QString out;
    for (int i = 0; i < taskCount; ++i) {
        Task &task = tasks[static_cast<size_t>(i)];
        if (isDeleted(task) || !matchRules(task, today).announce)
            continue;
        out += QStringLiteral("%1, for %2, due %3: %4\n")
                   .arg(task.title, task.forWhom, dueMomentText(task),
                        daysLeftText(daysLeft(task, today)));
    }
    return out;
}

void reportRefusal(const StartPlan &plan)
{
    if (plan.exitCode != 0 && !plan.status.ok() && plan.status.code != FileStatus::Missing)
        complain(plan.status.error);
}

void reportPageFile(const FileStatus &file)
{
    if (!file.ok())
        complain(file.error);
}

StartPlan planStart(const StartOptions &options, bool displayAvailable)
{
    StartPlan plan;
    sortMode = 2;
    plan.status = loadTasks();
    const bool firstRun = plan.status.code == FileStatus::Missing;
    if (!plan.status.ok() && !firstRun) {
        plan.next = displayAvailable ? StartPlan::Refuse : StartPlan::End;
        plan.exitCode = 1;
        return plan;
    }
    if (!options.showAll) {
        // The page sorts the table by due date itself.
        plan.page = publishAlertPage();
        reportPageFile(plan.page.file);
        if (!plan.page.page.announced && !firstRun)
            return plan;
    }
    if (!displayAvailable) {
        if (plan.page.page.announced) {
            printTasksText(announcedAsText(today()));
            return plan;
        }
        complain(QStringLiteral("no display to show the task list on"));
        plan.exitCode = 1;
        return plan;
    }
    plan.next = firstRun || options.showAll ? StartPlan::ShowList : StartPlan::ShowAlert;
    return plan;
}
