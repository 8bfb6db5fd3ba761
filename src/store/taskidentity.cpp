#include "store/taskidentity.h"

#include <QCryptographicHash>
#include <QHash>

#include <algorithm>
#include <cstring>
#include <functional>

namespace Module1 {

namespace {

constexpr QByteArrayView kEnd("\0", 1);

QByteArray keyDigest(const Task &t)
{
    const TaskIdentity id = identityOf(t);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    // Each part ends with a NUL, which no field holds as text: tasks that
    // differ in any part, or only in where one part ends, differ here.
    for (const QByteArray *part : {&id.title, &id.forWhom, &id.due, &id.description}) {
        hash.addData(*part);
        hash.addData(kEnd);
    }
    return hash.result().toHex();
}

// The digest of keys given before the due was one part: the texts, then
// each number alone.
QByteArray earlierKeyDigest(const Task &t)
{
    const TaskIdentity id = identityOf(t);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (const QByteArray *part : {&id.title, &id.forWhom, &id.description}) {
        hash.addData(*part);
        hash.addData(kEnd);
    }
    for (const qint16 n : {t.year, t.month, t.day, t.hour, t.minute, t.second}) {
        hash.addData(QByteArray::number(n));
        hash.addData(kEnd);
    }
    return hash.result().toHex();
}

std::vector<QByteArray> keysBy(const std::function<QByteArray(const Task &)> &digestOf)
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

int indexIn(const std::vector<QByteArray> &keys, const QByteArray &key)
{
    const auto it = std::find(keys.begin(), keys.end(), key);
    return it == keys.end() ? -1 : int(it - keys.begin());
}

// The calendar print keeps no task text: a fingerprint is enough to know a
// task again.
QByteArray printHash(const QByteArray &part)
{
    return QCryptographicHash::hash(part, QCryptographicHash::Sha256).toHex().left(24);
}

}  // namespace

TaskIdentity identityOf(const Task &t)
{
    const QByteArray due = QByteArray::number(t.year) + '-' + QByteArray::number(t.month) + '-' +
                           QByteArray::number(t.day) + ' ' + QByteArray::number(t.hour) + ':' +
                           QByteArray::number(t.minute) + ':' + QByteArray::number(t.second);
    return {t.title.toUtf8(), t.forWhom.toUtf8(), due, t.description.toUtf8()};
}

std::vector<QByteArray> taskKeys() { return keysBy(keyDigest); }

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

TaskKeyIndex::TaskKeyIndex() : m_keys(taskKeys()) { }

int TaskKeyIndex::slotOf(const QByteArray &key) const
{
    if (const int slot = indexIn(m_keys, key); slot >= 0)
        return slot;
    // Worked out only when a key names no task: a key from before is rare.
    if (!m_earlier)
        m_earlier = keysBy(earlierKeyDigest);
    return indexIn(*m_earlier, key);
}

int findTask(const QByteArray &key) { return TaskKeyIndex().slotOf(key); }

TaskPrint printOf(const Task &task)
{
    const TaskIdentity id = identityOf(task);
    return {printHash(id.title), printHash(id.forWhom), printHash(id.due),
            printHash(id.description)};
}

bool sameTask(const Task &a, const Task &b)
{
    return a.deleted == b.deleted && identityOf(a) == identityOf(b);
}

int findSameTask(const Task &record, int preferred)
{
    const TaskIdentity wanted = identityOf(record);
    const auto holds = [&](int i) {
        const Task &t = tasks[size_t(i)];
        return t.deleted == record.deleted && identityOf(t) == wanted;
    };
    if (preferred >= 0 && preferred < taskCount && holds(preferred))
        return preferred;
    for (int i = 0; i < taskCount; ++i) {
        if (holds(i))
            return i;
    }
    return -1;
}

}  // namespace Module1
