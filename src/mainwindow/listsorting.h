#pragma once

#include <QtGlobal>

// The sort code after a click on the header with ascending code `ascending`
// and descending code `descending`: the active column flips its direction,
// another column takes over the current direction.
qint16 nextSortMode(qint16 current, qint16 ascending, qint16 descending);
