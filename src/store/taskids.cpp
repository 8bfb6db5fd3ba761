#include "store/taskids.h"

#include "store/safefile.h"
#include "store/taskfile.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <algorithm>
#include <tuple>
#include <unordered_map>

namespace Module1 {
namespace {

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

QString heldUidFile()
{
    return uidFilePath(taskFolderAccessPath() + QLatin1Char('/') + taskFileName());
}

// Messages name the file as the user knows it, not through /proc.
bool named(bool ok, const QString &path, QString *why)
{
    if (!ok)
        why->replace(path, uidFilePath(taskFilePath()));
    return ok;
}

}  // namespace

QStringList assignUids(const std::vector<TaskPrint> &prints, const std::vector<KnownUid> &known,
                       bool *lastPaired)
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
    if (lastPaired) {
        *lastPaired = false;
        const auto unknown = std::count(uids.cbegin(), uids.cend(), QString());
        const auto gone = std::count(used.cbegin(), used.cend(), false);
        if (unknown == 1 && gone == 1) {
            uids[uids.indexOf(QString())] =
                known[size_t(std::find(used.cbegin(), used.cend(), false) - used.cbegin())].uid;
            *lastPaired = true;
        }
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

void moveUids(std::vector<KnownUid> *known, const std::vector<UidMove> &moves)
{
    std::vector<bool> moved(known->size(), false);
    for (const UidMove &move : moves) {
        if (move.from == move.to)
            continue;
        for (size_t k = 0; k < known->size(); ++k) {
            if (!moved[k] && (*known)[k].print == move.from) {
                (*known)[k].print = move.to;
                moved[k] = true;
                break;
            }
        }
    }
}

QString uidFilePath(const QString &taskFile)
{
    const QFileInfo info(taskFile);
    return info.path() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".uids");
}

namespace {

// The first line of a file whose UIDs are escaped. A file without it was
// written before UIDs were escaped: its UIDs are read as they stand, so a
// '%' in an old UID stays a '%'. Older readers skip the line (it has not
// the five fields of an entry).
constexpr QByteArrayView kEscapedHeader = "#uids 2";

// A UID may hold anything a calendar puts in it; the file is one entry a
// line, split at spaces, so a space, a line break, a control byte or '%'
// goes in as %XX.
QByteArray escapeUid(const QString &uid)
{
    QByteArray out;
    for (const char c : uid.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x21 || byte == 0x7f || byte == '%')
            out += '%' + QByteArray::number(byte, 16).rightJustified(2, '0').toUpper();
        else
            out += c;
    }
    return out;
}

QByteArray unescapeUid(QByteArrayView text)
{
    const auto hex = [](char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                      : -1;
    };
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
            hex(text[i + 2]) >= 0) {
            out += char(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

std::vector<KnownUid> readUidFile(const QString &path, QString *why)
{
    std::vector<KnownUid> known;
    const ReadResult read = readRegularFile(path, kLargestUidFile);
    if (read.outcome != ReadResult::Read) {
        if (why && read.outcome != ReadResult::Missing) {
            *why = QStringLiteral("%1 could not be read: %2")
                       .arg(path, read.outcome == ReadResult::TooLarge
                                      ? QStringLiteral("it is larger than any UID file can be")
                                      : read.why);
        }
        return known;
    }
    const QList<QByteArray> lines = read.bytes.split('\n');
    const bool escaped = !lines.isEmpty() && lines.first().trimmed() == kEscapedHeader;
    // One line a task: UID, then the hashes of title, for, due and description.
    for (const QByteArray &line : lines) {
        const QList<QByteArray> parts = line.trimmed().split(' ');
        if (parts.size() != 5 || parts[0].isEmpty())
            continue;
        known.push_back({QString::fromUtf8(escaped ? unescapeUid(parts[0]) : parts[0]),
                         {parts[1], parts[2], parts[3], parts[4]}});
    }
    return known;
}

bool writeUidFile(const QString &path, const QStringList &uids, QString *why, bool *folderReadOnly)
{
    QByteArray text = kEscapedHeader.toByteArray() + '\n';
    for (int i = 0; i < taskCount && i < uids.size(); ++i) {
        // Not kept: the task gets a UID of its own at the next export.
        if (uids[i].isEmpty() || uids[i].toUtf8().size() > kLongestUid)
            continue;
        text += escapeUid(uids[i]) + ' ' + keyOf(printOf(tasks[size_t(i)])) + '\n';
    }
    const OwnFileWrite written = writeOwnFile(path, text);
    if (folderReadOnly)
        *folderReadOnly = written.outcome == OwnFileWrite::FolderReadOnly;
    if (!written.ok())
        *why = written.why;
    return written.ok();
}

bool taskUids(QStringList *uids, QString *why, bool *folderReadOnly,
              const std::vector<UidMove> &moves)
{
    if (folderReadOnly)
        *folderReadOnly = false;
    const QString path = heldUidFile();
    QString unread;
    std::vector<KnownUid> known = readUidFile(path, &unread);
    moveUids(&known, moves);
    *uids = assignUids(currentPrints(), known);
    // A file that cannot be read is not written over with new UIDs.
    if (!unread.isEmpty()) {
        *why = unread;
        return named(false, path, why);
    }
    return named(writeUidFile(path, *uids, why, folderReadOnly), path, why);
}

bool refreshTaskUids(QString *why, const std::vector<UidMove> &moves)
{
    const QString path = heldUidFile();
    if (!QFileInfo::exists(path))
        return true;
    QStringList uids;
    return taskUids(&uids, why, nullptr, moves);
}

bool pairOutsideEdit(QString *why)
{
    const QString path = heldUidFile();
    QString unread;
    const std::vector<KnownUid> known = readUidFile(path, &unread);
    if (known.empty() || !unread.isEmpty())
        return true;
    bool paired = false;
    const QStringList uids = assignUids(currentPrints(), known, &paired);
    return !paired || named(writeUidFile(path, uids, why), path, why);
}

bool rememberTaskUids(const QStringList &uids, QString *why, bool *folderReadOnly)
{
    const QString path = heldUidFile();
    return named(writeUidFile(path, uids, why, folderReadOnly), path, why);
}

}  // namespace Module1
