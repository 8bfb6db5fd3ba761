#include "store/dates.h"

#include <QDate>
#include <QLocale>
#include <QRegularExpression>
#include <QTime>

#include <algorithm>

namespace Module1 {

using namespace std::chrono;

namespace {

std::optional<Days> g_fixedToday;

qint64 floorDiv(qint64 a, qint64 b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days since 1970-01-01 of a proleptic Gregorian date, for any 64-bit year
// (the days-from-civil algorithm: eras of 400 years, years from March).
qint64 daysFromCivil(qint64 y, qint64 m, qint64 d)
{
    y -= m <= 2 ? 1 : 0;
    const qint64 era = floorDiv(y, 400);
    const qint64 yearOfEra = y - era * 400;
    const qint64 dayOfYear = (153 * ((m + 9) % 12) + 2) / 5 + d - 1;
    const qint64 dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

struct Civil {
    qint64 year;
    qint64 month;  // 1..12
};

// The inverse, for the units that count calendar years and months.
Civil civilFromDays(Days date)
{
    const qint64 z = date.time_since_epoch().count() + 719468;
    const qint64 era = floorDiv(z, 146097);
    const qint64 dayOfEra = z - era * 146097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 mp = (5 * dayOfYear + 2) / 153;
    const qint64 month = mp < 10 ? mp + 3 : mp - 9;
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month};
}

// Days since the Sunday that starts the week of `d`.
qint64 sundayWeekIndex(Days d)
{
    // 1970-01-01 was a Thursday, so 1969-12-28 (day -4) was a Sunday.
    return floorDiv(d.time_since_epoch().count() + 4, 7);
}

}  // namespace

Days today()
{
    if (g_fixedToday)
        return *g_fixedToday;
    const QDate d = QDate::currentDate();
    return sys_days{year{d.year()} / month{static_cast<unsigned>(d.month())} /
                    day{static_cast<unsigned>(d.day())}};
}

void setToday(std::optional<Days> fixed) { g_fixedToday = fixed; }

Days dateSerial(int y, int m, int d)
{
    // In 64 bits throughout: a carried-over year can lie outside the
    // 16 bits of std::chrono::year, which would wrap.
    const qint64 monthIndex = static_cast<qint64>(y) * 12 + (m - 1);
    const qint64 carriedYear = floorDiv(monthIndex, 12);
    const qint64 carriedMonth = monthIndex - carriedYear * 12 + 1;
    return Days{days{daysFromCivil(carriedYear, carriedMonth, 1) + static_cast<qint64>(d) - 1}};
}

qint64 timeSerial(int hour, int minute, int second)
{
    return static_cast<qint64>(hour) * 3600 + static_cast<qint64>(minute) * 60 + second;
}

qint64 dateDiff(QStringView unit, Days from, Days to)
{
    const qint64 dayCount = (to - from).count();
    const auto [ya, ma] = civilFromDays(from);
    const auto [yb, mb] = civilFromDays(to);

    if (unit == u"yyyy")
        return (yb - ya);
    if (unit == u"q")
        return ((yb * 4 + (mb - 1) / 3) - (ya * 4 + (ma - 1) / 3));
    if (unit == u"m")
        return ((yb * 12 + mb) - (ya * 12 + ma));
    if (unit == u"w")
        return (dayCount / 7);  // whole weeks, towards zero
    if (unit == u"ww")
        return (sundayWeekIndex(to) - sundayWeekIndex(from));
    if (unit == u"h")
        return (dayCount * 24);
    if (unit == u"n")
        return (dayCount * 24 * 60);
    if (unit == u"s")
        return (dayCount * 24 * 3600);
    // "d", "y" and anything unknown or empty count calendar days.
    return (dayCount);
}

QString longTimeText(int hour, int minute, int second)
{
    // The format is derived once per locale: the list formats a time per row.
    static QLocale cachedLocale(QLocale::C);
    static QString format;
    const QLocale locale;
    if (format.isEmpty() || locale != cachedLocale) {
        static const QRegularExpression zoneToken(QStringLiteral("\\s*\\bt+\\b\\s*"));
        format = locale.timeFormat(QLocale::LongFormat);
        format.replace(zoneToken, QStringLiteral(" "));
        format = format.trimmed();
        cachedLocale = locale;
    }
    qint64 secs = timeSerial(hour, minute, second) % 86400;
    if (secs < 0)
        secs += 86400;
    return locale.toString(QTime(0, 0).addSecs(secs), format);
}

QString shortDateText(Days date)
{
    const year_month_day ymd{date};
    // QDate has no year 0: chrono's year 0 is 1 BC, QDate's year -1.
    const int y = int(ymd.year());
    const QDate d(y > 0 ? y : y - 1, static_cast<int>(unsigned(ymd.month())),
                  static_cast<int>(unsigned(ymd.day())));
    return QLocale().toString(d, QLocale::ShortFormat);
}

}  // namespace Module1
