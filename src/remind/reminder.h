#pragma once

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>
#include <set>
#include <tuple>
#include <vector>

namespace remind {

// Decides which task to notify when, from the task tables and the clock it
// is given; the desktop, the alarm and the file watch are hooks, so that
// tests can drive it with their own clock.
class Reminder {
public:
    struct Hooks {
        std::function<QDateTime()> now;
        std::function<void(const QString &summary, const QString &body)> notify;
        // The next due moment that will be notified, or none: nothing is
        // due ahead, only a clock change may bring one.
        std::function<void(std::optional<QDateTime>)> wakeAt;
        std::function<void(const QString &message)> warn;
    };

    explicit Reminder(Hooks hooks);

    // Reads the task file; due moments up to now are the start-up page's
    // business and are not notified.
    void start();
    // The task file changed: what fell due with the tables as they were is
    // notified first, then the file is read again.
    void fileChanged();
    // The alarm rang: a due moment came, or the clock was set, or the
    // machine woke from suspend; whatever fell due meanwhile is notified.
    void wake();

    std::optional<QDateTime> nextWake() const { return m_next; }

private:
    using Key = std::tuple<QString, QString, qint64>;  // title, for, due moment
    // A task as the reminder sees it, worked out once per read: local times
    // cost a look at the time zone each.
    struct Due {
        qint64 moment = 0;  // ms since the epoch
        bool remindable = false;
        int slot = 0;
    };

    Key keyOf(const Due &due) const;
    void load();
    void notifyDue();
    void schedule();

    Hooks m_hooks;
    qint64 m_checkedUpTo = 0;  // every due moment up to here (ms) was handled
    std::vector<Due> m_due;    // the tables' tasks, in slot order
    std::set<Key> m_notified;  // so that a clock set back repeats nothing
    std::optional<QDateTime> m_next;
    QString m_lastError;
};

}  // namespace remind
