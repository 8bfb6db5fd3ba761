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
    // Without a marker the text is shared, not copied.
    if (!text.contains(QLatin1String("|~")))
        return text;
    return decodeLineBreaks(QStringView(text));
}

QString decodeLineBreaks(QStringView text)
{
    // "|~" and CR LF are both two characters, so the text keeps its length:
    // one copy, changed in place from the first "|" on (found by the
    // library, many characters at a time). A replaced pair can never
    // complete a new one, so one pass gives what replacePairs gives.
    QString out = text.toString();
    qsizetype at = text.indexOf(u'|');
    if (at < 0)
        return out;
    char16_t *p = reinterpret_cast<char16_t *>(out.data());
    const qsizetype n = out.size();
    while (at >= 0 && at + 1 < n) {
        if (p[at + 1] == u'~') {
            p[at] = u'\r';
            p[at + 1] = u'\n';
            ++at;
        }
        at = text.indexOf(u'|', at + 1);
    }
    return out;
}

QString encodeLineBreaks(const QString &text)
{
    return replacePairs(text, u'\r', u'\n', u'|', u'~');
}

}  // namespace Module1
