#pragma once

#include <QString>
#include <QStringView>

// Task fields go into the alert page unescaped, and Qt lays nested tables
// out in time that doubles with every level. The viewer shows a field's
// markup only when it is small and plain: every tag well formed, every
// element closed within the field, nothing that Qt's parser would move
// elsewhere in the tree (so nothing carries into the next field), and no
// element that belongs to the page itself. Any other field is shown escaped.
namespace ViewerMarkup {

inline constexpr int kMaxDepth = 8;       // elements open at once in a field
inline constexpr int kMaxTags = 300;      // tags in one field
inline constexpr int kMaxSpan = 3;        // colspan and rowspan
inline constexpr int kMaxPageTags = 400;  // tags kept over one page

// True when the viewer may show the field's markup. pageTags, when given,
// counts the tags already kept on the page; a field that is kept adds its own.
bool keepsMarkup(QStringView field, int *pageTags = nullptr);

// The field as the viewer shows it: unchanged, or escaped as plain text.
QString viewerText(const QString &field, int *pageTags = nullptr);

}  // namespace ViewerMarkup
