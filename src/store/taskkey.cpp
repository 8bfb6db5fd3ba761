#include "store/taskkey.h"

#include <QCryptographicHash>
#include <QHash>

#include <algorithm>
#include <cstring>

namespace Module1 {

namespace {

QByteArray digestOf(const Task &t)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    // Each field ends with a NUL, which no field can hold as text: two
    // tasks differ in the digest when they differ in any field.
    for (const QString *text : {&t.title, &t.forWhom, &t.description}) {
        hash.addData(text->toUtf8());
        hash.addData(QByteArrayView("\0", 1));
    }
    for (const qint16 n : {t.year, t.month, t.day, t.hour, t.minute, t.second}) {
        hash.addData(QByteArray::number(n));
        hash.addData(QByteArrayView("\0", 1));
    }
    return hash.result().toHex();
}

}  // namespace

std::vector<QByteArray> taskKeys()
{
    std::vector<QByteArray> keys;
    keys.reserve(size_t(taskCount));
    QHash<QByteArray, int> seen;
    for (int i = 0; i < taskCount; ++i) {
        const QByteArray digest = digestOf(tasks[size_t(i)]);
        keys.push_back(digest + ':' + QByteArray::number(seen[digest]++));
    }
    return keys;
}

bool isTaskKey(const QByteArray &text)
{
    const qsizetype colon = text.indexOf(':');
    const auto digits = [](QByteArrayView part, const char *allowed) {
        return !part.isEmpty() && part.size() <= 40 &&
               std::all_of(part.begin(), part.end(),
                           [&](char c) { return c != 0 && std::strchr(allowed, c); });
    };
    return colon > 0 && digits(QByteArrayView(text).first(colon), "0123456789abcdef") &&
           digits(QByteArrayView(text).sliced(colon + 1), "0123456789");
}

int findTask(const QByteArray &key)
{
    const std::vector<QByteArray> keys = taskKeys();
    for (size_t i = 0; i < keys.size(); ++i) {
        if (keys[i] == key)
            return int(i);
    }
    return -1;
}

bool sameTask(const Task &a, const Task &b)
{
    return a.title == b.title && a.forWhom == b.forWhom && a.year == b.year && a.month == b.month &&
           a.day == b.day && a.hour == b.hour && a.minute == b.minute && a.second == b.second &&
           a.description == b.description && a.deleted == b.deleted;
}

int findSameTask(const Task &record, int preferred)
{
    if (preferred >= 0 && preferred < taskCount && sameTask(tasks[size_t(preferred)], record))
        return preferred;
    for (int i = 0; i < taskCount; ++i) {
        if (sameTask(tasks[size_t(i)], record))
            return i;
    }
    return -1;
}

}  // namespace Module1
