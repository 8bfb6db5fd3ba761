#include "store/dates.h"
#include "store/datestesting.h"

#include <QDate>
#include <QLocale>
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

namespace {

// Julian day of 1970-01-01, where Days count from.
constexpr qint64 kUnixEpochJulianDay = 2440588;
constexpr qint64 kSecondsPerDay = 86400;

}  // namespace

QDate toQDate(Days date)
{
    return QDate::fromJulianDay(date.time_since_epoch().count() + kUnixEpochJulianDay);
}

Days fromQDate(const QDate &date) { return Days(days(date.toJulianDay() - kUnixEpochJulianDay)); }

WallTime wallTime(int year, int month, int day, int hour, int minute, int second)
{
    const qint64 seconds = timeSerial(hour, minute, second);
    // Whole days rounded down, so that a time before midnight (-1:00) lands
    // late in the day, not before it.
    const qint64 dayShift = seconds >= 0 ? seconds / kSecondsPerDay
                                         : -((-seconds + kSecondsPerDay - 1) / kSecondsPerDay);
    return {dateSerial(year, month, day), int(seconds - dayShift * kSecondsPerDay)};
}

WallTime dueWallTime(const Task &task)
{
    return wallTime(task.year, task.month, task.day, task.hour, task.minute, task.second);
}

QString isoText(const WallTime &wall)
{
    const Civil c = civilFromDays(wall.date);
    return QString::asprintf("%04lld-%02lld-%02lldT%02d:%02d:%02d", c.year, c.month, c.day,
                             wall.secondOfDay / 3600, wall.secondOfDay / 60 % 60,
                             wall.secondOfDay % 60);
}

namespace {

qint64 offsetAt(qint64 utcSeconds, const QTimeZone *zone)
{
    return zone ? zone->offsetFromUtc(QDateTime::fromSecsSinceEpoch(utcSeconds, Qt::UTC))
                : QDateTime::fromSecsSinceEpoch(utcSeconds).offsetFromUtc();
}

QDateTime inZone(qint64 utcSeconds, const QTimeZone *zone)
{
    return zone ? QDateTime::fromSecsSinceEpoch(utcSeconds, *zone)
                : QDateTime::fromSecsSinceEpoch(utcSeconds);
}

// The wall time's seconds as though it were UTC.
qint64 naiveSeconds(const QDate &date, const QTime &time)
{
    return (date.toJulianDay() - kUnixEpochJulianDay) * kSecondsPerDay +
           time.msecsSinceStartOfDay() / 1000;
}

}  // namespace

QDateTime momentAt(const QDate &date, const QTime &time, const QTimeZone *zone)
{
    const QDateTime plain = zone ? QDateTime(date, time, *zone) : QDateTime(date, time);
    if (!date.isValid() || !time.isValid())
        return plain;
    // The offset of a day before, which no two changes of the clocks are
    // ever that close to: Qt gives nothing for a skipped time, and the
    // second of a time that comes twice.
    const qint64 wall = naiveSeconds(date, time);
    const QDateTime before = inZone(wall - offsetAt(wall - kSecondsPerDay, zone), zone);
    if (!plain.isValid())
        return before;
    if (before < plain && before.date() == date && before.time() == time)
        return before;
    return plain;
}

QDateTime dueMoment(const Task &task)
{
    const WallTime wall = dueWallTime(task);
    return momentAt(toQDate(wall.date), wall.time());
}

std::optional<QTime> skippedUntil(const QDate &date, const QTime &time)
{
    if (QDateTime(date, time).isValid() || !date.isValid() || !time.isValid())
        return std::nullopt;
    const qint64 wall = naiveSeconds(date, time);
    const qint64 before = offsetAt(wall - kSecondsPerDay, nullptr);
    const qint64 after = offsetAt(wall - before, nullptr);
    if (after <= before)
        return std::nullopt;  // not a gap Qt and the offsets agree on
    // The change lies between the two readings of the wall time: find the
    // second where the offset turns.
    qint64 low = wall - after;    // still the old offset
    qint64 high = wall - before;  // already the new one
    while (high - low > 1) {
        const qint64 middle = low + (high - low) / 2;
        (offsetAt(middle, nullptr) == before ? low : high) = middle;
    }
    return QDateTime::fromSecsSinceEpoch(high).time();
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

// A pattern as QLocale reads it: runs of one ASCII letter (fields, or letters
// it writes as they stand), and literal text between them, quoted or not.
struct PatternPart {
    char16_t letter = 0;  // 0: literal text
    qsizetype run = 0;
    QString text;  // the literal text, quotes resolved
};

bool isAsciiLetter(QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

// Quoting as QLocale reads it: '' is a quote, inside a quoted part too; a
// part left open runs to the end.
std::vector<PatternPart> parsePattern(QStringView format)
{
    std::vector<PatternPart> parts;
    auto literal = [&parts]() -> QString & {
        if (parts.empty() || parts.back().letter != 0)
            parts.push_back({});
        return parts.back().text;
    };
    const qsizetype n = format.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = format[i];
        if (c == u'\'') {
            ++i;
            if (i < n && format[i] == u'\'') {
                literal() += u'\'';
                ++i;
                continue;
            }
            QString &text = literal();
            while (i < n) {
                if (format[i] != u'\'') {
                    text += format[i++];
                } else if (i + 1 < n && format[i + 1] == u'\'') {
                    text += u'\'';
                    i += 2;
                } else {
                    ++i;
                    break;
                }
            }
            continue;
        }
        qsizetype run = 1;
        while (i + run < n && format[i + run] == c)
            ++run;
        if (isAsciiLetter(c))
            parts.push_back({c.unicode(), run, {}});
        else
            literal() += format.mid(i, run);
        i += run;
    }
    return parts;
}

// Literal text written back so that QLocale reads it as the same text.
void appendLiteral(QString &out, QStringView text)
{
    qsizetype i = 0;
    // A quote right after an opening quote would read as '' outside quotes.
    for (; i < text.size() && text[i] == u'\''; ++i)
        out += QLatin1String("''");
    const QStringView rest = text.mid(i);
    if (std::none_of(rest.begin(), rest.end(),
                     [](QChar c) { return isAsciiLetter(c) || c == u'\''; })) {
        out += rest;
        return;
    }
    out += u'\'';
    for (const QChar c : rest) {
        if (c == u'\'')
            out += u'\'';
        out += c;
    }
    out += u'\'';
}

// Blanks around a time zone; bidi marks count too, as they only place it.
bool isBlank(QChar c) { return c.isSpace() || c.category() == QChar::Other_Format; }

bool isComma(QChar c) { return c == u',' || c == u'\u060C' || c == u'\uFF0C' || c == u'\u3001'; }

QChar closingBracket(QChar open)
{
    static constexpr std::array<std::pair<char16_t, char16_t>, 8> pairs = {{
        {u'(', u')'},
        {u'[', u']'},
        {u'{', u'}'},
        {u'\uFF08', u'\uFF09'},
        {u'\uFF3B', u'\uFF3D'},
        {u'\u3010', u'\u3011'},
        {u'\u3014', u'\u3015'},
        {u'\u300C', u'\u300D'},
    }};
    for (const auto &[o, c] : pairs) {
        if (open == o)
            return QChar(c);
    }
    return QChar();
}

template <typename Pred> qsizetype suffixLength(QStringView s, Pred pred)
{
    qsizetype k = 0;
    while (k < s.size() && pred(s[s.size() - 1 - k]))
        ++k;
    return k;
}

template <typename Pred> qsizetype prefixLength(QStringView s, Pred pred)
{
    qsizetype k = 0;
    while (k < s.size() && pred(s[k]))
        ++k;
    return k;
}

// Takes the zone field out of parts[zone] together with what belongs to it:
// blanks, the brackets around it, a comma before it. Between two pieces of
// text one blank stays. Returns where the parts after it now start.
size_t dropZone(std::vector<PatternPart> &parts, size_t zone)
{
    const bool litBefore = zone > 0 && parts[zone - 1].letter == 0;
    const bool litAfter = zone + 1 < parts.size() && parts[zone + 1].letter == 0;
    const QStringView fullBefore = litBefore ? QStringView(parts[zone - 1].text) : QStringView();
    const QStringView fullAfter = litAfter ? QStringView(parts[zone + 1].text) : QStringView();
    QStringView before = fullBefore;
    QStringView after = fullAfter;

    before.chop(suffixLength(before, isBlank));
    after = after.mid(prefixLength(after, isBlank));
    if (!before.isEmpty() && !after.isEmpty() && closingBracket(before.back()) == after.front()) {
        before.chop(1);
        after = after.mid(1);
    }
    auto isSeparator = [](QChar c) { return isBlank(c) || isComma(c); };
    before.chop(suffixLength(before, isSeparator));
    after = after.mid(prefixLength(after, isSeparator));

    const size_t first = litBefore ? zone - 1 : zone;
    const size_t last = litAfter ? zone + 1 : zone;
    QString joined = before.toString();
    if ((!before.isEmpty() || first > 0) && (!after.isEmpty() || last + 1 < parts.size())) {
        // The first blank that went, else a comma.
        const QStringView gone[] = {fullBefore.mid(before.size()),
                                    fullAfter.left(fullAfter.size() - after.size())};
        QChar keep;
        for (const QStringView side : gone) {
            for (const QChar c : side) {
                if (c.isSpace() && !keep.isSpace())
                    keep = c;
                else if (isComma(c) && keep.isNull())
                    keep = c;
            }
        }
        if (!keep.isNull())
            joined += keep;
    }
    joined += after;

    PatternPart merged{0, 0, std::move(joined)};
    parts.erase(parts.begin() + qsizetype(first), parts.begin() + qsizetype(last) + 1);
    if (!merged.text.isEmpty())
        parts.insert(parts.begin() + qsizetype(first), std::move(merged));
    return first;
}

}  // namespace

QString withoutTimeZone(QStringView timeFormat)
{
    std::vector<PatternPart> parts = parsePattern(timeFormat);
    for (size_t i = 0; i < parts.size();) {
        if (parts[i].letter == u't')
            i = dropZone(parts, i);
        else
            ++i;
    }
    QString out;
    out.reserve(timeFormat.size());
    for (const PatternPart &p : parts) {
        if (p.letter != 0)
            out += QString(p.run, QChar(p.letter));
        else
            appendLiteral(out, p.text);
    }
    return out;
}

QLocale timeLocale()
{
    const QLocale current;
    if (current != QLocale::system())
        return current;
    // QLocale::system() takes the formats and AM/PM texts from LC_TIME but
    // the digits from LC_NUMERIC, so one text would mix two locales; read
    // the time locale as Qt does and use it whole.
    QByteArray name = qgetenv("LC_ALL");
    if (name.isEmpty())
        name = qgetenv("LC_TIME");
    if (name.isEmpty())
        name = qgetenv("LANG");
    return name.isEmpty() ? QLocale::c() : QLocale(QString::fromLatin1(name));
}

namespace {

// A locale's date or time format split once into fields and literal text:
// the list and a load format a thousand due texts, and QLocale parses its
// format string again for every one. A format with anything this does not
// know (day names, time zones) is left to QLocale.
class CompiledFormat {
public:
    enum Kind { Date, Time };

    CompiledFormat() = default;
    CompiledFormat(const QString &format, const QLocale &locale, Kind kind)
    {
        m_usable = compile(format, kind);
        m_oneUnitDigits = true;
        for (int d = 0; d < 10; ++d) {
            m_digits[size_t(d)] = locale.toString(d);
            m_oneUnitDigits = m_oneUnitDigits && m_digits[size_t(d)].size() == 1;
        }
        // Both cases made once: the list formats a time per row.
        m_amPm[0] = {locale.amText().toUpper(), locale.pmText().toUpper()};
        m_amPm[1] = {locale.amText().toLower(), locale.pmText().toLower()};
        for (int m = 1; m <= 12; ++m) {
            m_months[0][size_t(m - 1)] = locale.monthName(m, QLocale::ShortFormat);
            m_months[1][size_t(m - 1)] = locale.monthName(m, QLocale::LongFormat);
        }
    }
    bool usable() const { return m_usable; }

    // Years from 1 on; QLocale writes the years before with a sign.
    QString date(qint64 year, int month, int day) const
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

    // In the locale's own digits, written without a temporary string.
    void appendNumber(QString &out, qint64 value, int width) const
    {
        char digits[20];
        int n = 0;
        do {
            digits[n++] = char(value % 10);
            value /= 10;
        } while (value > 0);
        for (int pad = n; pad < width; ++pad)
            appendDigit(out, 0);
        while (n > 0)
            appendDigit(out, digits[--n]);
    }

    void appendDigit(QString &out, char digit) const
    {
        // One QChar is cheaper to add than a string, for all but a few locales.
        if (m_oneUnitDigits)
            out += m_digits[size_t(digit)].front();
        else
            out += m_digits[size_t(digit)];
    }

    bool compile(const QString &format, Kind kind)
    {
        const std::vector<PatternPart> parts = parsePattern(format);
        for (size_t i = 0; i < parts.size(); ++i) {
            const PatternPart &p = parts[i];
            if (p.letter == 0) {
                m_pieces.push_back({0, 0, p.text});
                continue;
            }
            const char field = char(p.letter);
            const int run = int(std::min<qsizetype>(p.run, 8));
            if (kind == Time) {
                if ((field == 'h' || field == 'H' || field == 'm' || field == 's') && run <= 2) {
                    m_pieces.push_back({field, run, {}});
                } else if ((field == 'A' || field == 'a') && run == 1) {
                    // AP or ap; "Ap" keeps the locale's own case, which is left to QLocale.
                    const char p2 = field == 'A' ? 'P' : 'p';
                    if (i + 1 < parts.size() && QChar(parts[i + 1].letter).toLower() == u'p') {
                        if (parts[i + 1].letter != p2 || parts[i + 1].run != 1)
                            return false;
                        ++i;
                    }
                    m_pieces.push_back({field, 0, {}});
                    m_hasAmPm = true;
                } else {
                    return false;
                }
            } else if ((field == 'd' && run <= 2) || (field == 'M' && run <= 4) ||
                       (field == 'y' && (run == 2 || run == 4))) {
                m_pieces.push_back({field, run, {}});
            } else {
                return false;
            }
        }
        return true;
    }

    std::vector<Piece> m_pieces;
    std::array<QString, 10> m_digits;                 // as the locale writes 0 to 9
    bool m_oneUnitDigits = true;                      // none needs a surrogate pair
    std::array<std::array<QString, 2>, 2> m_amPm;     // upper, lower case; am, pm
    std::array<std::array<QString, 12>, 2> m_months;  // short, long
    bool m_hasAmPm = false;
    bool m_usable = false;
};

// The format of the time locale, made again when the default locale changes.
struct LocaleFormat {
    QLocale current{QLocale::C};  // the default locale it was made for
    QLocale locale{QLocale::C};   // the time locale
    QString format;
    CompiledFormat compiled;
    bool made = false;

    template <typename MakeFormat> void follow(CompiledFormat::Kind kind, MakeFormat makeFormat)
    {
        const QLocale now;
        if (made && now == current)
            return;
        current = now;
        locale = timeLocale();
        format = makeFormat(locale);
        compiled = CompiledFormat(format, locale, kind);
        made = true;
    }
};

}  // namespace

QTime wrappedTime(int hour, int minute, int second)
{
    qint64 secs = timeSerial(hour, minute, second) % 86400;
    if (secs < 0)
        secs += 86400;
    return QTime(int(secs / 3600), int(secs / 60 % 60), int(secs % 60));
}

QString longTimeText(int hour, int minute, int second)
{
    static LocaleFormat f;
    f.follow(CompiledFormat::Time,
             [](const QLocale &l) { return withoutTimeZone(l.timeFormat(QLocale::LongFormat)); });
    const QTime t = wrappedTime(hour, minute, second);
    if (f.compiled.usable())
        return f.compiled.time(t.hour(), t.minute(), t.second());
    return f.locale.toString(t, f.format);
}

QString shortDateText(Days date)
{
    static LocaleFormat f;
    f.follow(CompiledFormat::Date,
             [](const QLocale &l) { return l.dateFormat(QLocale::ShortFormat); });
    const Civil c = civilFromDays(date);
    if (f.compiled.usable() && c.year >= 1)
        return f.compiled.date(c.year, int(c.month), int(c.day));
    // QDate has no year 0: the calendar's year 0 is 1 BC, QDate's year -1.
    const QDate d(int(c.year > 0 ? c.year : c.year - 1), int(c.month), int(c.day));
    return f.locale.toString(d, f.format);
}

std::optional<QString> compiledTimeText(const QString &format, const QLocale &locale, int hour,
                                        int minute, int second)
{
    const CompiledFormat compiled(format, locale, CompiledFormat::Time);
    if (!compiled.usable())
        return std::nullopt;
    const QTime t = wrappedTime(hour, minute, second);
    return compiled.time(t.hour(), t.minute(), t.second());
}

std::optional<QString> compiledDateText(const QString &format, const QLocale &locale, Days date)
{
    const CompiledFormat compiled(format, locale, CompiledFormat::Date);
    const Civil c = civilFromDays(date);
    if (!compiled.usable() || c.year < 1)
        return std::nullopt;
    return compiled.date(c.year, int(c.month), int(c.day));
}

}  // namespace Module1
