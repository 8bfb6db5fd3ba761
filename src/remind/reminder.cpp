#include "remind/reminder.h"

#include "remind/duemoment.h"
#include "store/rules.h"
#include "store/tables.h"
#include "store/taskfile.h"

#include <algorithm>
#include <vector>

namespace remind {

using namespace Module1;

namespace {

// Notified when its moment comes: current, and the alert page would list it
// then (the rules are counted on its due date).
bool remindable(const Task &task)
{
    return !isDeleted(task) && matchRules(task, dueDate(task)).announce;
}

}  // namespace

Reminder::Reminder(Hooks hooks) : m_hooks(std::move(hooks)) { }

void Reminder::start()
{
    m_checkedUpTo = m_hooks.now();
    load();
    schedule();
}

void Reminder::fileChanged()
{
    notifyDue();
    load();
    schedule();
}

void Reminder::wake()
{
    notifyDue();
    schedule();
}

void Reminder::load()
{
    const FileStatus status = loadTasks();
    // A missing file is an empty list (a first run, or a sync tool between
    // removing and writing it). Anything else keeps the tables as they were
    // and is said once, not at every change of a file that stays broken.
    if (status.ok() || status.code == FileStatus::Missing) {
        m_lastError.clear();
    } else if (status.error != m_lastError) {
        m_lastError = status.error;
        m_hooks.warn(status.error);
    }

    // Only tasks still in the file need remembering.
    std::set<Key> kept;
    for (int i = 0; i < taskCount; ++i) {
        const Task &task = tasks[size_t(i)];
        const Key key{task.title, task.forWhom, dueMoment(task).toMSecsSinceEpoch()};
        if (m_notified.count(key))
            kept.insert(key);
    }
    m_notified.swap(kept);
}

void Reminder::notifyDue()
{
    const QDateTime now = m_hooks.now();
    if (now > m_checkedUpTo) {
        struct Due {
            QDateTime moment;
            const Task *task;
        };
        std::vector<Due> due;
        for (int i = 0; i < taskCount; ++i) {
            const Task &task = tasks[size_t(i)];
            const QDateTime moment = dueMoment(task);
            if (moment.isValid() && moment > m_checkedUpTo && moment <= now && remindable(task))
                due.push_back({moment, &task});
        }
        // After a suspend several may be due at once: in due order.
        std::stable_sort(due.begin(), due.end(),
                         [](const Due &a, const Due &b) { return a.moment < b.moment; });
        for (const Due &d : due) {
            const Key key{d.task->title, d.task->forWhom, d.moment.toMSecsSinceEpoch()};
            if (m_notified.insert(key).second)
                m_hooks.notify(d.task->title, reminderBody(*d.task));
        }
    }
    // Set back, the clock brings moments again: those already notified are
    // remembered, the others come when their moment does.
    m_checkedUpTo = now;
}

void Reminder::schedule()
{
    std::optional<QDateTime> next;
    for (int i = 0; i < taskCount; ++i) {
        const Task &task = tasks[size_t(i)];
        const QDateTime moment = dueMoment(task);
        if (moment.isValid() && moment > m_checkedUpTo && (!next || moment < *next) &&
            remindable(task) &&
            !m_notified.count({task.title, task.forWhom, moment.toMSecsSinceEpoch()}))
            next = moment;
    }
    m_next = next;
    m_hooks.wakeAt(next);
}

}  // namespace remind
