#pragma once

#include <QByteArrayView>
#include <QString>

namespace Module1 {

inline constexpr const char *kTaskFileName = "tasks.txt";

// tasks.txt in the current directory, named in full so that every message
// tells the user which file it means.
QString taskFilePath();

struct FileStatus {
    enum Code { Ok, Missing, Unreadable, TooManyTasks, TooManyRules, WriteFailed, ChangedOutside };
    Code code = Ok;
    QString error;  // for the user: what failed and why; empty when ok

    bool ok() const { return code == Ok; }
    explicit operator bool() const { return ok(); }
};

// Replaces both tables from the bytes of a task file. Refused (TooManyTasks,
// TooManyRules) when the tables cannot hold it; the tables are then unchanged.
FileStatus readTasks(QByteArrayView bytes);

// Reads the file and replaces both tables from it. A missing file gives
// empty tables and code Missing; any other failure changes nothing. Only a
// regular file is read: a pipe or a device is refused without blocking.
FileStatus loadTasks(const QString &path = taskFilePath());

// Writes both tables whole through an atomic replace; on failure the old
// file stays as it was. When the file no longer holds what this process
// last read or wrote there, nothing is written (ChangedOutside): the caller
// reads it again. syncDirectory=false skips the directory fsync (benchmarks
// only).
FileStatus saveTasks(const QString &path = taskFilePath(), bool syncDirectory = true);

// The file's bytes for the current tables (what saveTasks writes).
QByteArray serializeTables();

// A file size limit (ulimit -f) would kill the process in the middle of a
// write; ignored, the write fails with EFBIG and is reported like any other.
void ignoreFileSizeSignal();

}  // namespace Module1
