#pragma once

#include "store/tables.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <ostream>

// Readable failure output for the store's types.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

inline void PrintTo(const QByteArray &b, std::ostream *os) { *os << '"' << b.toStdString() << '"'; }

inline std::string dateText(std::chrono::sys_days d)
{
    const std::chrono::year_month_day ymd{d};
    return std::to_string(int(ymd.year())) + '-' + std::to_string(unsigned(ymd.month())) + '-' +
           std::to_string(unsigned(ymd.day()));
}

namespace Module1 {
inline void PrintTo(const Task &t, std::ostream *os)
{
    *os << "Task{" << t.title.toStdString() << '|' << t.forWhom.toStdString() << '|' << t.year
        << '-' << t.month << '-' << t.day << ' ' << t.hour << ':' << t.minute << ':' << t.second
        << '|' << t.description.toStdString() << '|' << t.dueText.toStdString() << '|'
        << t.sortKey.toStdString() << '|' << t.deleted.toStdString() << '}';
}
inline void PrintTo(const AlertRule &r, std::ostream *os)
{
    *os << "AlertRule{" << r.interval << ',' << r.unit.toStdString() << ',' << r.color << ','
        << r.popup << '}';
}
}  // namespace Module1
