#include "store/taskids.h"

#include "store/taskfile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUuid>

#include <algorithm>
#include <tuple>
#include <unordered_map>

namespace Module1 {
namespace {

QByteArray hashOf(const QString &text)
{
    // The UID file holds no task text: a fingerprint is enough to know a task again.
    return QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex().left(24);
}

int score(const TaskPrint &a, const TaskPrint &b)
{
    return 2 * (a.title == b.title) + 2 * (a.due == b.due) + (a.forWhom == b.forWhom) +
           (a.description == b.description);
}

QByteArray keyOf(const TaskPrint &p)
{
    return p.title + ' ' + p.forWhom + ' ' + p.due + ' ' + p.description;
}

std::vector<TaskPrint> currentPrints()
{
    std::vector<TaskPrint> prints;
    prints.reserve(size_t(taskCount));
    for (int i = 0; i < taskCount; ++i)
        prints.push_back(printOf(tasks[size_t(i)]));
    return prints;
}

QString heldUidFile() { return uidFilePath(taskFolderAccessPath() + QLatin1Char('/') + taskFileName()); }

}  // namespace

TaskPrint printOf(const Task &task)
{
    const QString due = QStringLiteral("%1-%2-%3 %4:%5:%6")
                            .arg(task.year)
                            .arg(task.month)
                            .arg(task.day)
                            .arg(task.hour)
                            .arg(task.minute)
                            .arg(task.second);
    return {hashOf(task.title), hashOf(task.forWhom), hashOf(due), hashOf(task.description)};
}

QStringList assignUids(const std::vector<TaskPrint> &prints, const std::vector<KnownUid> &known)
{
    QStringList uids(qsizetype(prints.size()));
    std::vector<bool> used(known.size(), false);
    // Exact prints first, in order, so that two copies of one task keep
    // their two UIDs.
    std::unordered_multimap<std::string, size_t> byPrint;
    for (size_t k = 0; k < known.size(); ++k)
        byPrint.emplace(keyOf(known[k].print).toStdString(), k);
    std::vector<size_t> open;
    for (size_t t = 0; t < prints.size(); ++t) {
        auto [from, to] = byPrint.equal_range(keyOf(prints[t]).toStdString());
        auto hit = std::find_if(from, to, [&](const auto &entry) { return !used[entry.second]; });
        if (hit == to) {
            open.push_back(t);
            continue;
        }
        used[hit->second] = true;
        uids[qsizetype(t)] = known[hit->second].uid;
    }
    // Then edited tasks, best likeness first.
    std::vector<std::tuple<int, size_t, size_t>> pairs;  // -score, task, entry
    for (size_t t : open) {
        for (size_t k = 0; k < known.size(); ++k) {
            if (used[k])
                continue;
            const TaskPrint &a = prints[t], &b = known[k].print;
            if (a.title == b.title || a.due == b.due)
                pairs.emplace_back(-score(a, b), t, k);
        }
    }
    std::sort(pairs.begin(), pairs.end());
    for (const auto &[negative, t, k] : pairs) {
        if (used[k] || !uids[qsizetype(t)].isEmpty())
            continue;
        used[k] = true;
        uids[qsizetype(t)] = known[k].uid;
    }
    for (QString &uid : uids) {
        if (uid.isEmpty())
            uid = newTaskUid();
    }
    return uids;
}

QString newTaskUid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral("@quillet");
}

QString uidFilePath(const QString &taskFile)
{
    const QFileInfo info(taskFile);
    return info.path() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".uids");
}

std::vector<KnownUid> readUidFile(const QString &path)
{
    std::vector<KnownUid> known;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return known;
    // One line a task: UID, then the hashes of title, for, due and description.
    while (!file.atEnd()) {
        const QList<QByteArray> parts = file.readLine().trimmed().split(' ');
        if (parts.size() != 5 || parts[0].isEmpty())
            continue;
        known.push_back({QString::fromUtf8(parts[0]), {parts[1], parts[2], parts[3], parts[4]}});
    }
    return known;
}

bool writeUidFile(const QString &path, const QStringList &uids, QString *why)
{
    QByteArray text;
    for (int i = 0; i < taskCount && i < uids.size(); ++i) {
        const TaskPrint p = printOf(tasks[size_t(i)]);
        text += uids[i].toUtf8() + ' ' + keyOf(p) + '\n';
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        *why = QStringLiteral("%1 could not be written: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool taskUids(QStringList *uids, QString *why)
{
    const QString path = heldUidFile();
    *uids = assignUids(currentPrints(), readUidFile(path));
    return writeUidFile(path, *uids, why);
}

bool refreshTaskUids(QString *why)
{
    const QString path = heldUidFile();
    if (!QFileInfo::exists(path))
        return true;
    QStringList uids;
    return taskUids(&uids, why);
}

bool rememberTaskUids(const QStringList &uids, QString *why)
{
    return writeUidFile(heldUidFile(), uids, why);
}

}  // namespace Module1
