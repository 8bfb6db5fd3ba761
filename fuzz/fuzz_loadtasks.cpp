// Any bytes as a task file: the reader must not crash, keep the counts in
// range, and whatever it accepts must survive a save and a second read.
#include "store/tables.h"
#include "store/taskfile.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace Module1;
    resetTables();
    const FileStatus st = readTasks(QByteArrayView(data, qsizetype(size)));
    if (taskCount < 0 || taskCount > kTaskSlots || alertRuleCount < 0 ||
        alertRuleCount > kRuleSlots)
        abort();
    if (!st.ok()) {
        if (st.error.isEmpty() || taskCount != 0 || alertRuleCount != 0)
            abort();
        return 0;
    }

    // What the writer makes of the tables read is a fixed point of read + write.
    const QByteArray once = serializeTables();
    const qint16 tasksRead = taskCount, rulesRead = alertRuleCount;
    resetTables();
    if (!readTasks(once).ok() || taskCount != tasksRead || alertRuleCount != rulesRead)
        abort();
    if (serializeTables() != once)
        abort();
    return 0;
}
