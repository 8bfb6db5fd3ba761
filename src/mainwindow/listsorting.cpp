#include "mainwindow/listsorting.h"

qint16 nextSortMode(qint16 current, qint16 ascending, qint16 descending)
{
    if (current == ascending)
        return descending;
    if (current == descending)
        return ascending;
    return current < 10 ? ascending : descending;
}
