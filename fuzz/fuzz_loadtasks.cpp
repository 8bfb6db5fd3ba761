// Any bytes as a task file: the reader must not crash, keep the counts in
// range, and whatever it accepts must survive a save and a second load.
#include "store/tables.h"
#include "store/taskfile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

QString scratchPath()
{
    static const QString path = [] {
        const QString dir = QDir::tempPath() + QStringLiteral("/quillet-fuzz-%1").arg(getpid());
        QDir().mkpath(dir);
        return dir + QStringLiteral("/tasks.txt");
    }();
    return path;
}

bool writeBytes(const QString &path, const char *data, qsizetype size)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data, size) == size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace Module1;
    const QString path = scratchPath();
    if (!writeBytes(path, reinterpret_cast<const char *>(data), qsizetype(size)))
        abort();

    resetTables();
    const FileStatus st = loadTasks(path);
    if (taskCount < 0 || taskCount > kTaskSlots || alertRuleCount < 0 || alertRuleCount > kRuleSlots)
        abort();
    if (!st.ok()) {
        if (st.error.isEmpty() || taskCount != 0 || alertRuleCount != 0)
            abort();
        return 0;
    }

    // What the writer makes of the loaded tables is a fixed point of load + save.
    const QByteArray once = serializeTables();
    const qint16 tasksRead = taskCount, rulesRead = alertRuleCount;
    if (!writeBytes(path, once.constData(), once.size()))
        abort();
    resetTables();
    if (!loadTasks(path).ok() || taskCount != tasksRead || alertRuleCount != rulesRead)
        abort();
    if (serializeTables() != once)
        abort();
    return 0;
}
