#pragma once

#include "store/tables.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The five fields a task shares with a calendar's to-do, in the form both
// sides compare them in: texts with LF line ends, the due moment as an
// instant (seconds since the epoch), so that a due written in another zone
// or form is the same due when it names the same moment.
namespace qsync {

struct Fields {
    QString title, forWhom, description;
    qint64 due = 0;
    bool recycled = false;
    bool operator==(const Fields &) const = default;
};

Fields fieldsOf(const Module1::Task &task);
// `task` given the fields; its due numbers kept when the instant is the
// same, so a sync never rewrites a due it did not change.
void applyFields(Module1::Task &task, const Fields &fields);

// The to-do of one calendar resource: its UID and fields, or nothing when
// the resource holds no to-do a task can be (no due moment).
struct RemoteTodo {
    QString uid;
    Fields fields;
};
std::optional<RemoteTodo> readTodo(const QByteArray &resource);

// One field's name and value as the conflict line shows it.
QString fieldText(const Fields &fields, int field);
inline constexpr int kFieldCount = 5;

}  // namespace qsync
