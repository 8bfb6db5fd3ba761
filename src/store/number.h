#pragma once

#include <QStringView>
#include <QtGlobal>

namespace Module1 {

// The one rule for reading a number from text: blanks, tabs and line feeds
// are skipped anywhere; then a decimal number (sign, digits, fraction,
// exponent E or D) or &H / &O, up to the first other character. No number
// gives 0. The result is rounded to an integer, halves to even; callers
// saturate it into their field with toInt16 / toInt32.
double textToNumber(QStringView text);

qint16 toInt16(double value);
qint32 toInt32(double value);

}  // namespace Module1
