// Saves that fail or are cut short must leave a file that still loads whole.
#include "printers.h"
#include "store/tables.h"
#include "store/taskfile.h"
#include "support/testsupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <random>
#include <sys/mount.h>
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

// A small tmpfs, filled up; empty when this machine does not let us mount.
struct FullDisk {
    QTemporaryDir dir;
    bool mounted = false;
    FullDisk()
    {
        const QByteArray at = QFile::encodeName(dir.path());
        mounted = ::mount("tmpfs", at.constData(), "tmpfs", 0, "size=64k") == 0;
    }
    ~FullDisk()
    {
        if (mounted)
            ::umount(QFile::encodeName(dir.path()).constData());
    }
    void fill() const
    {
        QFile filler(dir.filePath(QStringLiteral("filler")));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(1024, 'f');
        while (filler.write(block) == block.size()) { }
    }
};

// Run in a child, SIGXFSZ left at its default: the store's own handling
// must keep the process alive and report the failure.
int saveInChild(const QString &path, rlim_t sizeLimit, const char *reason)
{
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_DFL);
        if (sizeLimit) {
            rlimit limit{sizeLimit, sizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        const FileStatus st = saveTasks(path);
        const bool told = st.error.contains(QLatin1String(reason)) && st.error.contains(path);
        if (!told)
            std::fprintf(stderr, "%s\n", qPrintable(st.error));
        _exit(st.code == FileStatus::WriteFailed && told ? 0 : 10 + int(st.code));
    }
    return waitExit(pid);
}

TEST(FileSafety, FailedSaveLeavesThePreviousFileAndSaysWhy)
{
    struct {
        const char *name;
        int tasks;
        bool fullDisk;  // else a file size limit
    } const cases[] = {
        {"full disk, small file", 5, true},
        {"full disk, full tables", 1001, true},
        {"size limit, small file", 5, false},
        {"size limit, full tables", 1001, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        FullDisk disk;
        ASSERT_TRUE(disk.dir.isValid());
        if (c.fullDisk && !disk.mounted) {
            // Not root, or no mount allowed: the size-limit rows still run.
            std::printf("[note] cannot mount a tmpfs here: %s skipped\n", c.name);
            continue;
        }
        const QString path = disk.dir.filePath(QStringLiteral("tasks.txt"));
        fillTables(2, "old");
        ASSERT_TRUE(saveTasks(path));
        const QByteArray before = readFile(path);
        if (c.fullDisk)
            disk.fill();

        fillTables(c.tasks, "new");
        const rlim_t limit = c.fullDisk ? 0 : rlim_t(before.size() + 64);
        EXPECT_EQ(
            saveInChild(path, limit, c.fullDisk ? "No space left on device" : "File too large"), 0)
            << "saveTasks must report WriteFailed with the system's reason";
        EXPECT_EQ(readFile(path), before);
        QStringList left = QDir(disk.dir.path()).entryList(QDir::Files | QDir::Hidden);
        left.removeAll(QStringLiteral("filler"));
        EXPECT_EQ(left, QStringList{QStringLiteral("tasks.txt")})
            << "no temporary file may be left behind";
    }
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
        EXPECT_TRUE(onDisk == first || onDisk == second)
            << "a torn file of " << onDisk.size() << " bytes";
        resetTables();
        ASSERT_TRUE(loadTasks(path));
        EXPECT_TRUE(taskCount == 1001 || taskCount == 700);
        EXPECT_EQ(serializeTables(), onDisk);
    }
}

}  // namespace
