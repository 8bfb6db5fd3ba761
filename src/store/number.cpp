#include "store/number.h"

#include <QString>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

namespace Module1 {
namespace {

bool isSkipped(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n'; }

int digitValue(char16_t u)
{
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Walks the text with blanks, tabs and line feeds skipped wherever they stand.
struct Cursor {
    const char16_t *p;
    const char16_t *end;
    void skip()
    {
        while (p < end && isSkipped(*p))
            ++p;
    }
    char16_t peek()
    {
        skip();
        return p < end ? *p : u'\0';
    }
    void advance()
    {
        skip();
        ++p;
    }
    bool digit()
    {
        const char16_t c = peek();
        return c >= u'0' && c <= u'9';
    }
};

double radixNumber(Cursor &c, int radix)
{
    double value = 0;
    for (;;) {
        const int d = digitValue(c.peek());
        if (d < 0 || d >= radix)
            return value;
        value = value * radix + d;
        c.advance();
    }
}

// The common case, a plain integer as the writer puts it: seven in every
// task record. Nine digits at most, so it cannot overflow.
std::optional<qint32> plainInteger(QStringView text)
{
    const bool negative = !text.isEmpty() && text.front() == u'-';
    const qsizetype digits = text.size() - (negative ? 1 : 0);
    if (digits < 1 || digits > 9)
        return std::nullopt;
    qint32 value = 0;
    for (qsizetype i = text.size() - digits; i < text.size(); ++i) {
        const char16_t d = text[i].unicode();
        if (d < u'0' || d > u'9')
            return std::nullopt;
        value = value * 10 + (d - u'0');
    }
    return negative ? -value : value;
}

}  // namespace

double textToNumber(QStringView text)
{
    if (const std::optional<qint32> plain = plainInteger(text))
        return *plain;
    Cursor c{reinterpret_cast<const char16_t *>(text.utf16()),
             reinterpret_cast<const char16_t *>(text.utf16()) + text.size()};

    if (c.peek() == u'&') {
        c.advance();
        const char16_t p = c.peek();
        if (p == u'H' || p == u'h') {
            c.advance();
            return radixNumber(c, 16);
        }
        if (p == u'O' || p == u'o') {
            c.advance();
            return radixNumber(c, 8);
        }
        return 0;
    }

    // The longest prefix of the form [sign] digits [. digits] [E|D [sign] digits].
    // Short plain numbers fit the string's inline buffer, so nothing is allocated.
    std::string number;
    if (c.peek() == u'+' || c.peek() == u'-') {
        if (c.peek() == u'-')
            number += '-';
        c.advance();
    }
    bool anyDigit = false;
    qint64 magnitude = 0;  // decimal position of the leading digit, for overflow
    bool leading = true;
    qint64 whole = 0;
    while (c.digit()) {
        const char16_t d = c.peek();
        if (!(leading && d == u'0')) {
            leading = false;
            ++magnitude;
        }
        whole = whole * 10 + (d - u'0');
        number += char(d);
        c.advance();
        anyDigit = true;
        if (magnitude > 15)
            break;  // beyond exact integers: the general path below
    }
    if (anyDigit && magnitude <= 15) {
        // Most numbers in a task file are plain integers.
        const char16_t next = c.peek();
        if (next != u'.' && next != u'E' && next != u'e' && next != u'D' && next != u'd' &&
            !(next >= u'0' && next <= u'9'))
            return number[0] == '-' ? -double(whole) : double(whole);
    }
    while (c.digit()) {
        const char16_t d = c.peek();
        ++magnitude;
        number += char(d);
        c.advance();
    }
    if (c.peek() == u'.') {
        number += '.';
        c.advance();
        while (c.digit()) {
            const char16_t d = c.peek();
            if (leading && d == u'0')
                --magnitude;
            else
                leading = false;
            number += char(d);
            c.advance();
            anyDigit = true;
        }
    }
    if (!anyDigit)
        return 0;
    const char16_t e = c.peek();
    if (e == u'E' || e == u'e' || e == u'D' || e == u'd') {
        Cursor k = c;
        k.advance();
        std::string exponent = "e";
        if (k.peek() == u'+' || k.peek() == u'-') {
            exponent += char(k.peek());
            k.advance();
        }
        if (k.digit()) {
            qint64 expValue = 0;
            while (k.digit()) {
                expValue = std::min<qint64>(expValue * 10 + (k.peek() - u'0'), 1'000'000'000);
                exponent += char(k.peek());
                k.advance();
            }
            number += exponent;
            magnitude += exponent[1] == '-' ? -expValue : expValue;
        }
    }
    // from_chars, not strtod: the C locale of a Qt program is the user's,
    // whose decimal separator may be a comma.
    double value = 0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Too large saturates, too small is 0.
        value = magnitude > 0 ? HUGE_VAL : 0.0;
        if (number[0] == '-')
            value = -value;
    }
    // Halves go to the even neighbour (the default rounding mode).
    return std::nearbyint(value);
}

namespace {

// The nearest value the field can hold; NaN reads as 0.
template <typename Field> Field saturated(double value)
{
    if (std::isnan(value))
        return 0;
    if (value <= std::numeric_limits<Field>::min())
        return std::numeric_limits<Field>::min();
    if (value >= std::numeric_limits<Field>::max())
        return std::numeric_limits<Field>::max();
    return static_cast<Field>(value);
}

}  // namespace

qint16 toInt16(double value) { return saturated<qint16>(value); }

qint32 toInt32(double value) { return saturated<qint32>(value); }

}  // namespace Module1
