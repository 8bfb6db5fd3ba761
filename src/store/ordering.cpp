#include "store/ordering.h"

#include "store/dates.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <string_view>
#include <vector>

namespace Module1 {
namespace {

// Decimal form of value left-padded with '0' to width; the zeros go in
// front of a minus sign. Written in place: every load keys every task.
void appendPadded(char16_t *&out, qint64 value, int width)
{
    char16_t digits[24];
    int n = 0;
    const bool negative = value < 0;
    quint64 v = negative ? quint64(0) - quint64(value) : quint64(value);
    do {
        digits[n++] = char16_t(u'0' + v % 10);
        v /= 10;
    } while (v != 0);
    if (negative)
        digits[n++] = u'-';
    for (int i = n; i < width; ++i)
        *out++ = u'0';
    while (n > 0)
        *out++ = digits[--n];
}

const QString *keyOf(const Task &t, int column)
{
    switch (column) {
    case 0: return &t.title;
    case 1: return &t.forWhom;
    default: return &t.sortKey;
    }
}

// The exchange sort on ranks, moving the slots' indices alongside.
void exchangeSort(std::vector<int> &rank, std::vector<int> &order, bool descending)
{
    const int n = int(rank.size());
    for (int j = 0; j < n - 1; ++j) {
        for (int i = j; i < n; ++i) {
            const bool before = descending ? rank[j] < rank[i] : rank[j] > rank[i];
            if (before) {
                std::swap(rank[j], rank[i]);
                std::swap(order[j], order[i]);
            }
        }
    }
}

}  // namespace

void sortTasks()
{
    const int n = taskCount;
    bool descending = false;
    int column = 0;
    switch (sortMode) {
    case 0:
    case 1:
    case 2: column = sortMode; break;
    case 10:
    case 11:
    case 12:
        column = sortMode - 10;
        descending = true;
        break;
    default: return;
    }
    if (n < 2)
        return;

    // Rank the keys once (equal keys share a rank), then run the exchange
    // sort on integer ranks and indices; the records move once at the end.
    std::vector<QString> keys(n);
    for (int i = 0; i < n; ++i) {
        const QString &k = *keyOf(tasks[i], column);
        keys[i] = (!descending && column < 2) ? k.toLower() : k;
    }
    // Already in order, as at most redraws: the exchange sort would move
    // nothing, so the ranking and the n * n loop are skipped.
    bool ordered = true;
    for (int i = 1; i < n && ordered; ++i)
        ordered = descending ? !(keys[i - 1] < keys[i]) : !(keys[i] < keys[i - 1]);
    if (ordered)
        return;
    std::vector<int> byKey(n);
    std::iota(byKey.begin(), byKey.end(), 0);
    std::sort(byKey.begin(), byKey.end(), [&](int a, int b) { return keys[a] < keys[b]; });
    std::vector<int> rank(n);
    for (int r = 0, i = 0; i < n; ++i) {
        if (i > 0 && keys[byKey[i]] != keys[byKey[i - 1]])
            ++r;
        rank[byKey[i]] = r;
    }

    std::vector<int> order(n);
    // Without two equal keys there is one order, whichever sort finds it:
    // the n * n exchange is only needed to place ties where it puts them.
    if (n > 0 && rank[byKey[n - 1]] == n - 1) {
        if (descending)
            std::reverse_copy(byKey.begin(), byKey.end(), order.begin());
        else
            order = byKey;
    } else {
        std::iota(order.begin(), order.end(), 0);
        exchangeSort(rank, order, descending);
    }

    std::vector<Task> moved(n);
    for (int i = 0; i < n; ++i)
        moved[i] = std::move(tasks[order[i]]);
    std::move(moved.begin(), moved.end(), tasks.begin());
}

QString formatDate(qint16 &day, qint16 &month, qint16 &year)
{
    static const std::array<QString, 13> names = {QStringLiteral("January"),
                                                  QStringLiteral("February"),
                                                  QStringLiteral("March"),
                                                  QStringLiteral("April"),
                                                  QStringLiteral("May"),
                                                  QStringLiteral("June"),
                                                  QStringLiteral("July"),
                                                  QStringLiteral("August"),
                                                  QStringLiteral("September"),
                                                  QStringLiteral("October"),
                                                  QStringLiteral("November"),
                                                  QStringLiteral("December"),
                                                  QString()};
    if (month == 0)
        month = 1;
    // A month outside the table has no name; its number keeps the date readable.
    const QString name = (month >= 1 && month <= 13) ? names[month - 1] : QString::number(month);

    const QString dayText = QString::number(day).rightJustified(2, u'0');
    QString yearText = (year >= 0 ? QStringLiteral(" ") : QString()) + QString::number(year);
    yearText = yearText.right(2).trimmed().rightJustified(2, u'0');
    return name + u' ' + dayText + u'/' + yearText;
}

QString makeSortKey(const Task &t)
{
    char16_t buf[64];
    char16_t *out = buf;
    auto text = [&out](std::u16string_view piece) {
        for (char16_t c : piece)
            *out++ = c;
    };
    appendPadded(out, t.year, 4);
    text(u"-");
    appendPadded(out, t.month, 2);
    text(u" - ");
    appendPadded(out, t.day, 2);
    text(u" ");
    appendPadded(out, t.hour, 2);
    text(u":");
    appendPadded(out, t.minute, 2);
    text(u":");
    appendPadded(out, t.second, 2);
    return QString(reinterpret_cast<const QChar *>(buf), out - buf);
}

QString DueTexts::of(const Task &t)
{
    const qint64 day = dateSerial(t.year, t.month, t.day).time_since_epoch().count();
    auto d = m_dates.find(day);
    if (d == m_dates.end())
        d = m_dates.insert(day, shortDateText(Days{std::chrono::days{day}}));
    qint64 secs = timeSerial(t.hour, t.minute, t.second) % 86400;
    if (secs < 0)
        secs += 86400;
    auto tm = m_times.find(secs);
    if (tm == m_times.end())
        tm = m_times.insert(secs, longTimeText(0, 0, int(secs)));
    return *d + QLatin1String(" at ") + *tm;
}

QString makeDueText(const Task &t) { return DueTexts().of(t); }

QString dueMomentText(Task &t)
{
    return formatDate(t.day, t.month, t.year) + QLatin1String(" at ") +
           longTimeText(t.hour, t.minute, t.second);
}

QString daysLeftText(qint64 daysLeft)
{
    if (daysLeft > 0)
        return QString::number(daysLeft) + QLatin1String(" days left");
    return daysLeft == 0 ? QStringLiteral("Today!") : QStringLiteral("Late!");
}

}  // namespace Module1
