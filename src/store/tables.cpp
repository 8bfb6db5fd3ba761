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
QString replacePairs(QString text, QChar a, QChar b, QChar withA, QChar withB)
{
    qsizetype from = 0;
    while (true) {
        qsizetype i = from;
        const qsizetype n = text.size();
        for (; i + 1 < n; ++i) {
            if (text[i] == a && text[i + 1] == b)
                break;
        }
        if (i + 1 >= n)
            return text;
        text[i] = withA;
        text[i + 1] = withB;
        // A restart from the beginning can only find a new pair that ends
        // at the replaced position or later.
        from = i > 0 ? i - 1 : 0;
    }
}

}  // namespace

QString decodeLineBreaks(const QString &text)
{
    return replacePairs(text, u'|', u'~', u'\r', u'\n');
}

QString encodeLineBreaks(const QString &text)
{
    return replacePairs(text, u'\r', u'\n', u'|', u'~');
}

}  // namespace Module1
