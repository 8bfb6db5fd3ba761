#pragma once

#include <QColor>
#include <QtGlobal>

// Colours as the tables store them: red + 256 * green + 65536 * blue. The
// top byte is ignored, so a hand-edited -1 shows as white.
QColor colorFromValue(qint32 value);
qint32 valueFromColor(const QColor &color);
