#include "printers.h"
#include "store/dates.h"

#include <QDate>
#include <QLocale>
#include <QRegularExpression>
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

TEST(LongTimeText, NoTimeZoneInOtherLocales)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(longTimeText(14, 5, 0), QStringLiteral("14:05:00"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    EXPECT_EQ(longTimeText(9, 5, 0), QStringLiteral("09:05:00"));
}

TEST(ShortDateText, FollowsTheLocale)
{
    EXPECT_EQ(shortDateText(ymd(2026, 12, 8)), QStringLiteral("12/8/26"));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(shortDateText(ymd(2026, 3, 7)), QStringLiteral("07.03.26"));
}

TEST(ShortDateText, YearsUpToZeroAreStillShown)
{
    EXPECT_FALSE(shortDateText(ymd(0, 1, 1)).isEmpty());
    EXPECT_FALSE(shortDateText(ymd(-5, 6, 15)).isEmpty());
    EXPECT_NE(shortDateText(ymd(0, 1, 1)), shortDateText(ymd(-1, 1, 1)));
}

// The date and time texts are made without QLocale's per-call parsing of
// its format; what they give must be what QLocale gives, in every locale.
TEST(LocaleTexts, SameAsQLocaleEverywhere)
{
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b\\s*"));
    for (const char *name :
         {"C",     "en_US", "en_GB", "de_DE", "fr_FR", "es_ES", "it_IT", "nl_NL", "pt_BR",
          "sv_SE", "fi_FI", "pl_PL", "cs_CZ", "hu_HU", "ru_RU", "tr_TR", "he_IL", "ja_JP",
          "zh_CN", "zh_TW", "ko_KR", "hi_IN", "th_TH", "ar_EG", "fa_IR", "bg_BG", "sq_AL"}) {
        SCOPED_TRACE(name);
        const QLocale locale{QString::fromLatin1(name)};
        QLocale::setDefault(locale);
        QString timeFormat = locale.timeFormat(QLocale::LongFormat);
        timeFormat.replace(zone, QStringLiteral(" "));
        timeFormat = timeFormat.trimmed();
        for (int secs = 0; secs < 86400; secs += 3599) {
            const QTime t = QTime(0, 0).addSecs(secs);
            ASSERT_EQ(longTimeText(t.hour(), t.minute(), t.second()),
                      locale.toString(t, timeFormat));
        }
        for (const Days d : {ymd(2026, 12, 8), ymd(1999, 1, 31), ymd(1000, 10, 1),
                             ymd(9999, 12, 31), ymd(2005, 5, 5), ymd(2000, 2, 29)}) {
            const year_month_day v{d};
            const QDate q(int(v.year()), int(unsigned(v.month())), int(unsigned(v.day())));
            ASSERT_EQ(shortDateText(d), locale.toString(q, QLocale::ShortFormat));
        }
    }
}

TEST(Today, PinnedByTests)
{
    EXPECT_EQ(today(), ymd(2026, 12, 8));
    setToday(ymd(2027, 2, 1));
    EXPECT_EQ(today(), ymd(2027, 2, 1));
}

}  // namespace
