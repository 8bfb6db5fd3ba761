// --done, --restore, --delete and --edit: one task of the list, named by
// the number the last --list gave it, changed through the list's one
// transaction as the windows change it.
#include "app/tasknumbers.h"
#include "app/terminalcommands.h"

#include "store/listchange.h"
#include "store/ordering.h"
#include "store/taskids.h"

#include <optional>

using namespace Module1;

namespace {

// A number as --list prints it: digits alone, 1 or more.
std::optional<int> numberOf(const QString &text)
{
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (!ok || n < 1 || text.trimmed().startsWith(QLatin1Char('+')))
        return std::nullopt;
    return n;
}

const char *optionOf(StartOptions::Command command)
{
    switch (command) {
    case StartOptions::Done: return "--done";
    case StartOptions::Restore: return "--restore";
    case StartOptions::Delete: return "--delete";
    default: return "--edit";
    }
}

// What the one line after the change says.
struct Outcome {
    QString verb;     // "Recycled", ...
    QString title;    // the task's title, after an edit the new one
    QString changed;  // --edit: the fields it changed
};

QString quoted(const QString &title)
{
    return QLatin1Char('"') + visible(title) + QLatin1Char('"');
}

}  // namespace

int changeNumberedTask(const StartOptions &options)
{
    const char *option = optionOf(options.command);
    const std::optional<int> number = numberOf(options.number);
    if (!number) {
        complainOfUsage(QStringLiteral("%1 '%2' is not a task number; --list gives each task its "
                                       "number")
                            .arg(QLatin1String(option), options.number));
        return 2;
    }
    const bool edit = options.command == StartOptions::Edit;
    std::optional<DueMoment> due;
    if (edit) {
        if (!options.titleGiven && !options.dueGiven && !options.forGiven && !options.noteGiven) {
            complainOfUsage(QStringLiteral("--edit needs --title, --due, --for or --note"));
            return 2;
        }
        if (options.dueGiven && !(due = checkedDue(options.due)))
            return 2;
        if (!textsFit(options))
            return 2;
        if (options.titleGiven && options.title.trimmed().isEmpty()) {
            complain(QStringLiteral("--title needs a title"));
            return 2;
        }
    }

    int refusedWith = 1;
    Outcome outcome;
    Task before, after;  // the task the command took, and what it left
    bool gone = false;   // no longer in the view it was listed in
    const auto change = [&]() -> QString {
        sortAsTheList();
        const ListedTask listed = findListedTask(*number);
        if (listed.slot < 0)
            return listed.refusal;
        Task &task = tasks[size_t(listed.slot)];
        before = task;
        outcome = {};
        gone = false;
        switch (options.command) {
        case StartOptions::Done:
            if (isDeleted(task))
                return QStringLiteral("task %1 \"%2\" of %3 is recycled already")
                    .arg(*number)
                    .arg(visible(task.title), visible(taskFilePath()));
            task.deleted = QStringLiteral("Y");
            outcome.verb = QStringLiteral("Recycled");
            gone = true;
            break;
        case StartOptions::Restore:
            if (!isDeleted(task))
                return QStringLiteral("task %1 \"%2\" of %3 is not recycled")
                    .arg(*number)
                    .arg(visible(task.title), visible(taskFilePath()));
            task.deleted = QStringLiteral("N");
            outcome.verb = QStringLiteral("Restored");
            gone = true;
            break;
        case StartOptions::Delete:
            // For good only what is recycled, as the window's Delete.
            if (!isDeleted(task))
                return QStringLiteral(
                           "task %1 \"%2\" of %3 is not recycled: recycle it first with "
                           "'quillet --done %1', then delete it from the recycled "
                           "tasks ('quillet --list --recycled')")
                    .arg(*number)
                    .arg(visible(task.title), visible(taskFilePath()));
            for (int k = listed.slot; k < taskCount - 1; ++k)
                tasks[size_t(k)] = tasks[size_t(k + 1)];
            --taskCount;
            outcome.verb = QStringLiteral("Deleted");
            gone = true;
            break;
        default: {
            QStringList changed;
            if (options.titleGiven && task.title != options.title) {
                task.title = options.title;
                changed << QStringLiteral("title");
            }
            if (due) {
                Task moved = task;
                setDue(&moved, *due);
                if (identityOf(moved).due != identityOf(task).due)
                    changed << QStringLiteral("due");
                task = moved;
            }
            if (options.forGiven && task.forWhom != options.forWhom) {
                task.forWhom = options.forWhom;
                changed << QStringLiteral("for");
            }
            if (options.noteGiven && task.description != storedNote(options.note)) {
                task.description = storedNote(options.note);
                changed << QStringLiteral("note");
            }
            if (changed.isEmpty()) {
                refusedWith = 0;
                outcome = {QStringLiteral("Left"), task.title, {}};
                return QStringLiteral("unchanged");
            }
            task.dueText = makeDueText(task);
            task.sortKey = makeSortKey(task);
            outcome.verb = QStringLiteral("Changed");
            outcome.changed = changed.join(QStringLiteral(", "));
            break;
        }
        }
        if (options.command != StartOptions::Delete)
            after = task;
        outcome.title = options.command == StartOptions::Delete ? before.title : task.title;
        return {};
    };
    const auto afterSaved = [&]() -> QString {
        QStringList notices;
        // The task keeps its calendar UID through the edit.
        QString why;
        const std::vector<UidMove> moves = {{printOf(before), printOf(after)}};
        if (!refreshTaskUids(&why, edit ? moves : std::vector<UidMove>{}))
            notices << QStringLiteral("the tasks' calendar UIDs could not be kept: %1").arg(why);
        // The listing the user read goes on naming the other tasks.
        sortAsTheList();
        QByteArray key;
        if (!gone) {
            const int slot = findSameTask(after);
            if (slot >= 0)
                key = taskKeys()[size_t(slot)];
        }
        if (QString kept; !keepListingAfter(*number, key, &kept))
            notices << QStringLiteral("the task numbers could not be kept: %1").arg(kept);
        return notices.join(QLatin1Char('\n'));
    };

    const ChangeResult result = changeTaskList(change, afterSaved);
    if (result.status == ChangeResult::Refused && refusedWith == 0) {
        printTasksText(QStringLiteral("Left %1 %2 as it was in %3: nothing to change\n")
                           .arg(*number)
                           .arg(quoted(outcome.title), visible(taskFilePath())));
        return 0;
    }
    if (!result.message.isEmpty())
        complain(result.message);
    for (const QString &notice : result.notices)
        complain(notice);
    if (result.status == ChangeResult::Refused)
        return refusedWith;
    if (result.status != ChangeResult::Changed)
        return int(result.status);
    QString line =
        QStringLiteral("%1 %2 %3").arg(outcome.verb).arg(*number).arg(quoted(outcome.title));
    if (!outcome.changed.isEmpty())
        line += QStringLiteral(" (%1)").arg(outcome.changed);
    line += options.command == StartOptions::Delete ? QStringLiteral(" for good from ")
                                                    : QStringLiteral(" in ");
    printTasksText(line + visible(taskFilePath()) + QLatin1Char('\n'));
    return 0;
}
