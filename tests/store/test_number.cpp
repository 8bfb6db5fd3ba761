#include "printers.h"
#include "store/number.h"

#include <QString>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace Module1;

namespace {

struct NumberCase {
    const char *text;
    double value;
};

const NumberCase kNumbers[] = {
    // plain and padded
    {"7", 7},
    {"07", 7},
    {"  42", 42},
    {"1 2", 12},
    {"\t3\n4 ", 34},
    {" 1 2 3 ", 123},
    // past 32 bits, the integer fast path's edge
    {"999999999", 999999999},
    {"2147483647", 2147483647.0},
    {"2147483648", 2147483648.0},
    {"-2147483649", -2147483649.0},
    {"9999999999", 9999999999.0},
    // sign
    {"-7", -7},
    {"+7", 7},
    {"- 7", -7},
    {"--5", 0},
    {"-", 0},
    // stops at the first other character
    {"12abc", 12},
    {"1,5", 1},
    {"3-4", 3},
    {"2026/12/08", 2026},
    // no number
    {"", 0},
    {"abc", 0},
    {".", 0},
    {"x12", 0},
    {"0x10", 0},
    // fraction, rounded half to even
    {"6.5", 6},
    {"7.5", 8},
    {"0.5", 0},
    {".5", 0},
    {"1.5", 2},
    {"2.5", 2},
    {"-2.5", -2},
    {"-3.5", -4},
    {"2.4999", 2},
    {"2.51", 3},
    {"1.2.3", 1},
    // exponent, E or D
    {"1e3", 1000},
    {"1E3", 1000},
    {"1D2", 100},
    {"1d2", 100},
    {"1.5E1", 15},
    {"1E+2", 100},
    {"15E-1", 2},
    {"5E-1", 0},
    {"1 e 2", 100},
    {"1e", 1},
    {"2Ex", 2},
    // hexadecimal and octal
    {"&H10", 16},
    {"&HFF", 255},
    {"&H1A", 26},
    {"&O17", 15},
    {"&O8", 0},
    {"&H", 0},
    {"&H1Z", 1},
    {"& H 1 0", 16},
    {"&X1", 0},
};

TEST(TextToNumber, Table)
{
    for (const auto &c : kNumbers) {
        EXPECT_EQ(textToNumber(QString::fromUtf8(c.text)), c.value) << '"' << c.text << '"';
    }
}

TEST(TextToNumber, HugeInputsDoNotOverflowAndSaturate)
{
    const char *const huge[] = {"1e400", "123456789012345678901234567890",
                                "&HFFFFFFFFFFFFFFFFFFFFFFFF",
                                "99999999999999999999999999999999999999999999999999"};
    for (const char *text : huge) {
        const double v = textToNumber(QString::fromLatin1(text));
        EXPECT_FALSE(std::isnan(v)) << text;
        EXPECT_EQ(toInt16(v), 32767) << text;
        EXPECT_EQ(toInt32(v), std::numeric_limits<qint32>::max()) << text;
    }
    const double neg = textToNumber(QStringLiteral("-1e400"));
    EXPECT_EQ(toInt16(neg), -32768);
    EXPECT_EQ(toInt32(neg), std::numeric_limits<qint32>::min());
}

TEST(TextToNumber, OverlongDigitsSaturateInsteadOfVanishing)
{
    const QString nines(400, QLatin1Char('9'));
    EXPECT_EQ(toInt16(textToNumber(nines)), 32767);
    EXPECT_EQ(toInt16(textToNumber(QLatin1Char('-') + nines)), -32768);
    EXPECT_EQ(toInt16(textToNumber(QLatin1Char('1') + QString(400, QLatin1Char('0')) +
                                   QStringLiteral("e-50"))),
              32767);
    EXPECT_EQ(
        textToNumber(QStringLiteral("0.") + QString(400, QLatin1Char('0')) + QLatin1Char('1')), 0);
    EXPECT_EQ(textToNumber(QStringLiteral("0.") + QString(400, QLatin1Char('0')) +
                           QStringLiteral("1e402")),
              10);
}

TEST(TextToNumber, TinyExponentGivesZero) { EXPECT_EQ(textToNumber(QStringLiteral("1e-400")), 0); }

struct SaturateCase {
    double value;
    qint16 i16;
    qint32 i32;
};

const SaturateCase kSaturate[] = {
    {0, 0, 0},
    {-1, -1, -1},
    {32767, 32767, 32767},
    {32768, 32767, 32768},
    {-32768, -32768, -32768},
    {-32769, -32768, -32769},
    {40000, 32767, 40000},
    {2147483647.0, 32767, 2147483647},
    {2147483648.0, 32767, 2147483647},
    {-2147483649.0, -32768, std::numeric_limits<qint32>::min()},
    {1e300, 32767, 2147483647},
    {-1e300, -32768, std::numeric_limits<qint32>::min()},
    {std::numeric_limits<double>::infinity(), 32767, 2147483647},
};

TEST(Saturate, IntoFields)
{
    for (const auto &c : kSaturate) {
        EXPECT_EQ(toInt16(c.value), c.i16) << c.value;
        EXPECT_EQ(toInt32(c.value), c.i32) << c.value;
    }
}

}  // namespace
