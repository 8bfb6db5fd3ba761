#pragma once

#include "store/datestesting.h"

#include <QByteArray>
#include <QString>

#include <chrono>

namespace testsupport {

// The date every test runs on unless it pins another: Tuesday 2026-12-08.
inline constexpr std::chrono::year_month_day kToday{std::chrono::year{2026}, std::chrono::month{12},
                                                    std::chrono::day{8}};

// Clears the tables, pins today to kToday and the locale to US English.
void resetWorld();

QString testDataPath(const QString &name);
QByteArray readFile(const QString &path);
// What stands at a name, as ls -l tells it (a file with its owner and
// bytes): compared before and after, it shows what was replaced or
// written through.
QByteArray whatIsAt(const QString &path);
void writeFile(const QString &path, const QByteArray &bytes);

// A hang guard of `ms` on the build at hand: the sanitizer build runs a
// program several times slower, more so on a loaded machine.
constexpr int hangGuardMs(int ms)
{
#if defined(__SANITIZE_ADDRESS__)
    return ms * 5;
#else
    return ms;
#endif
}

}  // namespace testsupport
