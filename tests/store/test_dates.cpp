#include "printers.h"
#include "store/dates.h"
#include "store/datestesting.h"

#include <QDate>
#include <QList>
#include <QLocale>
#include <QTime>

#include <gtest/gtest.h>

using namespace Module1;
using namespace std::chrono;

namespace {

Days ymd(int y, unsigned m, unsigned d) { return Days{year{y} / month{m} / day{d}}; }

struct SerialCase {
    int y, m, d;
    Days expected;
};

TEST(DateSerial, CarriesOver)
{
    const SerialCase cases[] = {
        {2026, 3, 7, ymd(2026, 3, 7)},
        {2026, 13, 1, ymd(2027, 1, 1)},
        {2026, 25, 1, ymd(2028, 1, 1)},
        {2026, 0, 1, ymd(2025, 12, 1)},
        {2026, -1, 1, ymd(2025, 11, 1)},
        {2026, -12, 5, ymd(2024, 12, 5)},
        {2026, 3, 0, ymd(2026, 2, 28)},
        {2024, 3, 0, ymd(2024, 2, 29)},
        {2026, 1, 0, ymd(2025, 12, 31)},
        {2026, 1, -1, ymd(2025, 12, 30)},
        {2026, 1, 32, ymd(2026, 2, 1)},
        {2026, 2, 29, ymd(2026, 3, 1)},
        {2026, 12, 366, ymd(2027, 12, 1)},
        {2026, 13, 0, ymd(2026, 12, 31)},
        {0, 1, 1, ymd(0, 1, 1)},
        {0, 0, 1, ymd(-1, 12, 1)},
        {-5, 6, 15, ymd(-5, 6, 15)},
        // Carried past the 16 bits of a year: 400 years are 146097 days.
        {32767, 13, 1, ymd(32767, 12, 31) + days{1}},
        {32767, 32767, 32767, ymd(32767 - 4000 + 2730, 7, 1) + days{146097 * 10 + 32766}},
        {-32768, -32768, 1, ymd(-35499 + 4000, 4, 1) - days{146097 * 10}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(dateSerial(c.y, c.m, c.d), c.expected) << c.y << '/' << c.m << '/' << c.d;
}

TEST(TimeSerial, CarriesOver)
{
    struct {
        int h, m, s;
        qint64 seconds;
    } const cases[] = {
        {14, 5, 0, 50700},   {0, 75, 0, 4500},
        {25, 0, 0, 90000},   {0, 0, -1, -1},
        {-1, 0, 0, -3600},   {0, 0, 0, 0},
        {23, 59, 59, 86399}, {32767, 32767, 32767, 32767LL * 3661},
    };
    for (const auto &c : cases)
        EXPECT_EQ(timeSerial(c.h, c.m, c.s), c.seconds) << c.h << ':' << c.m << ':' << c.s;
}

struct DiffCase {
    const char *unit;
    Days from, to;
    qint64 expected;
};

// 2026-12-08 is a Tuesday, 2026-12-13 a Sunday.
const DiffCase kDiffs[] = {
    {"d", ymd(2026, 12, 8), ymd(2026, 12, 11), 3},
    {"d", ymd(2026, 12, 8), ymd(2026, 12, 1), -7},
    {"d", ymd(2026, 12, 8), ymd(2026, 12, 8), 0},
    {"", ymd(2026, 12, 8), ymd(2026, 12, 11), 3},
    {"x", ymd(2026, 12, 8), ymd(2026, 12, 11), 3},
    {"dd", ymd(2026, 12, 8), ymd(2026, 12, 11), 3},
    {"y", ymd(2026, 12, 8), ymd(2027, 1, 8), 31},
    {"yyyy", ymd(2026, 12, 31), ymd(2027, 1, 1), 1},
    {"yyyy", ymd(2026, 1, 1), ymd(2026, 12, 31), 0},
    {"yyyy", ymd(2026, 12, 8), ymd(2020, 12, 31), -6},
    {"q", ymd(2026, 12, 31), ymd(2027, 1, 1), 1},
    {"q", ymd(2026, 1, 1), ymd(2026, 3, 31), 0},
    {"q", ymd(2026, 3, 31), ymd(2026, 4, 1), 1},
    {"q", ymd(2026, 12, 8), ymd(2026, 1, 1), -3},
    {"m", ymd(2026, 1, 31), ymd(2026, 2, 1), 1},
    {"m", ymd(2026, 1, 1), ymd(2026, 1, 31), 0},
    {"m", ymd(2026, 12, 8), ymd(2025, 12, 8), -12},
    {"w", ymd(2026, 12, 8), ymd(2026, 12, 14), 0},
    {"w", ymd(2026, 12, 8), ymd(2026, 12, 15), 1},
    {"w", ymd(2026, 12, 8), ymd(2026, 12, 28), 2},
    {"w", ymd(2026, 12, 8), ymd(2026, 12, 29), 3},
    {"w", ymd(2026, 12, 8), ymd(2026, 12, 2), 0},
    {"w", ymd(2026, 12, 8), ymd(2026, 12, 1), -1},
    {"ww", ymd(2026, 12, 8), ymd(2026, 12, 12), 0},
    {"ww", ymd(2026, 12, 8), ymd(2026, 12, 13), 1},
    {"ww", ymd(2026, 12, 12), ymd(2026, 12, 13), 1},
    {"ww", ymd(2026, 12, 13), ymd(2026, 12, 19), 0},
    {"ww", ymd(2026, 12, 13), ymd(2026, 12, 20), 1},
    {"ww", ymd(2026, 12, 13), ymd(2026, 12, 12), -1},
    {"ww", ymd(2026, 12, 8), ymd(2026, 12, 6), 0},
    {"ww", ymd(2026, 12, 8), ymd(2026, 12, 5), -1},
    {"h", ymd(2026, 12, 8), ymd(2026, 12, 9), 24},
    {"h", ymd(2026, 12, 8), ymd(2026, 12, 6), -48},
    {"n", ymd(2026, 12, 8), ymd(2026, 12, 9), 1440},
    {"s", ymd(2026, 12, 8), ymd(2026, 12, 8), 0},
    // beyond 16 bits, counted exactly
    {"s", ymd(2026, 12, 8), ymd(2026, 12, 9), 86400},
    {"n", ymd(2026, 12, 31), ymd(2026, 12, 8), -33120},
    {"d", ymd(2026, 1, 1), ymd(2126, 1, 1), 36524},
    {"D", ymd(2126, 1, 1), ymd(2026, 1, 1), -36524},
    {"m", ymd(-30000, 1, 1), ymd(30000, 1, 1), 720000},
};

TEST(DateDiff, EveryUnit)
{
    for (const auto &c : kDiffs) {
        EXPECT_EQ(dateDiff(QString::fromLatin1(c.unit), c.from, c.to), c.expected)
            << '"' << c.unit << "\" " << dateText(c.from) << " -> " << dateText(c.to);
    }
}

TEST(LongTimeText, UsEnglish)
{
    struct {
        int h, m, s;
        const char *text;
    } const cases[] = {
        {14, 5, 0, "2:05:00 PM"}, {0, 0, 0, "12:00:00 AM"},    {12, 0, 0, "12:00:00 PM"},
        {9, 5, 7, "9:05:07 AM"},  {23, 59, 59, "11:59:59 PM"}, {24, 0, 0, "12:00:00 AM"},
        {0, 75, 0, "1:15:00 AM"}, {-1, 0, 0, "11:00:00 PM"},   {0, 0, 86401, "12:00:01 AM"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(longTimeText(c.h, c.m, c.s), QString::fromLatin1(c.text))
            << c.h << ':' << c.m << ':' << c.s;
}

// The whole text as the locale writes it, digits and AM/PM texts included.
TEST(LongTimeText, ZoneAndWhatBelongsToItGone)
{
    struct {
        const char *locale;
        int h, m, s;
        const char *text;
    } const cases[] = {
        {"de_DE", 14, 5, 0, "14:05:00"},            // "HH:mm:ss t"
        {"en_GB", 9, 5, 0, "09:05:00"},             // "HH:mm:ss t"
        {"es_ES", 9, 5, 7, "9:05:07"},              // "H:mm:ss (t)"
        {"es_ES", 0, 0, 0, "0:00:00"},              // "H:mm:ss (t)"
        {"ca_ES", 23, 59, 59, "23:59:59"},          // "H:mm:ss (t)"
        {"hr_HR", 9, 5, 7, "09:05:07"},             // "HH:mm:ss (t)"
        {"be_BY", 9, 5, 7, "09:05:07"},             // "HH:mm:ss, t"
        {"sq_AL", 21, 5, 7, "9:05:07 E PASDITES"},  // "h:mm:ss AP, t"
        {"bg_BG", 9, 5, 7, "9:05:07 ч."},           // "H:mm:ss 'ч'. t"
        {"zh_CN", 9, 5, 7, "09:05:07"},             // "t HH:mm:ss"
        {"yue_HK", 9, 5, 7, "上午9:05:07"},         // "APh:mm:ss [t]"
        {"nds_DE", 9, 5, 7, "Klock 9.05:07"},       // "'Klock' H.mm:ss (t)"
        // Extended Arabic-Indic digits: "H:mm:ss (t)"
        {"fa_IR", 9, 5, 7, "\u06F9:\u06F0\u06F5:\u06F0\u06F7"},
        {"fa_IR", 23, 59, 59, "\u06F2\u06F3:\u06F5\u06F9:\u06F5\u06F9"},
        // Arabic-Indic digits and the Arabic AM: "h:mm:ss AP t"
        {"ar_EG", 9, 5, 7, "\u0669:\u0660\u0665:\u0660\u0667 \u0635"},
    };
    for (const auto &c : cases) {
        QLocale::setDefault(QLocale(QString::fromLatin1(c.locale)));
        EXPECT_EQ(longTimeText(c.h, c.m, c.s), QString::fromUtf8(c.text))
            << c.locale << ' ' << c.h << ':' << c.m << ':' << c.s;
    }
}

// Hand-made patterns, written by the C locale at 09:05:07.
TEST(WithoutTimeZone, Patterns)
{
    struct {
        const char *format;
        const char *text;
    } const cases[] = {
        {"HH:mm:ss", "09:05:07"},
        {"HH:mm:ss t", "09:05:07"},
        {"HH:mm:ss tt", "09:05:07"},
        {"H:mm:ss (t)", "9:05:07"},
        {"H:mm:ss ( t )", "9:05:07"},
        {"H:mm:ss [t]", "9:05:07"},
        {"H:mm:ss\u00A0(t)", "9:05:07"},
        {"HH:mm:ss, t", "09:05:07"},
        {"h:mm:ss AP, t", "9:05:07 AM"},
        {"t HH:mm:ss", "09:05:07"},
        {"(t) HH:mm:ss", "09:05:07"},
        {"t, HH:mm:ss", "09:05:07"},
        {"HH:mm t ss", "09:05 07"},
        {"HH:mm (t), ss", "09:05 07"},
        {"HH:mm,t,ss", "09:05,07"},
        {"HH:mm:ss 't' t", "09:05:07 t"},
        {"'Klock' H.mm:ss (t)", "Klock 9.05:07"},
        {"H:mm:ss 'h' (t)", "9:05:07 h"},
        // Quotes: '' is a quote, inside a quoted part too; an open part runs to the end.
        {"h 'o''clock' t", "9 o'clock"},
        {"h 'o''clock' (t)", "9 o'clock"},
        {"'it''s' h:mm (t)", "it's 9:05"},
        {"''h t", "'9"},
        {"h '''' t", "9 ''"},  // '' twice, not a quoted quote
        {"h 'o'''", "9 o'"},
        {"h:mm 'at", "9:05 at"},
    };
    const QLocale c = QLocale::c();
    const QTime t(9, 5, 7);
    for (const auto &row : cases) {
        const QString format = withoutTimeZone(QString::fromUtf8(row.format));
        const QString expected = QString::fromUtf8(row.text);
        EXPECT_EQ(c.toString(t, format), expected) << row.format << " -> " << format.toStdString();
        EXPECT_EQ(compiledTimeText(format, c, 9, 5, 7).value_or(QStringLiteral("(QLocale's)")),
                  expected)
            << row.format;
    }
}

TEST(ShortDateText, FollowsTheLocale)
{
    EXPECT_EQ(shortDateText(ymd(2026, 12, 8)), QStringLiteral("12/8/26"));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(shortDateText(ymd(2026, 3, 7)), QStringLiteral("07.03.26"));
    QLocale::setDefault(QLocale(QLocale::Persian, QLocale::Iran));
    EXPECT_EQ(shortDateText(ymd(2026, 3, 7)),
              QStringLiteral("\u06F2\u06F0\u06F2\u06F6/\u06F3/\u06F7"));
}

TEST(ShortDateText, YearsUpToZeroAreStillShown)
{
    EXPECT_FALSE(shortDateText(ymd(0, 1, 1)).isEmpty());
    EXPECT_FALSE(shortDateText(ymd(-5, 6, 15)).isEmpty());
    EXPECT_NE(shortDateText(ymd(0, 1, 1)), shortDateText(ymd(-1, 1, 1)));
}

// Sets variables for one test and puts the old values back.
class Environment {
public:
    void set(const char *name, const char *value)
    {
        m_saved.push_back({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
        if (value)
            qputenv(name, value);
        else
            qunsetenv(name);
    }
    ~Environment()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->wasSet)
                qputenv(it->name, it->value);
            else
                qunsetenv(it->name);
        }
    }

private:
    struct Saved {
        const char *name;
        bool wasSet;
        QByteArray value;
    };
    std::vector<Saved> m_saved;
};

// Without a default locale of its own the program writes its texts wholly in
// the time locale; QLocale::system() would take the digits from LC_NUMERIC.
TEST(TimeLocale, TheWholeTextFromTheTimeLocale)
{
    struct {
        const char *all, *time, *lang;
        const char *locale, *timeText, *dateText;
    } const cases[] = {
        {nullptr, "ar_EG.UTF-8", "en_US.UTF-8", "ar_EG", "\u0669:\u0660\u0665:\u0660\u0667 \u0635",
         "\u0668\u200F/\u0661\u0662\u200F/\u0662\u0660\u0662\u0666"},
        {nullptr, "en_US.UTF-8", "ar_EG.UTF-8", "en_US", "9:05:07 AM", "12/8/26"},
        {nullptr, nullptr, "es_ES.UTF-8", "es_ES", "9:05:07", "8/12/26"},
        {"de_DE.UTF-8", "ar_EG.UTF-8", "en_US.UTF-8", "de_DE", "09:05:07", "08.12.26"},
        {nullptr, nullptr, nullptr, "C", "09:05:07", "8 Dec 2026"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.locale);
        Environment env;
        env.set("LC_ALL", c.all);
        env.set("LC_TIME", c.time);
        env.set("LANG", c.lang);
        // The texts read the environment again when the default locale changes.
        QLocale::setDefault(QLocale::c());
        longTimeText(0, 0, 0);
        shortDateText(ymd(2026, 1, 1));
        QLocale::setDefault(QLocale::system());
        EXPECT_EQ(timeLocale(), QLocale(QString::fromLatin1(c.locale)));
        EXPECT_EQ(longTimeText(9, 5, 7), QString::fromUtf8(c.timeText));
        EXPECT_EQ(shortDateText(ymd(2026, 12, 8)), QString::fromUtf8(c.dateText));
    }
}

TEST(TimeLocale, ADefaultLocaleWins)
{
    Environment env;
    env.set("LC_ALL", "ar_EG.UTF-8");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(timeLocale(), QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(longTimeText(9, 5, 7), QStringLiteral("09:05:07"));
}

bool isSeparator(QChar c)
{
    return c.isSpace() || c == u',' || c == u'\u060C' || QStringView(u"()[]").contains(c);
}

// What is left of a text with blanks, commas and brackets taken out.
QString letters(QString text)
{
    text.removeIf(isSeparator);
    return text;
}

QDate qdate(Days d)
{
    const year_month_day v{d};
    return QDate(int(v.year()), int(unsigned(v.month())), int(unsigned(v.day())));
}

// The last mend passed en_US and de_DE and still left "( )" in twenty
// locales: every locale Qt knows, against QLocale itself.
TEST(LocaleTexts, EveryLocaleAsQLocaleWritesIt)
{
    const QList<QLocale> all =
        QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    ASSERT_GT(all.size(), 500);
    const QTime times[] = {QTime(0, 0, 0), QTime(9, 5, 7), QTime(12, 0, 0), QTime(23, 59, 59)};
    const Days dates[] = {ymd(2026, 12, 8), ymd(2000, 2, 29),  ymd(1, 1, 1),
                          ymd(999, 5, 5),   ymd(1000, 10, 1),  ymd(9999, 12, 31),
                          ymd(10000, 1, 1), ymd(32767, 12, 31)};
    QStringList leftToQLocale;
    for (const QLocale &locale : all) {
        SCOPED_TRACE(locale.name().toStdString() + " " +
                     locale.timeFormat(QLocale::LongFormat).toStdString());
        QLocale::setDefault(locale);
        const QString timeFormat = withoutTimeZone(locale.timeFormat(QLocale::LongFormat));
        const QString dateFormat = locale.dateFormat(QLocale::ShortFormat);
        if (!compiledTimeText(timeFormat, locale, 0, 0, 0))
            leftToQLocale << locale.name() + QLatin1Char(' ') + timeFormat;
        if (!compiledDateText(dateFormat, locale, dates[0]))
            leftToQLocale << locale.name() + QLatin1Char(' ') + dateFormat;
        for (const QTime &t : times) {
            const QString text = longTimeText(t.hour(), t.minute(), t.second());
            EXPECT_EQ(text, locale.toString(t, timeFormat));
            const auto compiled =
                compiledTimeText(timeFormat, locale, t.hour(), t.minute(), t.second());
            if (compiled) {
                EXPECT_EQ(*compiled, text);
            }
            // Nothing but the zone and its separators gone.
            QString full = locale.toString(t, QLocale::LongFormat);
            const QString zone = locale.toString(t, QStringLiteral("t"));
            ASSERT_FALSE(zone.isEmpty());
            EXPECT_TRUE(full.contains(zone)) << full.toStdString();
            full.remove(full.lastIndexOf(zone), zone.size());
            EXPECT_EQ(letters(text), letters(full)) << text.toStdString();
            EXPECT_FALSE(text.contains(zone)) << text.toStdString();
            for (const char *debris : {"()", "( )", "[]", "[ ]", ",,"})
                EXPECT_FALSE(text.contains(QLatin1String(debris))) << text.toStdString();
            ASSERT_FALSE(text.isEmpty());
            for (const QChar end : {text.front(), text.back()})
                EXPECT_FALSE(end.isSpace() || end == u',' || end == u'\u060C')
                    << text.toStdString();
            for (qsizetype i = 1; i < text.size(); ++i)
                EXPECT_FALSE(text[i].isSpace() && text[i - 1].isSpace()) << text.toStdString();
        }
        for (const Days d : dates) {
            const QString text = shortDateText(d);
            EXPECT_EQ(text, locale.toString(qdate(d), dateFormat)) << dateText(d);
            const auto compiled = compiledDateText(dateFormat, locale, d);
            if (compiled) {
                EXPECT_EQ(*compiled, text) << dateText(d);
            }
        }
    }
    // The fast path must carry nearly all of them, or the test above proves little.
    EXPECT_LE(leftToQLocale.size(), 5) << leftToQLocale.join(QLatin1String(", ")).toStdString();
}

TEST(Today, PinnedByTests)
{
    EXPECT_EQ(today(), ymd(2026, 12, 8));
    setToday(ymd(2027, 2, 1));
    EXPECT_EQ(today(), ymd(2027, 2, 1));
}

}  // namespace
