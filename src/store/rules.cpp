#include "store/rules.h"

#include <algorithm>

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

RuleWalk::RuleWalk(Days today) : m_today(today)
{
    m_skips = alertRuleCount > 0;
    m_widest = -99999;
    for (int i = 0; i < alertRuleCount; ++i) {
        const AlertRule &rule = alertRules[static_cast<size_t>(i)];
        m_skips = m_skips && rule.unit.size() == 1 && rule.unit.front() == u'd';
        m_widest = std::max<qint64>(m_widest, rule.interval);
    }
}

RuleMatch RuleWalk::of(const Task &task) const
{
    if (m_skips) {
        const qint64 left = daysLeft(task, m_today);
        if (left > m_widest) {
            // No rule counts; the weight is the last rule's, in days.
            RuleMatch m;
            m.bold = left < 1;
            return m;
        }
    }
    return matchRules(task, m_today);
}

}  // namespace Module1
