// The files Quillet writes besides the list (the UID file, put-offs,
// settings, exports) go through the store's one writer, with its rules.
#include "printers.h"
#include "store/safefile.h"
#include "store/settingsfile.h"
#include "store/tables.h"
#include "store/taskfile.h"
#include "store/taskids.h"
#include "store/testhooks.h"
#include "support/testsupport.h"
#include "support/testusers.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Module1;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

QByteArray path8(const QString &path) { return QFile::encodeName(path); }

// What stands at a name, without following it.
mode_t kindAt(const QString &path)
{
    struct stat st { };
    return ::lstat(path8(path).constData(), &st) == 0 ? st.st_mode & S_IFMT : 0;
}

int exitOf(pid_t pid)
{
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

QStringList temporariesIn(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("*.quillet-*")},
                                  QDir::AllEntries | QDir::Hidden | QDir::System);
}

// The bound is the largest size read: a file of exactly that size is read,
// one byte more is refused, whether it is known by its size or only by
// reading it (a stream).
TEST(ReadBound, AFileOfExactlyTheBoundIsReadAndOneByteMoreIsNot)
{
    constexpr qint64 bound = 1000;
    struct {
        qint64 size;
        ReadResult::Outcome outcome;
    } const cases[] = {
        {bound - 1, ReadResult::Read},
        {bound, ReadResult::Read},
        {bound + 1, ReadResult::TooLarge},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f"));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.size);
        const QByteArray bytes(c.size, 'x');
        writeFile(path, bytes);
        const ReadResult byPath = readRegularFile(path, bound);
        EXPECT_EQ(byPath.outcome, c.outcome);
        if (c.outcome == ReadResult::Read) {
            EXPECT_EQ(byPath.bytes, bytes);
        }
        const UniqueFd folder(::open(path8(dir.path()).constData(), O_RDONLY | O_DIRECTORY));
        EXPECT_EQ(readRegularFile(FolderFile{folder.get(), "f", path}, bound).outcome, c.outcome);

        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        ASSERT_EQ(::write(fds[1], bytes.constData(), size_t(bytes.size())), bytes.size());
        ::close(fds[1]);
        EXPECT_EQ(readStream(fds[0], bound).outcome, c.outcome);
        ::close(fds[0]);
    }
}

TEST(ReadBound, OnlyARegularFileIsRead)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(path8(fifo).constData(), 0600), 0);
    for (const QString &path : {fifo, dir.path(), QStringLiteral("/dev/zero")}) {
        SCOPED_TRACE(path.toStdString());
        const ReadResult r = readRegularFile(path, 1 << 20);
        EXPECT_EQ(r.outcome, ReadResult::Failed);
        EXPECT_FALSE(r.why.isEmpty());
    }
}

class UidFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        testsupport::resetWorld();
        for (int i = 0; i < 3; ++i) {
            tasks[size_t(i)].title = QStringLiteral("Task %1").arg(i);
            tasks[size_t(i)].year = 2027;
        }
        taskCount = 3;
        path = dir.filePath(QStringLiteral(".tasks.txt.uids"));
    }
    QTemporaryDir dir;
    QString path;
};

// Whatever a calendar puts in a UID comes back as it was, and never makes
// a line or a field of its own.
TEST_F(UidFile, EveryUidRoundTripsOneLineEach)
{
    const QStringList uids[] = {
        {"plain@example.com", "with space", "line\nbreak"},
        {"cr\r\nlf", "tab\there", "percent%20sign"},
        {"%", "%%41", QString::fromUtf8("ünïcode\x7f")},
        {QString(u'\x01') + "ctl", "trailing ", " leading"},
    };
    for (const QStringList &list : uids) {
        SCOPED_TRACE(list.join('|').toStdString());
        QString why;
        ASSERT_TRUE(writeUidFile(path, list, &why)) << why.toStdString();
        const QList<QByteArray> lines = readFile(path).split('\n');
        // A header, one line a UID, and the end of the last line.
        ASSERT_EQ(lines.size(), list.size() + 2);
        for (qsizetype i = 1; i <= list.size(); ++i)
            EXPECT_EQ(lines[i].split(' ').size(), 5) << lines[i].toStdString();
        const std::vector<KnownUid> known = readUidFile(path);
        ASSERT_EQ(known.size(), size_t(list.size()));
        for (qsizetype i = 0; i < list.size(); ++i)
            EXPECT_EQ(known[size_t(i)].uid, list[i]);
    }
}

// A file written before UIDs were escaped reads as it always did: a '%'
// in its UIDs is a '%'.
TEST_F(UidFile, AnOldFileReadsAsItStands)
{
    writeFile(path, "a%20b 1 2 3 4\nplain@x 5 6 7 8\n");
    const std::vector<KnownUid> known = readUidFile(path);
    ASSERT_EQ(known.size(), 2u);
    EXPECT_EQ(known[0].uid, QStringLiteral("a%20b"));
    EXPECT_EQ(known[1].uid, QStringLiteral("plain@x"));
}

// A UID file written by an earlier version (its bytes below) still gives
// each task its UID, whatever the order of the list now and whether a
// task was recycled or restored since; written again for the same tasks
// in the same order, it is the same bytes.
TEST_F(UidFile, AFileFromAnEarlierVersionKeepsEveryTasksUid)
{
    const QByteArray earlier =
        "#uids 2\n"
        "a%20b%251@cal e0ecde4eb5eca4411357e0c8 d30af076b0dc85cc5b0074b4 "
        "e415b6ab273c9df6b157fa7d 6f8b9ee3c2177d8a4fa8946b\n"
        "call-bob@quillet 798c7f00ce6334268a6b79fe e3b0c44298fc1c149afbf4c8 "
        "7dcde52d8eae5f468e4b161e e3b0c44298fc1c149afbf4c8\n"
        "twin@quillet e0ecde4eb5eca4411357e0c8 d30af076b0dc85cc5b0074b4 "
        "e415b6ab273c9df6b157fa7d 6f8b9ee3c2177d8a4fa8946b\n";
    writeFile(path, earlier);
    Task rent;
    rent.title = QString::fromUtf8("Rent \xe2\x9c\x93");
    rent.forWhom = QStringLiteral("Me");
    rent.description = QStringLiteral("Transfer\r\nby the 1st");
    rent.year = 2026;
    rent.month = 13;
    rent.day = -2;
    rent.hour = 9;
    rent.minute = 30;
    rent.second = 15;
    rent.deleted = QStringLiteral("N");
    Task call;
    call.title = QStringLiteral("Call Bob");
    call.year = 2026;
    call.month = 12;
    call.day = 24;
    call.deleted = QStringLiteral("N");  // "Y" when the file was written

    // Sorted since: the call first.
    tasks[0] = call;
    tasks[1] = rent;
    tasks[2] = rent;
    const std::vector<TaskPrint> prints{printOf(call), printOf(rent), printOf(rent)};
    const QStringList uids = assignUids(prints, readUidFile(path));
    EXPECT_EQ(uids, (QStringList{"call-bob@quillet", "a b%1@cal", "twin@quillet"}));

    std::swap(tasks[0], tasks[1]);
    QString why;
    ASSERT_TRUE(writeUidFile(path, {"a b%1@cal", "call-bob@quillet", "twin@quillet"}, &why))
        << why.toStdString();
    EXPECT_EQ(readFile(path), earlier);
}

// What stands at a name of Quillet's own: never replaced unless it is a
// regular file, never waited on, a link followed only when it is ours.
struct PlantedCase {
    const char *name;
    // Plants at `at`; `victim` is a file a link may lead to.
    std::function<void(const QString &at, const QString &victim)> plant;
    OwnFileWrite::Streams streams;
    bool written;
    const char *says;  // part of the message when refused
    bool victimChanges;
};

void PrintTo(const PlantedCase &c, std::ostream *os) { *os << c.name; }

class PlantedAtOwnFile : public ::testing::TestWithParam<PlantedCase> { };

TEST_P(PlantedAtOwnFile, IsReplacedOnlyWhenItIsARegularFile)
{
    const PlantedCase &c = GetParam();
    QTemporaryDir dir;
    const QString at = dir.filePath(QStringLiteral("own"));
    const QString victim = dir.filePath(QStringLiteral("victim"));
    writeFile(victim, "victim's\n");
    c.plant(at, victim);
    const mode_t before = kindAt(at);

    // A writer that waits on a FIFO never comes back: the hang guard is the
    // test's own thread giving up after ten seconds.
    OwnFileWrite w;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        w = writeOwnFile(at, "new\n", c.streams);
        done = true;
    });
    for (int i = 0; i < 1000 && !done; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!done) {
        // Lets the writer go so that the test can end.
        const int fd = ::open(path8(at).constData(), O_RDONLY | O_NONBLOCK);
        writer.join();
        ::close(fd);
        FAIL() << "the writer waited on " << c.name;
    }
    writer.join();

    EXPECT_EQ(w.ok(), c.written) << w.why.toStdString();
    if (!c.written) {
        EXPECT_TRUE(w.why.contains(QLatin1String(c.says))) << w.why.toStdString();
    }
    if (before != S_IFREG && before != 0) {
        EXPECT_EQ(kindAt(at), before) << "what stood there stays";
    }
    EXPECT_EQ(readFile(victim), c.victimChanges ? QByteArray("new\n") : QByteArray("victim's\n"));
    EXPECT_EQ(temporariesIn(dir.path()), QStringList());
}

void link(const QString &to, const QString &at) { ASSERT_TRUE(QFile::link(to, at)); }

INSTANTIATE_TEST_SUITE_P(
    OwnFiles, PlantedAtOwnFile,
    ::testing::Values(
        PlantedCase{"Nothing", [](const QString &, const QString &) {},
                    OwnFileWrite::StreamsRefused, true, "", false},
        PlantedCase{"Fifo",
                    [](const QString &at, const QString &) {
                        ASSERT_EQ(::mkfifo(path8(at).constData(), 0600), 0);
                    },
                    OwnFileWrite::StreamsRefused, false, "not a regular file", false},
        PlantedCase{"FifoWithoutReaderAsExport",
                    [](const QString &at, const QString &) {
                        ASSERT_EQ(::mkfifo(path8(at).constData(), 0600), 0);
                    },
                    OwnFileWrite::StreamsWrittenTo, false, "no program is reading", false},
        PlantedCase{"Folder", [](const QString &at, const QString &) { QDir().mkdir(at); },
                    OwnFileWrite::StreamsWrittenTo, false, "folder", false},
        PlantedCase{"LinkToDevNull",
                    [](const QString &at, const QString &) { link("/dev/null", at); },
                    OwnFileWrite::StreamsRefused, false, "not a regular file", false},
        PlantedCase{"OwnLinkToAFile", [](const QString &at, const QString &v) { link(v, at); },
                    OwnFileWrite::StreamsRefused, true, "", true},
        PlantedCase{"OwnDanglingLink",
                    [](const QString &at, const QString &v) { link(v + ".new", at); },
                    OwnFileWrite::StreamsRefused, true, "", false}),
    [](const auto &info) { return std::string(info.param.name); });

// A pipe given as an export's PATH is written to, as "> PATH" would.
TEST(OwnFiles, AReadPipeGetsTheBytesAndStaysAPipe)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(path8(fifo).constData(), 0600), 0);
    const int reader = ::open(path8(fifo).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const OwnFileWrite w = writeOwnFile(fifo, "calendar\n", OwnFileWrite::StreamsWrittenTo);
    EXPECT_TRUE(w.ok()) << w.why.toStdString();
    char got[32] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), 9);
    EXPECT_STREQ(got, "calendar\n");
    ::close(reader);
    EXPECT_EQ(kindAt(fifo), mode_t(S_IFIFO));
}

// In a folder of a group, another member's link is never written through.
TEST(OwnFiles, AnotherUsersLinkIsRefused)
{
    const auto other = testsupport::testUser("quillet-planter");
    if (::geteuid() != 0 || !other)
        GTEST_SKIP() << "only root can make a link that another user owns";
    QTemporaryDir dir;
    const QString at = dir.filePath(QStringLiteral("own"));
    const QString victim = dir.filePath(QStringLiteral("victim"));
    writeFile(victim, "victim's\n");
    link(victim, at);
    ASSERT_EQ(::lchown(path8(at).constData(), other->uid, other->gid), 0);
    const OwnFileWrite w = writeOwnFile(at, "new\n");
    EXPECT_FALSE(w.ok());
    EXPECT_TRUE(w.why.contains(QLatin1String("belongs to another user"))) << w.why.toStdString();
    EXPECT_EQ(readFile(victim), QByteArray("victim's\n"));
}

// In a folder of a group (setgid, sticky), another member's file can be
// written but not renamed over: it is rewritten in place, and stays
// theirs; one the user may not write is refused and stays as it was.
TEST(OwnFiles, AnotherMembersFileIsRewrittenInPlaceWhereItMayBe)
{
    const auto alice = testsupport::testUser("qtest-alice", {"qtest-staff"});
    const auto bob = testsupport::testUser("qtest-bob", {"qtest-staff"});
    const auto staff = testsupport::testGroup("qtest-staff");
    if (::geteuid() != 0 || !alice || !bob || !staff)
        GTEST_SKIP() << "only root can make the users of a shared folder";
    QTemporaryDir dir;
    ASSERT_EQ(::chown(path8(dir.path()).constData(), 0, *staff), 0);
    ASSERT_EQ(::chmod(path8(dir.path()).constData(), 03770), 0);
    struct {
        mode_t mode;
        bool written;
    } const cases[] = {{0664, true}, {0644, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mode);
        const QString path = dir.filePath(QStringLiteral(".tasks.txt.uids"));
        QFile::remove(path);
        writeFile(path, "bob's\n");
        ASSERT_EQ(::chown(path8(path).constData(), bob->uid, *staff), 0);
        ASSERT_EQ(::chmod(path8(path).constData(), c.mode), 0);
        const int status = testsupport::runAs(
            *alice, [&] { return writeOwnFile(path, "alice's\n").ok() ? 0 : 1; });
        EXPECT_EQ(status, c.written ? 0 : 1);
        EXPECT_EQ(readFile(path), c.written ? QByteArray("alice's\n") : QByteArray("bob's\n"));
        struct stat st { };
        ASSERT_EQ(::stat(path8(path).constData(), &st), 0);
        EXPECT_EQ(st.st_uid, bob->uid);
        EXPECT_EQ(st.st_mode & 07777, c.mode);
    }
}

// A save or an export killed half-way leaves its temporary; the next
// writer in the folder removes it, unless its writer still holds it or it
// is not this user's plain file.
TEST(Temporaries, AKilledWritersAreRemovedByTheNextOne)
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("own"));
    for (int round = 0; round < 3; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            setNewFileHook([](const QByteArray &) { ::raise(SIGKILL); });
            writeOwnFile(target, "half\n");
            ::_exit(0);
        }
        ASSERT_EQ(exitOf(child), 128 + SIGKILL);
        // Each killed writer removed the one before it.
        ASSERT_EQ(temporariesIn(dir.path()).size(), 1);
    }

    // Held by a writer that is still at work, a link, a folder: left alone.
    const QString held = dir.filePath(QStringLiteral(".own.quillet-held00"));
    writeFile(held, "held");
    const int heldFd = ::open(path8(held).constData(), O_RDONLY);
    ASSERT_EQ(::flock(heldFd, LOCK_EX), 0);
    link(held, dir.filePath(QStringLiteral(".own.quillet-link00")));
    QDir().mkdir(dir.filePath(QStringLiteral(".own.quillet-dir000")));

    const OwnFileWrite w = writeOwnFile(target, "whole\n");
    ASSERT_TRUE(w.ok()) << w.why.toStdString();
    EXPECT_EQ(readFile(target), QByteArray("whole\n"));
    QStringList left = temporariesIn(dir.path());
    left.sort();
    EXPECT_EQ(left,
              (QStringList{".own.quillet-dir000", ".own.quillet-held00", ".own.quillet-link00"}));
    ::close(heldFd);
}

// The file mounted over the name at the last moment: the descriptor still
// shows the file as it was read, only its name tells.
TEST(RewriteInPlace, TheNameIsCheckedAgainAtTheLastMoment)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can mount over a file";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tasks.txt"));
    const QString other = dir.filePath(QStringLiteral("other"));
    testsupport::resetWorld();
    taskCount = 1;
    tasks[0].title = QStringLiteral("Mine");
    ASSERT_TRUE(saveTasks(path));
    ASSERT_TRUE(loadTasks(path));
    const QByteArray theirs = readFile(path).replace("Mine", "Them");
    writeFile(other, theirs);
    // A second name makes the save a rewrite in place.
    ASSERT_EQ(::link(path8(path).constData(), path8(dir.filePath("second")).constData()), 0);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A mount of its own, gone with the child.
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            ::_exit(77);
        setBeforeRenameHook([&] {
            if (::mount(path8(other).constData(), path8(path).constData(), nullptr, MS_BIND,
                        nullptr) != 0)
                ::_exit(78);
        });
        tasks[0].title = QStringLiteral("Mine again");
        const FileStatus st = saveTasks(path);
        const bool unchanged = readFile(path) == theirs;
        ::_exit(st.code == FileStatus::ChangedOutside && unchanged ? 0 : 1);
    }
    const int status = exitOf(child);
    if (status == 77 || status == 78)
        GTEST_SKIP() << "no mount namespace here";
    EXPECT_EQ(status, 0) << "the save went on through the file no longer at its name";
}

// quillet.conf as QSettings writes and reads it: the geometry goes both ways.
TEST(SettingsFile, QSettingsAndTheStoreReadEachOther)
{
    const QByteArray values[] = {
        QByteArray("\x01\xd9\xd0\xcb\x00\x03\x00\x00", 8),
        QByteArray("digits after \x01"
                   "0123abcdef",
                   24),
        "quotes \" back\\slash ; semi , comma = eq",
        " leading and trailing ",
        QByteArray(),
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("quillet.conf"));
    for (const QByteArray &value : values) {
        SCOPED_TRACE(value.toHex().toStdString());
        QFile::remove(path);
        {
            QSettings s(path, QSettings::IniFormat);
            s.setValue("mainWindow/geometry", value);
        }
        EXPECT_EQ(readSettingsBytes(path, "mainWindow", "geometry"), value);

        ASSERT_TRUE(writeSettingsBytes(path, "mainWindow", "geometry", value).ok());
        QSettings s(path, QSettings::IniFormat);
        EXPECT_EQ(s.value("mainWindow/geometry").toByteArray(), value);
        EXPECT_EQ(readSettingsBytes(path, "mainWindow", "geometry"), value);
    }
}

}  // namespace
