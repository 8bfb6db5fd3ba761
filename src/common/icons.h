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

// Qt reads any image file, the menu bar's own style icon too, by asking
// every image format plug-in installed, loading each the first time: most
// of the main window's first show. Started while the alert window is read,
// this loads them on an idle-priority thread instead.
void loadImageFormatsAside();

}  // namespace icons
