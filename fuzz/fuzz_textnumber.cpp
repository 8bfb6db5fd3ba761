// textToNumber on any text: never NaN, always whole, blind to blanks, and a
// leading minus only flips the sign of a decimal number.
#include "store/number.h"

#include <QString>

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

bool whole(double v) { return !std::isnan(v) && (std::isinf(v) || v == std::nearbyint(v)); }

bool startsDecimal(const QString &s)
{
    return !s.isEmpty() && (s.front().isDigit() || s.front() == QLatin1Char('.'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace Module1;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const double v = textToNumber(text);
    if (!whole(v))
        abort();
    (void)toInt16(v);
    (void)toInt32(v);

    QString bare = text;
    bare.remove(QLatin1Char(' ')).remove(QLatin1Char('\t')).remove(QLatin1Char('\n'));
    if (textToNumber(bare) != v)
        abort();
    if (startsDecimal(bare) && bare.front().unicode() < 128 &&
        textToNumber(QLatin1Char('-') + bare) != -v)
        abort();
    return 0;
}
