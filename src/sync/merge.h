#pragma once

#include "sync/fields.h"

#include <QDateTime>

#include <optional>

namespace qsync {

// A three-way merge of one task, field by field, against `base` (the
// fields as both sides had them after the last sync; none when the task
// was never synced). A field changed on one side takes that side's value;
// changed on both to the same value is no conflict; changed on both to
// different values (or, without a base, simply different) keeps Quillet's
// value and puts the calendar's into a line at the end of the description.
// Clocks play no part.
struct Merged {
    Fields fields;
    bool conflict = false;
};
Merged mergeFields(const std::optional<Fields> &base, const Fields &local, const Fields &remote,
                   const QDateTime &now);

// The line a conflict adds: `Sync conflict 2026-12-09 14:02, the calendar
// had: title "…"; due "…"`.
QString conflictLine(const QDateTime &now, const QStringList &fields);

}  // namespace qsync
