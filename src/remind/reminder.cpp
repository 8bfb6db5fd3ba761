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
    m_checkedUpTo = m_hooks.now().toMSecsSinceEpoch();
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

Reminder::Key Reminder::keyOf(const Due &due) const
{
    const Task &task = tasks[size_t(due.slot)];
    return {task.title, task.forWhom, due.moment};
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

    m_due.clear();
    for (int i = 0; i < taskCount; ++i) {
        const Task &task = tasks[size_t(i)];
        const QDateTime moment = dueMoment(task);
        m_due.push_back({moment.toMSecsSinceEpoch(), moment.isValid() && remindable(task), i});
    }
    // Only tasks still in the file need remembering.
    std::set<Key> kept;
    for (const Due &due : m_due) {
        if (m_notified.count(keyOf(due)))
            kept.insert(keyOf(due));
    }
    m_notified.swap(kept);
}

void Reminder::notifyDue()
{
    const qint64 now = m_hooks.now().toMSecsSinceEpoch();
    if (now > m_checkedUpTo) {
        std::vector<const Due *> due;
        for (const Due &d : m_due) {
            if (d.remindable && d.moment > m_checkedUpTo && d.moment <= now)
                due.push_back(&d);
        }
        // After a suspend several may be due at once: in due order.
        std::stable_sort(due.begin(), due.end(),
                         [](const Due *a, const Due *b) { return a->moment < b->moment; });
        for (const Due *d : due) {
            if (m_notified.insert(keyOf(*d)).second) {
                const Task &task = tasks[size_t(d->slot)];
                m_hooks.notify(task.title, reminderBody(task));
            }
        }
    }
    // Set back, the clock brings moments again: those already notified are
    // remembered, the others come when their moment does.
    m_checkedUpTo = now;
}

void Reminder::schedule()
{
    std::optional<qint64> next;
    for (const Due &d : m_due) {
        if (d.remindable && d.moment > m_checkedUpTo && (!next || d.moment < *next) &&
            !m_notified.count(keyOf(d)))
            next = d.moment;
    }
    m_next.reset();
    if (next)
        m_next = QDateTime::fromMSecsSinceEpoch(*next);
    m_hooks.wakeAt(m_next);
}

}  // namespace remind
