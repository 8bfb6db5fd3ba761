#include "store/number.h"

#include <QString>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace Module1 {
namespace {

bool isSkipped(QChar c) { return c == u' ' || c == u'\t' || c == u'\n'; }

int digitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

double radixNumber(const QString &s, qsizetype pos, int radix)
{
    double value = 0;
    for (; pos < s.size(); ++pos) {
        const int digit = digitValue(s[pos]);
        if (digit < 0 || digit >= radix)
            break;
        value = value * radix + digit;
    }
    return value;
}

}  // namespace

double textToNumber(QStringView text)
{
    QString s;
    s.reserve(text.size());
    for (QChar c : text) {
        if (!isSkipped(c))
            s.append(c);
    }

    if (s.size() >= 2 && s[0] == u'&') {
        const QChar p = s[1].toUpper();
        if (p == u'H')
            return radixNumber(s, 2, 16);
        if (p == u'O')
            return radixNumber(s, 2, 8);
        return 0;
    }

    // Collect the longest prefix of the form [sign] digits [. digits] [E|D [sign] digits].
    std::string number;
    qsizetype i = 0;
    const qsizetype n = s.size();
    auto isAsciiDigit = [&](qsizetype k) { return k < n && s[k] >= u'0' && s[k] <= u'9'; };
    if (i < n && (s[i] == u'+' || s[i] == u'-')) {
        if (s[i] == u'-')
            number += '-';
        ++i;
    }
    bool anyDigit = false;
    while (isAsciiDigit(i)) {
        number += static_cast<char>(s[i++].unicode());
        anyDigit = true;
    }
    if (i < n && s[i] == u'.') {
        number += '.';
        ++i;
        while (isAsciiDigit(i)) {
            number += static_cast<char>(s[i++].unicode());
            anyDigit = true;
        }
    }
    if (!anyDigit)
        return 0;
    if (i < n && (s[i] == u'E' || s[i] == u'e' || s[i] == u'D' || s[i] == u'd')) {
        qsizetype k = i + 1;
        std::string exponent = "e";
        if (k < n && (s[k] == u'+' || s[k] == u'-'))
            exponent += static_cast<char>(s[k++].unicode());
        if (isAsciiDigit(k)) {
            while (isAsciiDigit(k))
                exponent += static_cast<char>(s[k++].unicode());
            number += exponent;
        }
    }
    // from_chars, not strtod: the C locale of a Qt program is the user's,
    // whose decimal separator may be a comma.
    double value = 0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range)
        value = number.find('e') != std::string::npos && number.find("e-") == std::string::npos
                    ? (number[0] == '-' ? -HUGE_VAL : HUGE_VAL)
                    : 0.0;
    // Halves go to the even neighbour (the default rounding mode).
    return std::nearbyint(value);
}

qint16 toInt16(double value)
{
    if (std::isnan(value))
        return 0;
    if (value <= std::numeric_limits<qint16>::min())
        return std::numeric_limits<qint16>::min();
    if (value >= std::numeric_limits<qint16>::max())
        return std::numeric_limits<qint16>::max();
    return static_cast<qint16>(value);
}

qint32 toInt32(double value)
{
    if (std::isnan(value))
        return 0;
    if (value <= std::numeric_limits<qint32>::min())
        return std::numeric_limits<qint32>::min();
    if (value >= std::numeric_limits<qint32>::max())
        return std::numeric_limits<qint32>::max();
    return static_cast<qint32>(value);
}

}  // namespace Module1
