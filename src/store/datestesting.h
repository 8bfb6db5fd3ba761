#pragma once

// What tests and benchmarks reach into the dates module with; the program
// itself never calls these.
#include "store/dates.h"

#include <QLocale>
#include <QString>

#include <optional>

namespace Module1 {

// Pins today() to `fixed`; nothing: the clock again.
void setToday(std::optional<Days> fixed);

// The time and date texts as their fast path writes them for `format`, or
// nothing where it leaves the format to QLocale; for tests that hold it to
// QLocale.
std::optional<QString> compiledTimeText(const QString &format, const QLocale &locale, int hour,
                                        int minute, int second);
std::optional<QString> compiledDateText(const QString &format, const QLocale &locale, Days date);

}  // namespace Module1
