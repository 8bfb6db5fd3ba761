#pragma once

#include "sync/fields.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace qsync {

// What the last sync left, kept beside the list as its UIDs are
// (".tasks.txt.sync"): the collection, its sync token, and per task its
// UID, where the server keeps it (href, ETag), the base (the fields both
// sides had) and the server's copy, so that an upload patches it.
struct Item {
    QString uid;
    QString href;  // empty: deleted on the server, recycled here
    QByteArray etag;
    Fields base;
    QByteArray copy;  // the server's resource as last seen
    // Written after the token was taken: the next token's changes must
    // name it, or it was deleted since.
    bool afterToken = false;
};

struct State {
    QString collection;
    QString token;  // sync-collection token; empty: list in full
    std::vector<Item> items;

    Item *find(const QString &uid);
    Item *findHref(const QString &href);
};

QString stateFilePath(const QString &taskFile);
// The held list's state; an empty one for another collection or none.
// False, with the reason, when it cannot be read.
bool readState(const QString &collection, State *state, QString *why);
bool writeState(const State &state, QString *why);

}  // namespace qsync
