#include "store/dates.h"

#include <QDate>
#include <QLocale>
#include <QRegularExpression>
#include <QTime>

#include <algorithm>
#include <array>
#include <vector>

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
    qint64 day;    // 1..31
};

// The inverse, for the units that count calendar years and months.
Civil civilFromDays(Days date)
{
    const qint64 z = date.time_since_epoch().count() + 719468;
    const qint64 era = floorDiv(z, 146097);
    const qint64 dayOfEra = z - era * 146097;
    const qint64 yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 mp = (5 * dayOfYear + 2) / 153;
    const qint64 month = mp < 10 ? mp + 3 : mp - 9;
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month,
            dayOfYear - (153 * mp + 2) / 5 + 1};
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
    if (unit == u"yyyy" || unit == u"q" || unit == u"m") {
        // Only these count calendar years and months.
        const auto [ya, ma, da] = civilFromDays(from);
        const auto [yb, mb, db] = civilFromDays(to);
        if (unit == u"yyyy")
            return yb - ya;
        if (unit == u"q")
            return (yb * 4 + (mb - 1) / 3) - (ya * 4 + (ma - 1) / 3);
        return (yb * 12 + mb) - (ya * 12 + ma);
    }
    if (unit == u"w")
        return dayCount / 7;  // whole weeks, towards zero
    if (unit == u"ww")
        return sundayWeekIndex(to) - sundayWeekIndex(from);
    if (unit == u"h")
        return dayCount * 24;
    if (unit == u"n")
        return dayCount * 24 * 60;
    if (unit == u"s")
        return dayCount * 24 * 3600;
    // "d", "y" and anything unknown or empty count calendar days.
    return dayCount;
}

namespace {

// A locale's date or time format split once into fields and literal text:
// the list and a load format a thousand due texts, and QLocale parses its
// format string again for every one. A format with anything this does not
// know (month names, time zones, other digits) is left to QLocale.
class CompiledFormat {
public:
    CompiledFormat() = default;
    CompiledFormat(const QString &format, const QLocale &locale)
    {
        m_usable = locale.zeroDigit() == QLatin1String("0") && compile(format);
        // Both cases made once: the list formats a time per row.
        m_amPm[0] = {locale.amText().toUpper(), locale.pmText().toUpper()};
        m_amPm[1] = {locale.amText().toLower(), locale.pmText().toLower()};
        for (int m = 1; m <= 12; ++m) {
            m_months[0][size_t(m - 1)] = locale.monthName(m, QLocale::ShortFormat);
            m_months[1][size_t(m - 1)] = locale.monthName(m, QLocale::LongFormat);
        }
    }
    bool usable() const { return m_usable; }

    QString date(int year, int month, int day) const
    {
        QString out;
        out.reserve(16);
        for (const Piece &p : m_pieces) {
            switch (p.field) {
            case 'd': appendNumber(out, day, p.width); break;
            case 'M':
                if (p.width <= 2)
                    appendNumber(out, month, p.width);
                else
                    out += m_months[size_t(p.width == 3 ? 0 : 1)][size_t(month - 1)];
                break;
            case 'y': appendNumber(out, p.width == 2 ? year % 100 : year, p.width); break;
            default: out += p.text; break;
            }
        }
        return out;
    }

    QString time(int hour, int minute, int second) const
    {
        QString out;
        out.reserve(16);
        const int hour12 = hour % 12 == 0 ? 12 : hour % 12;
        for (const Piece &p : m_pieces) {
            switch (p.field) {
            case 'h': appendNumber(out, m_hasAmPm ? hour12 : hour, p.width); break;
            case 'H': appendNumber(out, hour, p.width); break;
            case 'm': appendNumber(out, minute, p.width); break;
            case 's': appendNumber(out, second, p.width); break;
            case 'A': out += m_amPm[0][hour < 12 ? 0 : 1]; break;
            case 'a': out += m_amPm[1][hour < 12 ? 0 : 1]; break;
            default: out += p.text; break;
            }
        }
        return out;
    }

private:
    struct Piece {
        char field = 0;  // 0: literal text
        int width = 0;
        QString text;
    };

    // Values here are 0..9999, written without a temporary string.
    static void appendNumber(QString &out, int value, int width)
    {
        char digits[8];
        int n = 0;
        do {
            digits[n++] = char('0' + value % 10);
            value /= 10;
        } while (value > 0);
        for (int pad = n; pad < width; ++pad)
            out += QLatin1Char('0');
        while (n > 0)
            out += QLatin1Char(digits[--n]);
    }

    bool compile(const QString &format)
    {
        const qsizetype n = format.size();
        for (qsizetype i = 0; i < n;) {
            const QChar c = format[i];
            qsizetype run = 1;
            while (i + run < n && format[i + run] == c)
                ++run;
            if (c == u'\'') {
                // Quoted text; '' is one quote.
                const qsizetype end = format.indexOf(u'\'', i + 1);
                if (end < 0)
                    return false;
                m_pieces.push_back(
                    {0, 0, end == i + 1 ? QStringLiteral("'") : format.mid(i + 1, end - i - 1)});
                i = end + 1;
                continue;
            }
            const char field = c.toLatin1();
            const bool pair = run <= 2;
            if ((field == 'd' || field == 'M' || field == 'h' || field == 'H' || field == 'm' ||
                 field == 's') &&
                pair) {
                m_pieces.push_back({field, int(run), {}});
            } else if (field == 'M' && run <= 4) {
                m_pieces.push_back({field, int(run), {}});
            } else if (field == 'y' && (run == 2 || run == 4)) {
                m_pieces.push_back({field, int(run), {}});
            } else if ((c == u'A' || c == u'a') && run == 1) {
                const bool two = i + 1 < n && format[i + 1].toLower() == u'p';
                if (two && format[i + 1].isUpper() != c.isUpper())
                    return false;  // "Ap": the locale's own case
                m_pieces.push_back({field, 0, {}});
                m_hasAmPm = true;
                run = two ? 2 : 1;
            } else if (c.isLetter()) {
                return false;
            } else {
                m_pieces.push_back({0, 0, format.mid(i, run)});
            }
            i += run;
        }
        return true;
    }

    std::vector<Piece> m_pieces;
    std::array<std::array<QString, 2>, 2> m_amPm;     // upper, lower case; am, pm
    std::array<std::array<QString, 12>, 2> m_months;  // short, long
    bool m_hasAmPm = false;
    bool m_usable = false;
};

// The format of the default locale, made again when the locale changes.
struct LocaleFormat {
    QLocale locale{QLocale::C};
    QString format;
    CompiledFormat compiled;
    bool made = false;

    template <typename MakeFormat> void follow(const QLocale &current, MakeFormat makeFormat)
    {
        if (made && current == locale)
            return;
        locale = current;
        format = makeFormat(current);
        compiled = CompiledFormat(format, current);
        made = true;
    }
};

}  // namespace

QString longTimeText(int hour, int minute, int second)
{
    static LocaleFormat f;
    const QLocale locale;
    f.follow(locale, [](const QLocale &l) {
        static const QRegularExpression zoneToken(QStringLiteral("\\s*\\bt+\\b\\s*"));
        QString format = l.timeFormat(QLocale::LongFormat);
        format.replace(zoneToken, QStringLiteral(" "));
        return format.trimmed();
    });
    qint64 secs = timeSerial(hour, minute, second) % 86400;
    if (secs < 0)
        secs += 86400;
    const int h = int(secs / 3600), m = int(secs / 60 % 60), s = int(secs % 60);
    if (f.compiled.usable())
        return f.compiled.time(h, m, s);
    return locale.toString(QTime(h, m, s), f.format);
}

QString shortDateText(Days date)
{
    static LocaleFormat f;
    const QLocale locale;
    f.follow(locale, [](const QLocale &l) { return l.dateFormat(QLocale::ShortFormat); });
    const Civil c = civilFromDays(date);
    if (f.compiled.usable() && c.year >= 1000 && c.year <= 9999)
        return f.compiled.date(int(c.year), int(c.month), int(c.day));
    // QDate has no year 0: the calendar's year 0 is 1 BC, QDate's year -1.
    const QDate d(int(c.year > 0 ? c.year : c.year - 1), int(c.month), int(c.day));
    return locale.toString(d, f.format);
}

}  // namespace Module1
