// Any text as a task field: the viewer shows it as it is or escaped, and what
// it keeps is markup a plain reader can follow: few tags, no part of a table
// left open, nothing closed that the field did not open.
#include "page/viewermarkup.h"

#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <iterator>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

using namespace ViewerMarkup;

// A second reading of kept markup, by other means than the limiter's own:
// false when a part of a table is left open or a table part, paragraph or
// the page is closed without being open.
bool staysInItsCell(const QString &field)
{
    static const QStringList tableParts{QStringLiteral("table"),   QStringLiteral("thead"),
                                        QStringLiteral("tbody"),   QStringLiteral("tfoot"),
                                        QStringLiteral("caption"), QStringLiteral("tr"),
                                        QStringLiteral("td"),      QStringLiteral("th")};
    static const QStringList pageParts{QStringLiteral("p"), QStringLiteral("center"),
                                       QStringLiteral("body"), QStringLiteral("html"),
                                       QStringLiteral("qt")};
    static const QRegularExpression tag(QStringLiteral("<(/?)([A-Za-z][A-Za-z0-9]*)[^>]*>"));
    static const QStringList voids{QStringLiteral("br"), QStringLiteral("hr"),
                                   QStringLiteral("img")};
    std::vector<QString> open;
    for (const QRegularExpressionMatch &m : tag.globalMatch(field)) {
        const QString name = m.captured(2).toLower();
        if (m.capturedLength(1) > 0) {
            const auto it = std::find(open.rbegin(), open.rend(), name);
            if (it == open.rend()) {
                if (tableParts.contains(name) || pageParts.contains(name))
                    return false;
                continue;
            }
            open.erase(std::prev(it.base()), open.end());
        } else if (!voids.contains(name)) {
            // A new item is its open neighbour's sibling, closed by "/>" or not.
            if (name == QLatin1String("li") && !open.empty() && open.back() == name)
                open.pop_back();
            if (!m.captured(0).endsWith(QLatin1String("/>")))
                open.push_back(name);
        }
    }
    for (const QString &name : open)
        if (tableParts.contains(name))
            return false;
    return true;
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
    if (!staysInItsCell(field))
        abort();
    return 0;
}
