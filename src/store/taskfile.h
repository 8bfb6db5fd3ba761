#pragma once

#include <QString>

namespace Module1 {

inline constexpr const char *kTaskFileName = "tasks.txt";

struct FileStatus {
    enum Code { Ok, Missing, Unreadable, TooManyTasks, TooManyRules, WriteFailed };
    Code code = Ok;
    QString error;  // for the user: what failed and why; empty when ok

    bool ok() const { return code == Ok; }
    explicit operator bool() const { return ok(); }
};

// Replaces both tables from the file. A missing file gives empty tables and
// code Missing; any other failure changes nothing.
FileStatus loadTasks(const QString &path = QString::fromLatin1(kTaskFileName));

// Writes both tables whole through an atomic replace; on failure the old
// file stays as it was. syncDirectory=false skips the directory fsync
// (benchmarks only).
FileStatus saveTasks(const QString &path = QString::fromLatin1(kTaskFileName),
                     bool syncDirectory = true);

// The file's bytes for the current tables (what saveTasks writes).
QByteArray serializeTables();

}  // namespace Module1
