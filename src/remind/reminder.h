#pragma once

#include "remind/notice.h"

#include <QByteArray>
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
//
// Every current task is notified when its due moment comes, whatever the
// rules; a task is also notified at the start of the day a popup rule
// first lists it on the alert page. A task put off ("Snooze", "Tomorrow")
// comes again then; what is put off is kept in a state file of its own, so
// that a reminder started later still brings it.
class Reminder {
public:
    struct Hooks {
        std::function<QDateTime()> now;
        std::function<void(const Notice &)> notify;
        // The next moment that will be notified, or none: nothing is due
        // ahead, only a clock change may bring one.
        std::function<void(std::optional<QDateTime>)> wakeAt;
        std::function<void(const QString &message)> warn;
    };

    // taskFile: the file to read; stateFile: where put-off tasks are kept
    // (none: kept in memory only).
    Reminder(Hooks hooks, QString taskFile, QString stateFile = {});

    // Reads the task file; due moments up to now are the start-up page's
    // business and are not notified. Tasks put off to a moment that passed
    // while no reminder ran come at once.
    void start();
    // The task file changed: what fell due with the tables as they were is
    // notified first, then the file is read again.
    void fileChanged();
    // The alarm rang: a due moment came, or the clock was set, or the
    // machine woke from suspend; whatever fell due meanwhile is notified.
    void wake();
    // The task of that key comes again at `until`.
    void putOff(const QByteArray &task, const QDateTime &until);
    // A notification's "Snooze": again kSnoozeMinutes from now, and its
    // "Tomorrow": again at this time tomorrow; now by the reminder's clock.
    void snooze(const QByteArray &task);
    void putOffUntilTomorrow(const QByteArray &task);
    static constexpr int kSnoozeMinutes = 10;

    std::optional<QDateTime> nextWake() const { return m_next; }

private:
    enum class Kind { Due, Listed, Again };
    // A task as the reminder sees it, worked out once per read: local times
    // cost a look at the time zone each.
    struct Due {
        qint64 moment = 0;  // ms since the epoch
        bool current = false;
        int slot = 0;
        QByteArray key;
    };
    struct Event {
        qint64 moment;
        Kind kind;
        const Due *due;
    };
    struct PutOff {
        qint64 until;
        QByteArray task;
    };
    using Notified = std::tuple<QByteArray, Kind, qint64>;

    void load();
    void notifyDue();
    // What was put off to a moment in (after, upTo].
    void addPutOff(qint64 after, qint64 upTo, std::vector<Event> *events) const;
    // In moment order; what was put off up to now is then done with.
    void notifyAll(std::vector<Event> *events, qint64 now);
    void notify(const Event &event, qint64 now);
    void schedule();
    // Tasks that a popup rule lists on `day` but not on the day before.
    std::vector<const Due *> listedFrom(qint64 beforeMs, qint64 atMs) const;
    // A popup rule and a current task it does not list today.
    bool mayBeListedLater() const;
    void readPutOff();
    void writePutOff();

    Hooks m_hooks;
    QString m_taskFile;
    QString m_stateFile;
    qint64 m_checkedUpTo = 0;     // every moment up to here (ms) was handled
    std::vector<Due> m_due;       // the tables' tasks, in slot order
    std::set<Notified> m_notified;  // so that a clock set back repeats nothing
    std::vector<PutOff> m_putOff;
    qint64 m_floodMinute = -1;    // the minute of the moments last notified
    int m_floodCount = 0;         // notified for that minute so far
    bool m_moreToSay = false;     // this batch went past the first few
    std::optional<QDateTime> m_next;
    QString m_lastError;
};

}  // namespace remind
