#include "store/dates.h"

#include <QDate>
#include <QLocale>
#include <QRegularExpression>
#include <QTime>

#include <algorithm>
#include <limits>

namespace Module1 {

using namespace std::chrono;

namespace {

std::optional<Days> g_fixedToday;

qint64 floorDiv(qint64 a, qint64 b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

qint16 saturate16(qint64 v)
{
    return static_cast<qint16>(std::clamp<qint64>(v, std::numeric_limits<qint16>::min(),
                                                  std::numeric_limits<qint16>::max()));
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
    const qint64 monthIndex = static_cast<qint64>(y) * 12 + (m - 1);
    const qint64 carriedYear = floorDiv(monthIndex, 12);
    const auto carriedMonth = static_cast<unsigned>(monthIndex - carriedYear * 12 + 1);
    const sys_days first{year{static_cast<int>(carriedYear)} / month{carriedMonth} / day{1}};
    return first + days{static_cast<qint64>(d) - 1};
}

qint64 timeSerial(int hour, int minute, int second)
{
    return static_cast<qint64>(hour) * 3600 + static_cast<qint64>(minute) * 60 + second;
}

qint16 dateDiff(QStringView unit, Days from, Days to)
{
    const qint64 dayCount = (to - from).count();
    const year_month_day a{from};
    const year_month_day b{to};
    const qint64 ya = int(a.year()), yb = int(b.year());
    const qint64 ma = unsigned(a.month()), mb = unsigned(b.month());

    if (unit == u"yyyy")
        return saturate16(yb - ya);
    if (unit == u"q")
        return saturate16((yb * 4 + (mb - 1) / 3) - (ya * 4 + (ma - 1) / 3));
    if (unit == u"m")
        return saturate16((yb * 12 + mb) - (ya * 12 + ma));
    if (unit == u"w")
        return saturate16(dayCount / 7);  // whole weeks, towards zero
    if (unit == u"ww")
        return saturate16(sundayWeekIndex(to) - sundayWeekIndex(from));
    if (unit == u"h")
        return saturate16(dayCount * 24);
    if (unit == u"n")
        return saturate16(dayCount * 24 * 60);
    if (unit == u"s")
        return saturate16(dayCount * 24 * 3600);
    // "d", "y" and anything unknown or empty count calendar days.
    return saturate16(dayCount);
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
