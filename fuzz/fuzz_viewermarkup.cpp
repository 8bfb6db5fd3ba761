// Any text as a task field: the viewer shows it as it is or escaped, and what
// it keeps is markup a plain reader can follow: few tags, each opened element
// closed within the field, nesting within the limit.
#include "startup/viewermarkup.h"

#include <QRegularExpression>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

using namespace ViewerMarkup;

// A second reading of kept markup, by other means than the limiter's own:
// the deepest nesting, or -1 when something is left open or closed twice.
int nesting(const QString &field)
{
    static const QRegularExpression tag(QStringLiteral("<(/?)([A-Za-z][A-Za-z0-9]*)[^>]*>"));
    static const QStringList voids{QStringLiteral("br"), QStringLiteral("hr"),
                                   QStringLiteral("img")};
    std::vector<QString> open;
    int deepest = 0;
    for (const QRegularExpressionMatch &m : tag.globalMatch(field)) {
        const QString name = m.captured(2).toLower();
        if (m.capturedLength(1) > 0) {
            while (!open.empty() && open.back() != name)
                open.pop_back();
            if (open.empty())
                return -1;
            open.pop_back();
        } else if (!voids.contains(name)) {
            // A new item is its open neighbour's sibling, closed by "/>" or not.
            if (name == QLatin1String("li") && !open.empty() && open.back() == name)
                open.pop_back();
            if (!m.captured(0).endsWith(QLatin1String("/>"))) {
                open.push_back(name);
                deepest = std::max(deepest, int(open.size()));
            }
        }
    }
    return open.empty() ? deepest : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString field = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString shown = viewerText(field);
    const QString escaped = field.toHtmlEscaped();
    if (shown != field && shown != escaped)
        abort();
    // Escaped text holds no tag, so it is always shown as it is.
    if (!keepsMarkup(escaped))
        abort();
    if (shown != field || !field.contains(QLatin1Char('<')))
        return 0;

    const qsizetype tags = field.count(QLatin1Char('<'));
    if (tags > kMaxTags || field.contains(QLatin1String("<!")))
        abort();
    const int depth = nesting(field);
    if (depth < 0 || depth > kMaxDepth)
        abort();
    // Nothing is left open: the field twice over reads the same.
    if (2 * tags <= kMaxTags && !keepsMarkup(field + field))
        abort();
    int pageTags = kMaxPageTags - int(tags);
    if (!keepsMarkup(field, &pageTags) || pageTags != kMaxPageTags || keepsMarkup(field, &pageTags))
        abort();
    return 0;
}
