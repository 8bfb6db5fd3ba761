#pragma once

#include <QString>
#include <QStringView>

// Task fields go into the alert page unescaped, and Qt lays nested tables
// out in time that doubles with every level. The viewer shows a field's
// markup when it is small enough and stays in its own cell: every tag well
// formed, nothing that Qt's parser would hang elsewhere in the tree, no
// closing tag that would close the page's own elements, no table part left
// open, and no element that belongs to the page itself. Other elements left
// open are closed where the cell ends, as a browser closes them. Any other
// field is shown escaped.
namespace ViewerMarkup {

inline constexpr int kMaxDepth = 8;   // elements open at once in a field
inline constexpr int kMaxTags = 300;  // tags in one field
inline constexpr int kMaxSpan = 3;    // colspan and rowspan

// True when the viewer may show the field's markup.
bool keepsMarkup(QStringView field);

// The field as the viewer shows it: unchanged, or escaped as plain text.
QString viewerText(const QString &field);

}  // namespace ViewerMarkup
