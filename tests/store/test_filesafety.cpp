// Saves that fail or are cut short must leave a file that still loads whole.
#include "printers.h"
#include "store/tables.h"
#include "store/taskfile.h"
#include "support/testsupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Module1;
using testsupport::readFile;

namespace {

void fillTables(int count, const char *tag)
{
    for (int i = 0; i < count; ++i) {
        Task &t = tasks[i];
        t.title = QStringLiteral("%1 task %2").arg(QLatin1String(tag)).arg(i);
        t.forWhom = QStringLiteral("someone");
        t.year = 2026;
        t.month = qint16(1 + i % 12);
        t.day = qint16(1 + i % 28);
        t.deleted = QStringLiteral("N");
        t.description = QString(200, QLatin1Char('x'));
    }
    taskCount = qint16(count);
    for (int i = 0; i < 10; ++i)
        alertRules[i] = AlertRule{qint16(i), QStringLiteral("d"), 255 * i, i % 2 == 0};
    alertRuleCount = 10;
}

int waitExit(pid_t pid)
{
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(FileSafety, FailedSaveLeavesThePreviousFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("tasks.txt"));
    fillTables(3, "old");
    ASSERT_TRUE(saveTasks(path));
    const QByteArray before = readFile(path);

    fillTables(1001, "new");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // A file size limit far below the new file makes the write fail part-way.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        const FileStatus st = saveTasks(path);
        _exit(st.code == FileStatus::WriteFailed && !st.error.isEmpty() ? 0 : 10 + int(st.code));
    }
    EXPECT_EQ(waitExit(pid), 0) << "saveTasks must report WriteFailed with a reason";
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("tasks.txt")})
        << "no temporary file may be left behind";
}

TEST(FileSafety, KilledSaveLeavesOldOrNewContent)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("tasks.txt"));
    fillTables(1001, "first");
    const QByteArray first = serializeTables();
    ASSERT_TRUE(saveTasks(path));
    fillTables(700, "second");
    const QByteArray second = serializeTables();

    std::mt19937 rng(42);
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(fds[0]);
            for (int i = 0;; ++i) {
                fillTables(i % 2 ? 1001 : 700, i % 2 ? "first" : "second");
                if (!saveTasks(path))
                    _exit(3);
                if (write(fds[1], "s", 1) != 1)
                    _exit(4);
            }
        }
        close(fds[1]);
        char c;
        ASSERT_EQ(read(fds[0], &c, 1), 1) << "the child never finished a save";
        usleep(useconds_t(rng() % 8000));
        kill(pid, SIGKILL);
        EXPECT_EQ(waitExit(pid), 128 + SIGKILL);
        close(fds[0]);

        const QByteArray onDisk = readFile(path);
        EXPECT_TRUE(onDisk == first || onDisk == second) << "a torn file of " << onDisk.size() << " bytes";
        resetTables();
        ASSERT_TRUE(loadTasks(path));
        EXPECT_TRUE(taskCount == 1001 || taskCount == 700);
        EXPECT_EQ(serializeTables(), onDisk);
    }
}

}  // namespace
