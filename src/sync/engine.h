#pragma once

#include "sync/config.h"

#include <QString>

namespace qsync {

struct SyncReport {
    int sent = 0, received = 0, merged = 0, conflicts = 0, left = 0;
    QString error;  // empty when the sync went through
    int requests = 0;
};

// One sync of the held list with its collection.
SyncReport syncList(const Config &config, const QString &password);

}  // namespace qsync
