#include "common/color.h"

#include "store/tables.h"

QColor colorFromValue(qint32 value)
{
    const Module1::Rgb rgb = Module1::rgbOf(value);
    return QColor(rgb.red, rgb.green, rgb.blue);
}

qint32 valueFromColor(const QColor &color)
{
    return Module1::colorOf({color.red(), color.green(), color.blue()});
}
