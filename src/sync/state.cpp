#include "sync/state.h"

#include "store/safefile.h"
#include "store/taskfile.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Module1;

namespace qsync {

namespace {

// 1,001 server copies of a few KiB each, with room to spare.
constexpr qint64 kLargestStateFile = qint64(1) << 30;

QString heldStateFile()
{
    return stateFilePath(taskFolderAccessPath() + QLatin1Char('/') + taskFileName());
}

QJsonObject toJson(const Fields &f)
{
    return {{QStringLiteral("title"), f.title},
            {QStringLiteral("for"), f.forWhom},
            {QStringLiteral("description"), f.description},
            {QStringLiteral("due"), QString::number(f.due)},
            {QStringLiteral("recycled"), f.recycled}};
}

Fields fromJson(const QJsonObject &o)
{
    Fields f;
    f.title = o.value(QLatin1String("title")).toString();
    f.forWhom = o.value(QLatin1String("for")).toString();
    f.description = o.value(QLatin1String("description")).toString();
    f.due = o.value(QLatin1String("due")).toString().toLongLong();
    f.recycled = o.value(QLatin1String("recycled")).toBool();
    return f;
}

}  // namespace

Item *State::find(const QString &uid)
{
    for (Item &item : items) {
        if (item.uid == uid)
            return &item;
    }
    return nullptr;
}

Item *State::findHref(const QString &href)
{
    for (Item &item : items) {
        if (!href.isEmpty() && item.href == href)
            return &item;
    }
    return nullptr;
}

QString stateFilePath(const QString &taskFile)
{
    const QFileInfo info(taskFile);
    return info.path() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".sync");
}

bool readState(const QString &collection, State *state, QString *why)
{
    *state = State();
    state->collection = collection;
    const ReadResult read = readRegularFile(heldStateFile(), kLargestStateFile);
    if (read.outcome == ReadResult::Missing)
        return true;
    if (read.outcome != ReadResult::Read) {
        *why =
            QStringLiteral("%1 could not be read: %2").arg(stateFilePath(taskFilePath()), read.why);
        return false;
    }
    QJsonParseError error;
    const QJsonObject root = QJsonDocument::fromJson(read.bytes, &error).object();
    if (error.error != QJsonParseError::NoError) {
        *why = QStringLiteral("%1 is damaged (%2); remove it to sync afresh")
                   .arg(stateFilePath(taskFilePath()), error.errorString());
        return false;
    }
    // Another collection's state says nothing of this one.
    if (root.value(QLatin1String("collection")).toString() != collection)
        return true;
    state->token = root.value(QLatin1String("token")).toString();
    for (const QJsonValue &v : root.value(QLatin1String("items")).toArray()) {
        const QJsonObject o = v.toObject();
        Item item;
        item.uid = o.value(QLatin1String("uid")).toString();
        item.href = o.value(QLatin1String("href")).toString();
        item.etag = o.value(QLatin1String("etag")).toString().toUtf8();
        item.base = fromJson(o.value(QLatin1String("base")).toObject());
        item.copy = QByteArray::fromBase64(o.value(QLatin1String("copy")).toString().toLatin1());
        item.afterToken = o.value(QLatin1String("after-token")).toBool();
        if (!item.uid.isEmpty())
            state->items.push_back(std::move(item));
    }
    return true;
}

bool writeState(const State &state, QString *why)
{
    QJsonArray items;
    for (const Item &item : state.items) {
        items.append(
            QJsonObject{{QStringLiteral("uid"), item.uid},
                        {QStringLiteral("href"), item.href},
                        {QStringLiteral("etag"), QString::fromUtf8(item.etag)},
                        {QStringLiteral("base"), toJson(item.base)},
                        {QStringLiteral("copy"), QString::fromLatin1(item.copy.toBase64())},
                        {QStringLiteral("after-token"), item.afterToken}});
    }
    const QJsonObject root{{QStringLiteral("version"), 1},
                           {QStringLiteral("collection"), state.collection},
                           {QStringLiteral("token"), state.token},
                           {QStringLiteral("items"), items}};
    const OwnFileWrite written =
        writeOwnFile(heldStateFile(), QJsonDocument(root).toJson(QJsonDocument::Compact),
                     OwnFileWrite::StreamsRefused, 0600);
    if (!written.ok()) {
        *why = QString(written.why).replace(heldStateFile(), stateFilePath(taskFilePath()));
        return false;
    }
    return true;
}

}  // namespace qsync
