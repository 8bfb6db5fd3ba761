#pragma once

#include <QFont>
#include <QRect>

class QWidget;

// Layout is computed in twips; Qt works in logical pixels (15 twips each).
inline constexpr double kTwipsPerPixel = 15.0;

int twipsToPixels(double twips);
double pixelsToTwips(int pixels);
QRect twipsRect(double left, double top, double width, double height);
void placeInTwips(QWidget *widget, double left, double top, double width, double height);

// The system sans font at the given size, standing in for MS Sans Serif.
QFont sansFont(double pointSize = 8.25, bool bold = false);
