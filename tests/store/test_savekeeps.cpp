// A save changes the list and nothing else: who may read or write the
// file, which file it is, and the previous list kept as tasks.txt~.
#include "printers.h"
#include "store/safefile.h"
#include "store/tables.h"
#include "store/taskfile.h"
#include "store/testhooks.h"
#include "support/taskfilebuilder.h"
#include "support/testsupport.h"
#include "support/testusers.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

using namespace Module1;
using testsupport::readFile;
using testsupport::shell;
using testsupport::writeFile;

namespace {

QByteArray quoted(const QString &path) { return '\'' + QFile::encodeName(path) + '\''; }

// What getfacl says of the file: every entry and the mask.
QByteArray aclOf(const QString &path)
{
    QByteArray out;
    if (FILE *p = ::popen("getfacl --omit-header --absolute-names " + quoted(path) + " 2>&1", "r")) {
        char buffer[512];
        while (const size_t n = std::fread(buffer, 1, sizeof buffer, p))
            out.append(buffer, qsizetype(n));
        ::pclose(p);
    }
    return out;
}

struct Identity {
    ino_t inode = 0;
    uid_t uid = 0;
    gid_t gid = 0;
    mode_t mode = 0;
    bool operator==(const Identity &) const = default;
};

Identity identityOf(const QString &path)
{
    struct stat st { };
    ::stat(QFile::encodeName(path).constData(), &st);
    return {st.st_ino, st.st_uid, st.st_gid, st.st_mode & 07777};
}

QStringList leftovers(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral(".tasks.txt.*")}, QDir::Files | QDir::Hidden);
}

QByteArray aTaskFile() { return testsupport::taskFile({testsupport::dueOn("Old", QDate(2027, 1, 1))}, {}); }

// In a child, as `user`: the list read, a task added, saved. 0 when saved
// and nothing said; 1 when refused with a message that names the file and
// holds `said`.
int addATaskAs(const testsupport::TestUser &user, const QString &path, const char *said)
{
    return testsupport::runAs(user, [&] {
        resetTables();
        if (!loadTasks(path))
            return 10;
        tasks[taskCount] = tasks[0];
        tasks[taskCount].title = QStringLiteral("Added");
        ++taskCount;
        const FileStatus st = saveTasks(path);
        if (!st.ok() || !st.notice.isEmpty())
            std::fprintf(stderr, "%s%s\n", qPrintable(st.error), qPrintable(st.notice));
        if (st.ok())
            return st.notice.isEmpty() ? 0 : 11;
        return st.error.contains(path) && st.error.contains(QLatin1String(said)) ? 1 : 12;
    });
}

enum class Saved { Refused, Replaced, InPlace };

struct Shared {
    QTemporaryDir dir;
    testsupport::TestUser alice, bob;
    gid_t staff = 0, other = 0;
    QString folder() const { return dir.path(); }
    QString file() const { return dir.filePath(QStringLiteral("tasks.txt")); }
    void own(const QString &path, uid_t uid, gid_t gid, mode_t mode) const
    {
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), uid, gid), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
    }
};

struct WhoCase {
    const char *name;
    std::function<void(Shared &)> setUp;  // as root, with the file written
    bool bobSaves;                        // else alice, who owns the folder
    Saved saved;
    const char *said;
};

TEST(SaveKeeps, WhoMayReadOrWriteTheFileAndWhichFileItIs)
{
    const auto alice = testsupport::testUser("qtest-alice", {"qtest-staff"});
    const auto bob = testsupport::testUser("qtest-bob", {"qtest-staff"});
    const auto staff = testsupport::testGroup("qtest-staff");
    const auto other = testsupport::testGroup("qtest-other");
    if (!alice || !bob || !staff || !other)
        GTEST_SKIP() << "needs root, to make users and groups";
    if (shell("command -v setfacl >/dev/null") != 0)
        GTEST_SKIP() << "setfacl is not installed";

    const WhoCase cases[] = {
        {"an ACL that lets a colleague write",
         [](Shared &s) {
             ASSERT_EQ(shell("setfacl -m u:qtest-bob:rw " + quoted(s.file())), 0);
         },
         false, Saved::Replaced, ""},
        {"a folder's default ACL, a file without one",
         [](Shared &s) {
             ASSERT_EQ(shell("setfacl -d -m u:qtest-bob:rw " + quoted(s.folder())), 0);
             s.own(s.file(), s.alice.uid, s.alice.gid, 0600);
         },
         false, Saved::Replaced, ""},
        {"a member who may only read another member's file",
         [](Shared &s) {
             s.own(s.folder(), s.alice.uid, s.staff, 0775);
             s.own(s.file(), s.alice.uid, s.staff, 0640);
         },
         true, Saved::Refused, "you may not write to it"},
        {"a file its owner made read-only",
         [](Shared &s) { s.own(s.file(), s.alice.uid, s.alice.gid, 0444); }, false,
         Saved::Refused, "you may not write to it"},
        {"root's file in the user's folder",
         [](Shared &s) { s.own(s.file(), 0, 0, 0644); }, false, Saved::Refused,
         "you may not write to it"},
        {"root's file that anyone may write", [](Shared &s) { s.own(s.file(), 0, 0, 0666); },
         false, Saved::InPlace, ""},
        {"another member's file the group may write",
         [](Shared &s) {
             s.own(s.folder(), s.alice.uid, s.staff, 0775);
             s.own(s.file(), s.alice.uid, s.staff, 0660);
         },
         true, Saved::InPlace, ""},
        {"the user's file in a group the user is not in",
         [](Shared &s) { s.own(s.file(), s.alice.uid, s.other, 0640); }, false, Saved::InPlace,
         ""},
        {"a folder the user may not write, a file the user may",
         [](Shared &s) { s.own(s.folder(), s.alice.uid, s.alice.gid, 0555); }, false,
         Saved::InPlace, ""},
        {"a hard link",
         [](Shared &s) {
             ASSERT_EQ(::link(QFile::encodeName(s.file()).constData(),
                              QFile::encodeName(s.dir.filePath("copy.txt")).constData()),
                       0);
         },
         false, Saved::InPlace, ""},
        {"a file mounted there",
         [](Shared &s) {
             const QString real = s.dir.filePath(QStringLiteral("real.txt"));
             writeFile(real, aTaskFile());
             s.own(real, s.alice.uid, s.alice.gid, 0644);
             if (shell("mount --bind " + quoted(real) + ' ' + quoted(s.file()) + " 2>/dev/null") != 0)
                 GTEST_SKIP() << "no bind mounts here";
         },
         false, Saved::InPlace, ""},
        {"an append-only folder",
         [](Shared &s) {
             if (shell("chattr +a " + quoted(s.folder()) + " 2>/dev/null") != 0)
                 GTEST_SKIP() << "this file system has no append-only folders";
         },
         false, Saved::InPlace, ""},
    };
    for (const WhoCase &c : cases) {
        SCOPED_TRACE(c.name);
        Shared s;
        ASSERT_TRUE(s.dir.isValid());
        s.alice = *alice;
        s.bob = *bob;
        s.staff = *staff;
        s.other = *other;
        s.own(s.folder(), s.alice.uid, s.alice.gid, 0755);
        writeFile(s.file(), aTaskFile());
        s.own(s.file(), s.alice.uid, s.alice.gid, 0644);
        c.setUp(s);
        if (testing::Test::IsSkipped())
            return;
        const QByteArray before = readFile(s.file());
        const Identity was = identityOf(s.file());
        const QByteArray acl = aclOf(s.file());

        const int status = addATaskAs(c.bobSaves ? s.bob : s.alice, s.file(), c.said);

        shell("chattr -a " + quoted(s.folder()) + " 2>/dev/null");
        const bool mounted = QFile::exists(s.dir.filePath("real.txt"));
        const QByteArray afterSave = readFile(s.file());
        EXPECT_EQ(status, c.saved == Saved::Refused ? 1 : 0);
        const Identity now = identityOf(s.file());
        if (c.saved == Saved::Refused) {
            EXPECT_EQ(readFile(s.file()), before);
        } else {
            EXPECT_TRUE(readFile(s.file()).contains("ttl=Added"));
        }
        EXPECT_EQ(now.uid, was.uid);
        EXPECT_EQ(now.gid, was.gid);
        EXPECT_EQ(now.mode, was.mode);
        EXPECT_EQ(aclOf(s.file()), acl);
        if (c.saved != Saved::Replaced) {
            EXPECT_EQ(now.inode, was.inode) << "the file itself stays";
        }
        if (QFile::exists(s.dir.filePath("copy.txt"))) {
            EXPECT_EQ(readFile(s.dir.filePath("copy.txt")), readFile(s.file()));
        }
        EXPECT_EQ(leftovers(s.folder()), QStringList{});
        if (mounted) {
            shell("umount " + quoted(s.file()));
            EXPECT_EQ(readFile(s.dir.filePath("real.txt")), afterSave);
        }
    }
}

// The backup a save keeps is never more open than the list: where it
// cannot be the list's twin (another owner, a folder that takes no new
// names) it is its writer's alone.
TEST(SaveKeeps, TheBackupIsNeverMoreOpenThanTheList)
{
    const auto alice = testsupport::testUser("qtest-alice", {"qtest-staff"});
    const auto bob = testsupport::testUser("qtest-bob", {"qtest-staff"});
    const auto staff = testsupport::testGroup("qtest-staff");
    if (!alice || !bob || !staff)
        GTEST_SKIP() << "needs root, to make users and groups";

    struct {
        const char *name;
        bool appendOnly;  // the folder takes no new names
        bool bobSaves;    // else alice, who owns the list
        mode_t backupMode;
    } const cases[] = {
        {"the user's own list", false, false, 0640},
        {"another member's list", false, true, 0600},
        {"the user's own list, in an append-only folder", true, false, 0640},
        {"another member's list, in an append-only folder", true, true, 0600},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Shared s;
        ASSERT_TRUE(s.dir.isValid());
        s.own(s.folder(), alice->uid, *staff, 0775);
        writeFile(s.file(), aTaskFile());
        s.own(s.file(), alice->uid, *staff, c.bobSaves ? 0660 : 0640);
        if (c.appendOnly && shell("chattr +a " + quoted(s.folder()) + " 2>/dev/null") != 0)
            GTEST_SKIP() << "this file system has no append-only folders";
        const QByteArray before = readFile(s.file());

        const int status = addATaskAs(c.bobSaves ? *bob : *alice, s.file(), "");

        shell("chattr -a " + quoted(s.folder()) + " 2>/dev/null");
        EXPECT_EQ(status, 0);
        const QString backup = s.file() + u'~';
        EXPECT_EQ(readFile(backup), before);
        const Identity kept = identityOf(backup);
        EXPECT_EQ(kept.uid, c.bobSaves ? bob->uid : alice->uid);
        EXPECT_EQ(kept.mode, c.backupMode) << std::oct << kept.mode;
    }
}

class Backup : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        testsupport::resetWorld();
    }
    void TearDown() override { forgetThisRun(); }
    QString file() const { return dir.filePath(QStringLiteral("tasks.txt")); }
    QString backup() const { return file() + u'~'; }
    void addTask(const char *title)
    {
        tasks[taskCount] = tasks[0];
        tasks[taskCount].title = QString::fromLatin1(title);
        ++taskCount;
    }
    QTemporaryDir dir;
};

TEST_F(Backup, TheFirstSaveOfARunKeepsThePreviousList)
{
    // GIVEN a list from an earlier run
    writeFile(file(), aTaskFile());
    ::chmod(QFile::encodeName(file()).constData(), 0640);
    const QByteArray earlier = readFile(file());
    ASSERT_TRUE(loadTasks(file()));

    // WHEN this run saves twice
    addTask("First");
    ASSERT_TRUE(saveTasks(file()));
    EXPECT_EQ(readFile(backup()), earlier);
    EXPECT_EQ(identityOf(backup()).mode, 0640u);
    addTask("Second");
    ASSERT_TRUE(saveTasks(file()));
    // THEN the backup still holds the list as the run found it
    EXPECT_EQ(readFile(backup()), earlier);

    // WHEN the next run saves THEN it refreshes the backup
    forgetThisRun();
    const QByteArray byThisRun = readFile(file());
    ASSERT_TRUE(loadTasks(file()));
    addTask("Third");
    ASSERT_TRUE(saveTasks(file()));
    EXPECT_EQ(readFile(backup()), byThisRun);
}

TEST_F(Backup, WhateverStandsAtItsNameIsReplacedNotWrittenThrough)
{
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.filePath(QStringLiteral("precious"));
    writeFile(victim, "keep me");
    ASSERT_TRUE(QFile::link(victim, backup()));
    writeFile(file(), aTaskFile());
    ASSERT_TRUE(loadTasks(file()));
    addTask("New");
    ASSERT_TRUE(saveTasks(file()));
    EXPECT_EQ(readFile(victim), "keep me");
    EXPECT_FALSE(QFileInfo(backup()).isSymLink());
    EXPECT_EQ(readFile(backup()), aTaskFile());
}

// A disk that fails late, at the sync: the save is a failure and the old
// list stays, whichever way it is written.
TEST_F(Backup, ASyncThatFailsIsAFailedSave)
{
    struct {
        const char *name;
        bool existing;
        bool hardLink;  // written in place
    } const cases[] = {{"a first save", false, false},
                       {"a replace", true, false},
                       {"a rewrite in place", true, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir d;
        const QString path = d.filePath(QStringLiteral("tasks.txt"));
        if (c.existing) {
            writeFile(path, aTaskFile());
        }
        if (c.hardLink) {
            ASSERT_EQ(::link(QFile::encodeName(path).constData(),
                             QFile::encodeName(d.filePath("other")).constData()),
                      0);
        }
        ASSERT_EQ(loadTasks(path).ok(), c.existing);
        const QByteArray before = c.existing ? readFile(path) : QByteArray();
        addTask("Lost?");
        // The backup is written first and synced too: the failure comes at
        // the list's own file.
        int syncs = 0;
        setSyncHook([&](int fd) {
            if (++syncs == 1 && c.existing)
                return ::fsync(fd);
            errno = EIO;
            return -1;
        });
        const FileStatus st = saveTasks(path);
        setSyncHook({});
        EXPECT_EQ(st.code, FileStatus::WriteFailed);
        EXPECT_TRUE(st.error.contains(QStringLiteral("Input/output error"))) << st.error.toStdString();
        EXPECT_EQ(QFile::exists(path) ? readFile(path) : QByteArray(), before);
        EXPECT_EQ(leftovers(d.path()), QStringList{});
    }
}

// A new list takes the umask's mode; a replaced one is the owner's alone
// from the moment its new file exists until it takes the old mode.
TEST_F(Backup, ANewFileIsOpenToNobodyUntilItTakesTheOldMode)
{
    struct {
        const char *name;
        bool existing;
        mode_t umask;
        mode_t atCreation, final;
    } const cases[] = {
        {"first save, umask 022", false, 022, 0644, 0644},
        {"first save, umask 077", false, 077, 0600, 0600},
        {"replace of a 0664 file", true, 022, 0600, 0664},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir d;
        const QString path = d.filePath(QStringLiteral("tasks.txt"));
        if (c.existing) {
            writeFile(path, aTaskFile());
            ::chmod(QFile::encodeName(path).constData(), 0664);
        }
        loadTasks(path);
        addTask("New");
        mode_t seen = 0;
        setNewFileHook([&](const QByteArray &name) {
            if (!name.startsWith(".tasks.txt."))
                return;  // the backup's
            struct stat st { };
            ::stat(QFile::encodeName(d.path()) + '/' + name, &st);
            seen = st.st_mode & 07777;
        });
        const mode_t old = ::umask(c.umask);
        const FileStatus st = saveTasks(path);
        ::umask(old);
        setNewFileHook({});
        ASSERT_TRUE(st) << st.error.toStdString();
        EXPECT_EQ(seen, c.atCreation) << std::oct << seen;
        EXPECT_EQ(identityOf(path).mode, c.final) << std::oct << identityOf(path).mode;
    }
}

// Changes made elsewhere win, even those a modification time cannot show.
TEST_F(Backup, AChangeMadeElsewhereIsNeverOverwritten)
{
    const QByteArray theirs =
        testsupport::taskFile({testsupport::dueOn("Theirs", QDate(2027, 2, 2))}, {});
    struct {
        const char *name;
        bool existsAtLoad;
        bool duringTheSave;  // else between the load and the save
    } const cases[] = {
        {"a file made after a load that found none", false, false},
        {"rewritten during the save with its time put back", true, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir d;
        const QString path = d.filePath(QStringLiteral("tasks.txt"));
        // Mine and theirs are the same size: only the change time differs.
        QByteArray mine = theirs;
        mine.replace("Theirs", "Mine!!");
        if (c.existsAtLoad)
            writeFile(path, mine);
        loadTasks(path);
        const auto change = [&] {
            struct stat st { };
            ::stat(QFile::encodeName(path).constData(), &st);
            writeFile(path, theirs);
            const timespec times[2] = {st.st_atim, st.st_mtim};
            if (c.existsAtLoad)
                ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
        };
        if (c.duringTheSave)
            setBeforeRenameHook(change);
        else
            change();
        addTask("Mine too");
        const FileStatus st = saveTasks(path);
        setBeforeRenameHook({});
        EXPECT_EQ(st.code, FileStatus::ChangedOutside);
        EXPECT_EQ(readFile(path), theirs);
    }
}

}  // namespace
