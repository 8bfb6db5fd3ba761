#pragma once

#include <QByteArray>
#include <QString>

namespace remind {

// One notification as the reminder wants it shown.
struct Notice {
    QString summary;
    QString body;           // plain text
    bool critical = false;  // overdue when the reminder learnt of it
    QByteArray task;        // the task's key; empty: the whole list
    // "N more tasks due": it takes the place of the last such one still
    // shown rather than adding another.
    bool group = false;

    bool operator==(const Notice &) const = default;
};

// Shown this long after its moment (a machine that slept, a service that
// was away, a task put off), a task's notice is late and marked urgent.
inline constexpr qint64 kLateMs = 60'000;

}  // namespace remind
