#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

// The program's own pictures, compiled in: they look the same whatever
// icon theme the desktop has, or none.
namespace icons {

// The program's icon, for every window and the task bar.
QIcon programIcon();

// One of the navigation pictures ("attention", "allitems", "recycled",
// "newtask") drawn `size` logical pixels square at the given pixel ratio.
QPixmap navigationPixmap(const QString &name, int size, qreal devicePixelRatio);

}  // namespace icons
