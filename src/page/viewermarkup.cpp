#include "page/viewermarkup.h"

#include <array>
#include <initializer_list>

namespace ViewerMarkup {
namespace {

bool isSpace(QChar c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }
bool isLetter(QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }
bool isNameChar(QChar c) { return isLetter(c) || isDigit(c); }
bool isKeyChar(QChar c)
{
    return isNameChar(c) || c == u'-' || c == u'_' || c == u':' || c == u'.';
}

bool is(QStringView name, QLatin1String word)
{
    return name.compare(word, Qt::CaseInsensitive) == 0;
}
bool is(QStringView name, QStringView other)
{
    return name.compare(other, Qt::CaseInsensitive) == 0;
}

bool isAny(QStringView name, std::initializer_list<const char *> words)
{
    for (const char *w : words)
        if (is(name, QLatin1String(w)))
            return true;
    return false;
}

// Qt's parser gives these no children.
bool isVoid(QStringView name) { return isAny(name, {"br", "hr", "img"}); }

// Parts of a table: one left open would take the page's own closing tags
// and the rest of the page with them.
bool isTablePart(QStringView name)
{
    return isAny(name, {"table", "thead", "tbody", "tfoot", "caption", "tr", "td", "th"});
}

// Elements that the page's own markup holds around a field: a closing tag
// of one of these that the field did not open would close the page's.
bool mayBeThePages(QStringView name)
{
    return isTablePart(name) || isAny(name, {"p", "center", "body", "html", "qt"});
}

// Inline elements, which a paragraph climbs out of.
bool isInline(QStringView name)
{
    return isAny(name,
                 {"a",      "abbr",   "acronym", "b",    "big", "cite", "code", "dfn",   "em",
                  "font",   "i",      "kbd",     "nobr", "q",   "s",    "samp", "small", "span",
                  "strike", "strong", "sub",     "sup",  "tt",  "u",    "var"});
}

// Elements of the page, not of a field: document parts, page-wide styles,
// and meta and link, whose treatment has changed between Qt versions.
bool isPageElement(QStringView name)
{
    return isAny(name, {"html", "qt", "head", "body", "title", "meta", "link", "style", "script"});
}

// One field's tags, read as Qt's parser reads them, refusing anything whose
// reading is in doubt.
class Scanner {
public:
    explicit Scanner(QStringView text) : m_text(text) { }

    bool plain()
    {
        while (true) {
            const qsizetype lt = m_text.indexOf(u'<', m_pos);
            if (lt < 0)
                return !leftOpen(isTablePart);
            m_pos = lt + 1;
            if (++m_tags > kMaxTags || !tag())
                return false;
        }
    }

private:
    QChar peek(qsizetype ahead = 0) const
    {
        const qsizetype at = m_pos + ahead;
        return at < m_text.size() ? m_text[at] : QChar();
    }
    bool skipSpace()
    {
        const qsizetype from = m_pos;
        while (isSpace(peek()))
            ++m_pos;
        return m_pos > from;
    }
    QStringView word(bool (*accept)(QChar))
    {
        const qsizetype from = m_pos;
        while (m_pos < m_text.size() && accept(m_text[m_pos]))
            ++m_pos;
        return m_text.sliced(from, m_pos - from);
    }

    // After "<". Qt would read "< b" and "<3" as tags too, and a comment or
    // "<!" declaration ends wherever it likes: all of those are refused.
    bool tag()
    {
        const bool closing = peek() == u'/';
        if (closing)
            ++m_pos;
        if (!isLetter(peek()))
            return false;
        const QStringView name = word(isNameChar);
        if (closing) {
            skipSpace();
            if (peek() != u'>')
                return false;
            ++m_pos;
            return close(name);
        }
        bool selfClosed = false;
        if (!attributes(&selfClosed))
            return false;
        return open(name, selfClosed);
    }

    bool attributes(bool *selfClosed)
    {
        bool spaced = skipSpace();
        while (true) {
            if (peek() == u'>') {
                ++m_pos;
                return true;
            }
            if (peek() == u'/') {
                if (peek(1) != u'>')
                    return false;
                m_pos += 2;
                *selfClosed = true;
                return true;
            }
            if (!spaced)
                return false;
            const QStringView key = word(isKeyChar);
            if (key.isEmpty())
                return false;
            spaced = skipSpace();
            if (peek() != u'=')
                continue;
            ++m_pos;
            skipSpace();
            QStringView value;
            if (!attributeValue(&value))
                return false;
            // Qt makes room for every spanned column: colspan=100000 alone
            // takes a tenth of a second to lay out.
            if ((is(key, QLatin1String("colspan")) || is(key, QLatin1String("rowspan"))) &&
                !smallSpan(value))
                return false;
            spaced = skipSpace();
        }
    }

    // A quoted value holds no "<" or ">", so both a quote-blind and a
    // quote-aware reader end the tag at the same place; Qt lets a backslash
    // escape a single quote, so none is allowed there.
    bool attributeValue(QStringView *value)
    {
        const QChar quote = peek();
        if (quote == u'"' || quote == u'\'') {
            const qsizetype from = ++m_pos;
            while (m_pos < m_text.size() && m_text[m_pos] != quote) {
                const QChar c = m_text[m_pos];
                if (c == u'<' || c == u'>' || (quote == u'\'' && c == u'\\'))
                    return false;
                ++m_pos;
            }
            if (m_pos >= m_text.size())
                return false;
            *value = m_text.sliced(from, m_pos - from);
            ++m_pos;
            return true;
        }
        const qsizetype from = m_pos;
        while (m_pos < m_text.size()) {
            const QChar c = m_text[m_pos];
            if (c <= u' ' || c > u'~' || c == u'"' || c == u'\'' || c == u'<' || c == u'>' ||
                c == u'=' || (c == u'/' && peek(1) == u'>'))
                break;
            ++m_pos;
        }
        *value = m_text.sliced(from, m_pos - from);
        return !value->isEmpty();
    }

    static bool smallSpan(QStringView value)
    {
        if (value.isEmpty() || value.size() > 3)
            return false;
        for (QChar c : value)
            if (!isDigit(c))
                return false;
        return value.toInt() <= kMaxSpan;
    }

    QStringView top() const { return m_depth > 0 ? m_open[m_depth - 1] : QStringView(); }
    bool leftOpen(bool (*kind)(QStringView)) const
    {
        for (int i = 0; i < m_depth; ++i)
            if (kind(m_open[i]))
                return true;
        return false;
    }

    // Refuses every element that Qt would hang elsewhere than under the
    // element open last: a cell outside a row climbs to the nearest row,
    // even one of the page, and so on.
    bool open(QStringView name, bool selfClosed)
    {
        if (isPageElement(name))
            return false;
        if (isVoid(name))
            return true;
        const QStringView parent = top();
        if (isAny(name, {"td", "th"}) && !is(parent, QLatin1String("tr")))
            return false;
        if (is(name, QLatin1String("tr")) && !isAny(parent, {"table", "thead", "tbody", "tfoot"}))
            return false;
        if (isAny(name, {"thead", "tbody", "tfoot", "caption"}) &&
            !is(parent, QLatin1String("table")))
            return false;
        if (is(name, QLatin1String("dt")) && !is(parent, QLatin1String("dl")))
            return false;
        if (is(name, QLatin1String("dd")) && !isAny(parent, {"dl", "dt"}))
            return false;
        // A paragraph climbs out of inline elements; landing on another
        // paragraph it becomes its sibling. Past the field's elements it
        // meets the page's cell, and stays.
        if (is(name, QLatin1String("p"))) {
            int i = m_depth;
            while (i > 0 && isInline(m_open[i - 1]))
                --i;
            if (i > 0 && is(m_open[i - 1], QLatin1String("p")))
                m_depth = i - 1;
        }
        // An item right inside an item becomes its sibling, in Qt as here.
        if (is(name, QLatin1String("li")) && is(parent, QLatin1String("li")))
            --m_depth;
        if (selfClosed)
            return true;
        if (m_depth == kMaxDepth)
            return false;
        m_open[m_depth++] = name;
        return true;
    }

    // Closes the nearest open element of that name and those inside it, as
    // Qt does. Qt ignores one that nothing open matches, unless the page
    // has it open around the field.
    bool close(QStringView name)
    {
        for (int i = m_depth - 1; i >= 0; --i) {
            if (is(m_open[i], name)) {
                m_depth = i;
                return true;
            }
        }
        return !mayBeThePages(name);
    }

    QStringView m_text;
    qsizetype m_pos = 0;
    int m_tags = 0;
    std::array<QStringView, kMaxDepth> m_open;
    int m_depth = 0;
};

}  // namespace

bool keepsMarkup(QStringView field) { return !field.contains(u'<') || Scanner(field).plain(); }

QString viewerText(const QString &field)
{
    return keepsMarkup(field) ? field : field.toHtmlEscaped();
}

}  // namespace ViewerMarkup
