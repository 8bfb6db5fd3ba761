#include "app/startplan.h"

#include "store/ordering.h"
#include "store/rules.h"
#include "store/tables.h"

#include <cstdio>

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
    // A NUL in a title: shown as the page shows a character it cannot.
    out.replace(QChar(0), QChar::ReplacementCharacter);
    return out;
}

void reportRefusal(const StartPlan &plan)
{
    if (plan.exitCode != 0 && !plan.status.ok() && plan.status.code != FileStatus::Missing)
        std::fprintf(stderr, "quillet: %s\n", qPrintable(plan.status.error));
}

void reportPageFile(const FileStatus &file)
{
    if (!file.ok())
        std::fprintf(stderr, "quillet: %s\n", qPrintable(file.error));
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
            // Whole, whatever the titles hold: a NUL must not end the output.
            const QByteArray text = announcedAsText(today()).toLocal8Bit();
            std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
            return plan;
        }
        std::fprintf(stderr, "quillet: no display to show the task list on\n");
        plan.exitCode = 1;
        return plan;
    }
    plan.next = firstRun || options.showAll ? StartPlan::ShowList : StartPlan::ShowAlert;
    return plan;
}
