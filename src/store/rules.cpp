#include "store/rules.h"

namespace Module1 {

RuleMatch matchRules(const Task &task, Days today)
{
    RuleMatch m;
    const Days due = dateSerial(task.year, task.month, task.day);
    const qint64 dayCount = daysLeft(task, today);
    qint64 best = 99999;  // above any 16-bit interval
    for (int i = 0; i < alertRuleCount; ++i) {
        const AlertRule &rule = alertRules[static_cast<size_t>(i)];
        // Whole days, the unit the program itself creates, skip the general
        // difference: this runs rows x rules times on every selection.
        const bool days = rule.unit.size() == 1 && rule.unit.front() == u'd';
        const qint64 left = days ? dayCount : dateDiff(rule.unit, today, due);
        if (rule.interval <= best && left <= rule.interval) {
            best = rule.interval;
            m.colored = true;
            m.color = rule.color;
            if (rule.popup) {
                m.announce = true;
                m.announceColor = rule.color;
            }
        }
        m.bold = left < 1;
    }
    return m;
}

}  // namespace Module1
