#pragma once

#include "store/dates.h"
#include "store/tables.h"

#include <optional>

namespace Module1 {

// What the colour-and-alert rules make of one task: the list's colour and
// weight, and whether the alert page announces it. Both come from one walk
// of the rules in table order: a rule counts when the task is due within its
// interval (or overdue) and no rule before it that counted had a smaller
// interval.
struct RuleMatch {
    bool colored = false;      // some rule counts
    qint32 color = 0;          // the last counting rule's colour
    bool announce = false;     // some counting rule has popup on
    qint32 announceColor = 0;  // the last counting rule with popup on
    // Due within one unit (today, for days) or overdue, counted in the last
    // rule's unit; none without rules, which leaves a row's weight alone.
    std::optional<bool> bold;
};

// `today` is passed in so that a whole list or page uses one day.
RuleMatch matchRules(const Task &task, Days today);

// matchRules for many tasks on one day, the rules read once: a task due
// later than every rule's interval, all rules in whole days, needs no walk
// (the plain start at login mostly finds every task so).
class RuleWalk {
public:
    explicit RuleWalk(Days today);
    RuleMatch of(const Task &task) const;

private:
    Days m_today;
    bool m_skips = false;  // some rule, and all of them in days
    qint64 m_widest = 0;   // the largest interval
};

// Calendar days from today to the task's due day; negative when overdue.
inline qint64 daysLeft(const Task &task, Days today)
{
    return (dateSerial(task.year, task.month, task.day) - today).count();
}

}  // namespace Module1
