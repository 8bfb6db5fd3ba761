// Saves that fail or are cut short must leave a file that still loads whole.
#include "printers.h"
#include "store/safefile.h"
#include "store/tables.h"
#include "store/testhooks.h"
#include "store/taskfile.h"
#include "support/taskfilebuilder.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
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

struct FailedSaveCase {
    const char *name;
    int tasks;
    bool fullDisk;  // else a file size limit
};

void PrintTo(const FailedSaveCase &c, std::ostream *os) { *os << c.name; }

class FailedSave : public ::testing::TestWithParam<FailedSaveCase> { };

TEST_P(FailedSave, LeavesThePreviousFileAndSaysWhy)
{
    const FailedSaveCase &c = GetParam();
    FullDisk disk;
    ASSERT_TRUE(disk.dir.isValid());
    if (c.fullDisk && !disk.mounted)
        GTEST_SKIP() << "cannot mount a tmpfs here (not root, or no mount allowed)";
    const QString path = disk.dir.filePath(QStringLiteral("tasks.txt"));
    fillTables(2, "old");
    ASSERT_TRUE(saveTasks(path));
    const QByteArray before = readFile(path);
    if (c.fullDisk)
        disk.fill();

    fillTables(c.tasks, "new");
    const rlim_t limit = c.fullDisk ? 0 : rlim_t(before.size() + 64);
    EXPECT_EQ(saveInChild(path, limit, c.fullDisk ? "No space left on device" : "File too large"),
              0)
        << "saveTasks must report WriteFailed with the system's reason";
    EXPECT_EQ(readFile(path), before);
    QStringList left = QDir(disk.dir.path()).entryList(QDir::Files | QDir::Hidden);
    left.removeAll(QStringLiteral("filler"));
    EXPECT_EQ(left, QStringList{QStringLiteral("tasks.txt")})
        << "no temporary file may be left behind";
}

INSTANTIATE_TEST_SUITE_P(FileSafety, FailedSave,
                         ::testing::Values(FailedSaveCase{"FullDiskSmallFile", 5, true},
                                           FailedSaveCase{"FullDiskFullTables", 1001, true},
                                           FailedSaveCase{"SizeLimitSmallFile", 5, false},
                                           FailedSaveCase{"SizeLimitFullTables", 1001, false}),
                         [](const auto &info) { return std::string(info.param.name); });

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
        // The killed save's temporary copy does not stay: the next save in
        // the folder removes it.
        ASSERT_TRUE(saveTasks(path));
        EXPECT_EQ(QDir(dir.path())
                      .entryList({QStringLiteral(".tasks.txt.*")}, QDir::Files | QDir::Hidden),
                  QStringList())
            << "temporaries left";
    }
}

// The program's own folder: made current, then held by the first use of the
// task file, as at a start.
class HeldFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        old = QDir::currentPath();
    }
    void TearDown() override
    {
        QDir::setCurrent(old);
        releaseTaskFolder();
        // QTemporaryDir cannot remove a name that is not text.
        ::unlink((folder + "/tasks.txt").constData());
        ::rmdir(folder.constData());
    }
    // Enters `name` (bytes, so not necessarily text) with a task file in it.
    void startIn(const QByteArray &name)
    {
        folder = QFile::encodeName(dir.path()) + '/' + name;
        ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
        ASSERT_EQ(::chdir(folder.constData()), 0);
        releaseTaskFolder();
        const QByteArray bytes =
            testsupport::taskFile({testsupport::dueOn("Mine", QDate(2026, 12, 9))}, {});
        const int fd = ::open("tasks.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
        ::close(fd);
        ASSERT_EQ(loadTasks().code, FileStatus::Ok);
        ASSERT_EQ(taskCount, 1);
    }
    // Read by bytes: the name need not be text.
    static QByteArray onDisk(const QByteArray &path)
    {
        QByteArray bytes;
        const int fd = ::open(path.constData(), O_RDONLY);
        if (fd < 0)
            return "<missing>";
        char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
            bytes.append(buffer, n);
        ::close(fd);
        return bytes;
    }
    QTemporaryDir dir;
    QString old;
    QByteArray folder;
};

TEST_F(HeldFolder, ARemovedFolderIsNeverReplacedByAnotherOne)
{
    const bool rootFileBefore = QFile::exists(QStringLiteral("/tasks.txt"));
    const QByteArray rootBefore = rootFileBefore ? onDisk("/tasks.txt") : QByteArray();
    startIn("work");
    // WHEN the folder is removed under the running program, and then one
    // of the same name made again
    ASSERT_EQ(::unlink((folder + "/tasks.txt").constData()), 0);
    ASSERT_EQ(::rmdir(folder.constData()), 0);
    tasks[0].title = QStringLiteral("changed");
    for (bool remade : {false, true}) {
        SCOPED_TRACE(remade ? "a new folder of that name" : "no folder");
        if (remade) {
            ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
        }
        const FileStatus saved = saveTasks();
        EXPECT_EQ(saved.code, FileStatus::WriteFailed);
        EXPECT_TRUE(
            saved.error.contains(QFile::decodeName(folder) + QStringLiteral(" no longer exists")))
            << saved.error.toStdString();
        const FileStatus read = loadTasks();
        EXPECT_EQ(read.code, FileStatus::Unreadable)
            << "an empty list would say the tasks are gone";
        EXPECT_EQ(taskCount, 1);
        EXPECT_EQ(tasks[0].title, QStringLiteral("changed"));
        EXPECT_FALSE(QFile::exists(QFile::decodeName(folder + "/tasks.txt")));
    }
    // THEN nothing was written anywhere else
    EXPECT_EQ(QFile::exists(QStringLiteral("/tasks.txt")), rootFileBefore);
    if (rootFileBefore) {
        EXPECT_EQ(onDisk("/tasks.txt"), rootBefore);
    }
}

TEST_F(HeldFolder, AFolderRenamedMeanwhileIsStillTheOne)
{
    startIn("work");
    const QByteArray moved = QFile::encodeName(dir.path()) + "/moved";
    ASSERT_EQ(::rename(folder.constData(), moved.constData()), 0);
    tasks[0].title = QStringLiteral("changed");
    ASSERT_EQ(saveTasks().code, FileStatus::Ok);
    EXPECT_EQ(onDisk(moved + "/tasks.txt"), serializeTables());
    EXPECT_FALSE(QFile::exists(QFile::decodeName(folder)));
}

TEST_F(HeldFolder, AFolderWhoseNameIsNotTextWorks)
{
    // "café" in Latin-1, as an old archive or a USB stick may name it.
    startIn("caf\xE9");
    EXPECT_EQ(tasks[0].title, QStringLiteral("Mine"));
    tasks[0].title = QStringLiteral("changed");
    ASSERT_EQ(saveTasks().code, FileStatus::Ok);
    EXPECT_EQ(onDisk(folder + "/tasks.txt"), serializeTables());
    // Qt lists no name that is not text: counted by bytes.
    int entries = 0;
    if (DIR *d = ::opendir(QFile::encodeName(dir.path()).constData())) {
        while (const dirent *e = ::readdir(d))
            entries += std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0;
        ::closedir(d);
    }
    EXPECT_EQ(entries, 1) << "no second folder made from the name as text";
    // The lock beside the file is reached the same way.
    EXPECT_TRUE(QFileInfo(taskFolderAccessPath() + QStringLiteral("/tasks.txt")).isFile());
}

struct Owned {
    uid_t uid;
    gid_t gid;
    mode_t mode;
};

Owned ownerOf(const QString &path)
{
    struct stat st { };
    ::stat(QFile::encodeName(path).constData(), &st);
    return {st.st_uid, st.st_gid, st.st_mode & 07777};
}

QByteArray attribute(const QString &path, const char *name)
{
    char value[256];
    const ssize_t n = ::getxattr(QFile::encodeName(path).constData(), name, value, sizeof value);
    return n < 0 ? QByteArray("<none>") : QByteArray(value, n);
}

TEST(SaveKeeps, OwnerGroupModeAndUserAttributes)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can hand a file to another user";
    const Owned cases[] = {
        {65534, 65534, 0600},  // root saves a user's private file
        {0, 65534, 0660},      // a file shared with a group
        {65534, 0, 0604},
    };
    for (const Owned &c : cases) {
        SCOPED_TRACE(testing::Message() << c.uid << ":" << c.gid << " " << std::oct << c.mode);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("tasks.txt"));
        fillTables(2, "old");
        ASSERT_TRUE(saveTasks(path));
        const QByteArray file = QFile::encodeName(path);
        ASSERT_EQ(::chown(file.constData(), c.uid, c.gid), 0);
        ASSERT_EQ(::chmod(file.constData(), c.mode), 0);
        ASSERT_EQ(::setxattr(file.constData(), "user.sync-id", "42", 2, 0), 0);
        ASSERT_TRUE(loadTasks(path));

        fillTables(3, "new");
        const FileStatus st = saveTasks(path);
        ASSERT_TRUE(st) << st.error.toStdString();
        EXPECT_TRUE(st.notice.isEmpty()) << st.notice.toStdString();
        EXPECT_EQ(readFile(path), serializeTables());
        const Owned now = ownerOf(path);
        EXPECT_EQ(now.uid, c.uid);
        EXPECT_EQ(now.gid, c.gid);
        EXPECT_EQ(now.mode, c.mode);
        EXPECT_EQ(attribute(path, "user.sync-id"), "42");
    }
}

TEST(SaveKeeps, AnotherUsersFileStaysTheirs)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs a second user";
    // GIVEN root's file in a folder that everyone may write to, group nogroup
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tasks.txt"));
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0777), 0);
    fillTables(2, "old");
    ASSERT_TRUE(saveTasks(path));
    ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 0, 65534), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0666), 0);
    // WHEN the user nobody saves it
    const pid_t pid = fork();
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            _exit(2);
        resetTables();
        if (!loadTasks(path))
            _exit(3);
        const FileStatus st = saveTasks(path);
        if (!st.ok() || !st.notice.isEmpty())
            std::fprintf(stderr, "%s | %s\n", qPrintable(st.error), qPrintable(st.notice));
        _exit(st.ok() && st.notice.isEmpty() ? 0 : 4);
    }
    // THEN the tasks are saved, and the file is still root's
    EXPECT_EQ(waitExit(pid), 0);
    EXPECT_EQ(ownerOf(path).uid, 0u);
    EXPECT_EQ(ownerOf(path).gid, 65534u);
    EXPECT_EQ(ownerOf(path).mode, 0666u);
}

TEST(SaveKeeps, AChangeMadeDuringTheSaveWins)
{
    struct {
        const char *name;
        bool byRename;  // else written in place
    } const cases[] = {{"written in place", false}, {"replaced by a rename", true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("tasks.txt"));
        fillTables(3, "mine");
        ASSERT_TRUE(saveTasks(path));
        const QByteArray theirs =
            testsupport::taskFile({testsupport::dueOn("Theirs", QDate(2027, 1, 1))}, {});
        // WHEN a sync tool writes while the save syncs its new file
        setBeforeRenameHook([&] {
            const QString at = c.byRename ? dir.filePath(QStringLiteral("incoming")) : path;
            testsupport::writeFile(at, theirs);
            if (c.byRename)
                QFile::rename(at, path) || (QFile::remove(path) && QFile::rename(at, path));
        });
        fillTables(4, "my next");
        const FileStatus st = saveTasks(path);
        setBeforeRenameHook({});
        // THEN its change stays, and nothing of the save is left behind
        EXPECT_EQ(st.code, FileStatus::ChangedOutside);
        EXPECT_EQ(readFile(path), theirs);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                  QStringList{QStringLiteral("tasks.txt")});
    }
}

TEST(Links, ATaskFileLinkIsWrittenThroughOnlyWhenItIsTheUsersOrRoots)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can make a link that another user owns";
    struct {
        const char *name;
        uid_t linkOwner;
        bool followed;
    } const cases[] = {{"planted by another user", 65534, false}, {"the user's own", 0, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        // GIVEN the user's private task file elsewhere, and a link to it
        QTemporaryDir shared, privateDir;
        const QString target = privateDir.filePath(QStringLiteral("real.txt"));
        fillTables(2, "private");
        ASSERT_TRUE(saveTasks(target));
        const QByteArray before = readFile(target);
        const QString link = shared.filePath(QStringLiteral("tasks.txt"));
        ASSERT_TRUE(QFile::link(target, link));
        ASSERT_EQ(::lchown(QFile::encodeName(link).constData(), c.linkOwner, c.linkOwner), 0);
        ASSERT_TRUE(loadTasks(link));

        fillTables(3, "changed");
        const FileStatus st = saveTasks(link);
        EXPECT_EQ(st.ok(), c.followed) << st.error.toStdString();
        EXPECT_TRUE(QFileInfo(link).isSymLink());
        if (c.followed) {
            EXPECT_EQ(readFile(target), serializeTables());
        } else {
            EXPECT_TRUE(st.error.contains(link)) << st.error.toStdString();
            EXPECT_TRUE(st.error.contains(QStringLiteral("belongs to another user")));
            EXPECT_EQ(readFile(target), before);
        }
    }
}

}  // namespace
