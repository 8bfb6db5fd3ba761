#include "store/tables.h"

namespace Module1 {

std::array<Task, kTaskSlots> tasks;
std::array<AlertRule, kRuleSlots> alertRules;
qint16 taskCount = 0;
qint16 alertRuleCount = 0;
qint16 sortMode = 0;

void resetTables()
{
    tasks.fill(Task{});
    alertRules.fill(AlertRule{});
    taskCount = 0;
    alertRuleCount = 0;
    sortMode = 0;
}

namespace {

// Overwrites each found pair in place and searches again from the start, so
// "|||~" decodes to "||" and a line break, as the file format has always done.
QString replacePairs(QString text, char16_t a, char16_t b, char16_t withA, char16_t withB)
{
    const char16_t pair[2] = {a, b};
    const qsizetype first = text.indexOf(QStringView(pair, 2));
    if (first < 0)
        return text;  // nothing to replace: share the caller's text
    char16_t *p = reinterpret_cast<char16_t *>(text.data());
    const qsizetype n = text.size();
    qsizetype i = first;
    while (i + 1 < n) {
        if (p[i] == a && p[i + 1] == b) {
            p[i] = withA;
            p[i + 1] = withB;
            // A restart from the beginning can only find a new pair that
            // ends at the replaced position or later.
            i = i > 0 ? i - 1 : 0;
        } else {
            ++i;
        }
    }
    return text;
}

}  // namespace

QString decodeLineBreaks(const QString &text)
{
    return replacePairs(text, u'|', u'~', u'\r', u'\n');
}

QString decodeLineBreaks(QStringView text)
{
    // A replaced pair can never complete a new one (CR LF holds no "~"), so
    // one pass left to right gives what replacePairs gives, in one copy.
    // Found by its "|", which the library finds many characters at a time.
    const qsizetype n = text.size();
    auto nextPair = [&](qsizetype from) {
        for (qsizetype at = text.indexOf(u'|', from); at >= 0; at = text.indexOf(u'|', at + 1)) {
            if (at + 1 < n && text[at + 1] == u'~')
                return at;
        }
        return qsizetype(-1);
    };
    qsizetype at = nextPair(0);
    if (at < 0)
        return text.toString();
    QString out;
    out.reserve(n);
    qsizetype from = 0;
    while (at >= 0) {
        out += text.mid(from, at - from);
        out += QLatin1String("\r\n");
        from = at + 2;
        at = nextPair(from);
    }
    out += text.mid(from);
    return out;
}

QString encodeLineBreaks(const QString &text)
{
    return replacePairs(text, u'\r', u'\n', u'|', u'~');
}

}  // namespace Module1
