#include "common/color.h"

QColor colorFromValue(qint32 value)
{
    const auto v = static_cast<quint32>(value);
    return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

qint32 valueFromColor(const QColor &color)
{
    return color.red() + 256 * color.green() + 65536 * color.blue();
}
