// The files the terminal commands write besides the list (the UID file, an
// export) and read (an import), through the built program: whatever
// stands at their names, a full disk, a killed save, another user.
#include "support/taskfilebuilder.h"
#include "support/testsupport.h"
#include "support/testusers.h"
#include "system/runtool.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

using testsupport::dueOn;
using testsupport::readFile;
using testsupport::taskFile;
using testsupport::writeFile;

QByteArray path8(const QString &path) { return QFile::encodeName(path); }

// What stands at a name, without following it: its kind, a link's target,
// a file's owner and bytes.
QByteArray whatIsAt(const QString &path)
{
    struct stat st { };
    if (::lstat(path8(path).constData(), &st) != 0)
        return "nothing";
    if (S_ISLNK(st.st_mode)) {
        char to[512] = {};
        return "a link to " + QByteArray(to, ::readlink(path8(path).constData(), to, 511));
    }
    if (S_ISFIFO(st.st_mode))
        return "a pipe";
    if (S_ISDIR(st.st_mode))
        return "a folder";
    if (S_ISCHR(st.st_mode))
        return "a device " + QByteArray::number(quint64(st.st_rdev));
    return "a file of " + QByteArray::number(st.st_uid) + ": " + readFile(path);
}

// A calendar as another program writes it, with one to-do of that UID.
QByteArray calendarWith(const QByteArray &uid)
{
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Other//EN\r\nBEGIN:VTODO\r\nUID:" + uid +
           "\r\nSUMMARY:Theirs\r\nDUE:20270105T100000\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";
}

struct Ran {
    int status = -1;  // -1: it hung, and was killed
    QByteArray out, err;
};

class OwnFiles : public ::testing::Test {
public:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid() && home.isValid() && runtime.isValid());
        env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        env.insert("HOME", home.path());
        env.insert("XDG_STATE_HOME", home.path() + "/.local/state");
        env.insert("LANG", "en_US.UTF-8");
        pinToday(env);
        writeFile(list(), taskFile({dueOn("Mine", QDate(2027, 1, 2))}, {}));
        victim = home.filePath(".bashrc");
        writeFile(victim, "echo the victim's own\n");
    }

    QString list() const { return dir.filePath("tasks.txt"); }
    QString uids() const { return dir.filePath(".tasks.txt.uids"); }
    // What an export says besides the line that names its list.
    QByteArray besidesTheList(const QByteArray &err) const
    {
        QString said = QString::fromUtf8(err);
        said.remove(QRegularExpression(QStringLiteral("^Exported \\d+ tasks? of ") +
                                       QRegularExpression::escape(list()) +
                                       QStringLiteral("\n"),
                                       QRegularExpression::MultilineOption));
        return said.toUtf8();
    }

    // Runs the program to its end, or kills it after ten times what a quiet
    // machine takes: a wait on a pipe never ends by itself.
    Ran run(const QStringList &args, const QString &input = {})
    {
        QProcess p;
        if (asUser)
            p.setChildProcessModifier(asUser);
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir.path());
        if (!input.isEmpty())
            p.setStandardInputFile(input);
        p.start(QStringLiteral(QUILLET_BINARY), args);
        Ran r;
        if (!p.waitForStarted(5000))
            return r;
        if (!p.waitForFinished(20000)) {
            p.kill();
            p.waitForFinished(3000);
            return r;
        }
        r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : 128;
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
        return r;
    }

    // The folder of the list shared as groups share them (root's, setgid
    // and sticky), the list the user's, and the program run as the user;
    // `colleague` another member. False when this cannot be made here.
    bool shareTheFolder()
    {
        if (::geteuid() != 0)
            return false;
        user = testsupport::testUser("qtest-alice", {"qtest-staff"});
        colleague = testsupport::testUser("qtest-bob", {"qtest-staff"});
        const auto staff = testsupport::testGroup("qtest-staff");
        if (!user || !colleague || !staff)
            return false;
        const uid_t uid = user->uid;
        const std::array<gid_t, 2> groups{user->gid, *staff};
        for (const QString &mine : {home.path(), victim, runtime.path()})
            ::chown(path8(mine).constData(), uid, user->gid);
        ::chown(path8(dir.path()).constData(), 0, *staff);
        ::chmod(path8(dir.path()).constData(), 03770);
        ::chown(path8(list()).constData(), uid, *staff);
        ::chmod(path8(home.path()).constData(), 0755);
        // Between fork and exec: system calls only.
        asUser = [uid, groups] {
            if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(groups[0]) != 0 ||
                ::setuid(uid) != 0)
                ::_exit(127);
        };
        return true;
    }

    QTemporaryDir dir, home, runtime;
    QProcessEnvironment env;
    QString victim;
    std::function<void()> asUser;
    std::optional<testsupport::TestUser> user, colleague;
};

// What stands at one of the names a command uses.
struct PlantedCase {
    const char *name;
    enum Where { UidFile, ExportPath, ImportSource } where;
    // Plants at `at`; false: this machine cannot (not root), skipped.
    std::function<bool(OwnFiles &t, const QString &at)> plant;
    int status;
    const char *says;     // in the message; empty: no message
    bool shared = false;  // planted by a colleague in a folder of a group
};

void PrintTo(const PlantedCase &c, std::ostream *os) { *os << c.name; }

class Planted : public OwnFiles, public ::testing::WithParamInterface<PlantedCase> { };

TEST_P(Planted, IsNeitherReplacedNorWrittenThroughNorWaitedOn)
{
    const PlantedCase &c = GetParam();
    if (c.shared && !shareTheFolder())
        GTEST_SKIP() << "only root can make the users of a shared folder";
    const QString at = c.where == PlantedCase::UidFile      ? uids()
                       : c.where == PlantedCase::ExportPath ? dir.filePath("out.ics")
                                                            : dir.filePath("in.ics");
    if (!c.plant(*this, at))
        GTEST_SKIP() << "only root can plant this";
    if (c.shared) {
        ASSERT_EQ(::lchown(path8(at).constData(), colleague->uid, colleague->gid), 0);
    }
    const QByteArray planted = whatIsAt(at);
    const QByteArray victimBefore = whatIsAt(victim);

    const QString out = dir.filePath("out.ics");
    const Ran r = c.where == PlantedCase::ImportSource ? run({"--import-ics", at})
                                                       : run({"--export-ics", out});
    ASSERT_NE(r.status, -1) << "the program hung";
    EXPECT_EQ(r.status, c.status) << r.err.toStdString();
    if (*c.says) {
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
    } else {
        EXPECT_EQ(besidesTheList(r.err), QByteArray());
    }
    EXPECT_EQ(whatIsAt(at), planted) << "what stood there stays as it was";
    EXPECT_EQ(whatIsAt(victim), victimBefore);
    // A calendar goes out only with its UIDs kept: imported later it
    // would otherwise add every task again.
    if (c.where == PlantedCase::UidFile && c.status != 0) {
        EXPECT_EQ(whatIsAt(out), QByteArray("nothing"));
    }
}

bool fifo(const QString &at) { return ::mkfifo(path8(at).constData(), 0600) == 0; }

// A device of its own, so that a mistake replaces nothing of the machine's.
bool device(const QString &at, unsigned minor)
{
    return ::geteuid() == 0 &&
           ::mknod(path8(at).constData(), S_IFCHR | 0666, makedev(1, minor)) == 0;
}

INSTANTIATE_TEST_SUITE_P(
    Terminal, Planted,
    ::testing::Values(
        PlantedCase{"UidFileIsAFifo", PlantedCase::UidFile,
                    [](OwnFiles &, const QString &at) { return fifo(at); }, 1,
                    "not a regular file"},
        PlantedCase{"UidFileIsAFolder", PlantedCase::UidFile,
                    [](OwnFiles &, const QString &at) { return QDir().mkdir(at); }, 1,
                    "it is a folder"},
        PlantedCase{"UidFileLinksToADevice", PlantedCase::UidFile,
                    [](OwnFiles &t, const QString &at) {
                        const QString null = t.dir.filePath("null");
                        return device(null, 3) && QFile::link(null, at);
                    },
                    1, "not a regular file"},
        PlantedCase{"UidFileIsAColleaguesLinkIntoTheHome", PlantedCase::UidFile,
                    [](OwnFiles &t, const QString &at) { return QFile::link(t.victim, at); }, 1,
                    "belongs to another user", true},
        PlantedCase{"ExportToAPipeNoOneReads", PlantedCase::ExportPath,
                    [](OwnFiles &, const QString &at) { return fifo(at); }, 1,
                    "no program is reading"},
        PlantedCase{"ExportToAFullDevice", PlantedCase::ExportPath,
                    [](OwnFiles &, const QString &at) { return device(at, 7); }, 1,
                    "No space left on device"},
        PlantedCase{"ExportToANullDevice", PlantedCase::ExportPath,
                    [](OwnFiles &, const QString &at) { return device(at, 3); }, 0, ""},
        PlantedCase{"ExportToAFolder", PlantedCase::ExportPath,
                    [](OwnFiles &, const QString &at) { return QDir().mkdir(at); }, 1,
                    "it is a folder"},
        PlantedCase{"ExportToAColleaguesLink", PlantedCase::ExportPath,
                    [](OwnFiles &t, const QString &at) { return QFile::link(t.victim, at); }, 1,
                    "belongs to another user", true},
        PlantedCase{"ImportFromAFifo", PlantedCase::ImportSource,
                    [](OwnFiles &, const QString &at) { return fifo(at); }, 1,
                    "not a regular file"},
        PlantedCase{"ImportFromAnEndlessDevice", PlantedCase::ImportSource,
                    [](OwnFiles &, const QString &at) { return device(at, 5); }, 1,
                    "not a regular file"},
        PlantedCase{"ImportFromAFolder", PlantedCase::ImportSource,
                    [](OwnFiles &, const QString &at) { return QDir().mkdir(at); }, 1,
                    "it is a folder"}),
    [](const auto &info) { return std::string(info.param.name); });

// A pipe with a reader gets the calendar as "> PATH" would give it.
TEST_F(OwnFiles, AnExportToAReadPipeReachesItsReader)
{
    const QString at = dir.filePath("pipe");
    ASSERT_TRUE(fifo(at));
    const int reader = ::open(path8(at).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const Ran r = run({"--export-ics", at});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    QByteArray got(65536, '\0');
    got.truncate(qMax<ssize_t>(0, ::read(reader, got.data(), size_t(got.size()))));
    ::close(reader);
    EXPECT_TRUE(got.startsWith("BEGIN:VCALENDAR")) << got.toStdString();
    EXPECT_EQ(whatIsAt(at), QByteArray("a pipe"));
}

// A colleague's link into the user's home and a UID that holds a line
// break: the home's file stays the user's own, and no line of theirs gets
// anywhere.
TEST_F(OwnFiles, AColleaguesLinkAndALineInAUidReachNothing)
{
    if (!shareTheFolder())
        GTEST_SKIP() << "only root can make the users of a shared folder";
    const QString in = dir.filePath("in.ics");
    writeFile(in, calendarWith("x\\nrm -rf ~ #"));
    ::chown(path8(in).constData(), colleague->uid, colleague->gid);
    ASSERT_TRUE(QFile::link(victim, uids()));
    ASSERT_EQ(::lchown(path8(uids()).constData(), colleague->uid, colleague->gid), 0);
    const QByteArray before = whatIsAt(victim);

    const Ran imported = run({"--import-ics", in});
    EXPECT_EQ(imported.status, 1) << imported.err.toStdString();
    EXPECT_TRUE(imported.err.contains("belongs to another user")) << imported.err.toStdString();
    const Ran exported = run({"--export-ics", dir.filePath("out.ics")});
    EXPECT_EQ(exported.status, 1) << exported.err.toStdString();
    EXPECT_EQ(whatIsAt(victim), before);
}

// A UID with a space or an escaped line break is remembered: the same
// calendar imported again updates its task, and an export gives it back.
TEST_F(OwnFiles, AUidWithASpaceOrALineBreakIsKnownAgain)
{
    for (const QByteArray &uid : {QByteArray("with space@x"), QByteArray("line\\nbreak@x"),
                                  QByteArray("tab\tand%20percent")}) {
        SCOPED_TRACE(uid.toStdString());
        writeFile(list(), taskFile({}, {}));
        QFile::remove(uids());
        const QString in = dir.filePath("in.ics");
        writeFile(in, calendarWith(uid));
        const Ran first = run({"--import-ics", in});
        ASSERT_EQ(first.status, 0) << first.err.toStdString();
        EXPECT_EQ(first.out, "1 added, 0 updated in " + list().toUtf8() + "\n");
        const Ran again = run({"--import-ics", in});
        EXPECT_EQ(again.out, "0 added, 1 updated in " + list().toUtf8() + "\n")
            << again.err.toStdString();
        const Ran exported = run({"--export-ics", "-"});
        EXPECT_TRUE(exported.out.contains("UID:" + uid)) << exported.out.toStdString();
    }
}

// Standard input may be a file or a pipe: read to its end, bounded.
TEST_F(OwnFiles, AnImportFromStandardInputIsRead)
{
    const QString in = dir.filePath("in.ics");
    writeFile(in, calendarWith("stdin@x"));
    const Ran r = run({"--import-ics", "-"}, in);
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "1 added, 0 updated in " + list().toUtf8() + "\n");
}

// Where the list's folder is read-only to the user the UIDs cannot be kept
// at all: the export still goes out, and says so.
TEST_F(OwnFiles, AnExportFromAReadOnlyFolderGoesOutAndSaysTheUidsAreNotKept)
{
    if (::geteuid() == 0) {
        user = testsupport::testUser("qtest-alice");
        if (!user)
            GTEST_SKIP() << "useradd failed";
        for (const QString &mine : {home.path(), runtime.path()})
            ::chown(path8(mine).constData(), user->uid, user->gid);
        ::chmod(path8(home.path()).constData(), 0755);
        const uid_t uid = user->uid;
        const gid_t gid = user->gid;
        asUser = [uid, gid] {
            if (::setgroups(1, &gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                ::_exit(127);
        };
    }
    ::chmod(path8(dir.path()).constData(), 0555);
    const QString out = home.filePath("out.ics");
    const Ran r = run({"--export-ics", out});
    ::chmod(path8(dir.path()).constData(), 0755);
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(".tasks.txt.uids could not be written")) << r.err.toStdString();
    EXPECT_TRUE(readFile(out).startsWith("BEGIN:VCALENDAR"));
    EXPECT_EQ(whatIsAt(uids()), QByteArray("nothing"));
}

// A small tmpfs, filled up; not mounted when this machine does not let us.
struct FullDisk {
    QTemporaryDir dir;
    bool mounted = false;
    FullDisk()
    {
        mounted = ::mount("tmpfs", path8(dir.path()).constData(), "tmpfs", 0, "size=256k") == 0;
    }
    ~FullDisk()
    {
        if (mounted)
            ::umount(path8(dir.path()).constData());
    }
    void fill() const
    {
        QFile filler(dir.filePath("filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(1024, 'f');
        while (filler.write(block) == block.size()) { }
    }
};

// The disk full under the list (the UID file) or under the export: said,
// status 1, and the old calendar and the old UIDs stay as they were.
TEST_F(OwnFiles, AFullDiskIsSaidAndKeepsTheOldFiles)
{
    for (const bool underTheList : {true, false}) {
        SCOPED_TRACE(underTheList ? "under the list" : "under the export");
        FullDisk disk;
        if (!disk.mounted)
            GTEST_SKIP() << "cannot mount a tmpfs here (not root, or no mount allowed)";
        const QString folder = underTheList ? disk.dir.path() : dir.path();
        const QString out = disk.dir.filePath("out.ics");
        std::vector<testsupport::TaskLines> many;
        for (int i = 0; i < 40; ++i)
            many.push_back(dueOn(QStringLiteral("Task %1").arg(i), QDate(2027, 1, 1 + i % 28)));
        writeFile(folder + "/tasks.txt", taskFile(many, {}));
        const Ran first = run({"--file", folder + "/tasks.txt", "--export-ics", out});
        ASSERT_EQ(first.status, 0) << first.err.toStdString();
        const QByteArray calendar = readFile(out);
        const QByteArray kept = readFile(folder + "/.tasks.txt.uids");
        ASSERT_FALSE(kept.isEmpty());
        disk.fill();

        const Ran full = run({"--file", folder + "/tasks.txt", "--export-ics", out});
        EXPECT_EQ(full.status, 1);
        EXPECT_TRUE(full.err.contains("No space left on device")) << full.err.toStdString();
        EXPECT_EQ(readFile(out), calendar);
        EXPECT_EQ(readFile(folder + "/.tasks.txt.uids"), kept);
        EXPECT_EQ(QDir(disk.dir.path()).entryList({"*.quillet-*"}, QDir::Files | QDir::Hidden),
                  QStringList());
    }
}

// What a save or an export that was killed left in the folder goes with
// the next save there; what a writer still holds, a link, stays.
TEST_F(OwnFiles, TheNextSaveRemovesWhatAKilledOneLeft)
{
    const QString left = dir.filePath(".tasks.txt.quillet-k1lled");
    const QString leftByExport = dir.filePath(".out.ics.quillet-k1lled");
    const QString held = dir.filePath(".tasks.txt.quillet-h0lder");
    const QString link = dir.filePath(".tasks.txt.quillet-l1nked");
    writeFile(left, QByteArray(4096, 'x'));
    writeFile(leftByExport, QByteArray(4096, 'x'));
    writeFile(held, "still being written");
    const int holder = ::open(path8(held).constData(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    ASSERT_TRUE(QFile::link(victim, link));
    const QByteArray heldBefore = whatIsAt(held);

    const Ran r = run({"--add", "Next", "--due", "2027-01-03"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    ::close(holder);
    EXPECT_EQ(whatIsAt(left), QByteArray("nothing"));
    EXPECT_EQ(whatIsAt(leftByExport), QByteArray("nothing"));
    EXPECT_EQ(whatIsAt(held), heldBefore);
    EXPECT_TRUE(whatIsAt(link).startsWith("a link to "));
    EXPECT_EQ(readFile(victim), QByteArray("echo the victim's own\n"));
}

// A colleague may not write the user's list: refused, and nothing of the
// refused save is left, not even a backup only the colleague can read.
TEST_F(OwnFiles, ARefusedSaveWritesNoBackup)
{
    if (!shareTheFolder())
        GTEST_SKIP() << "only root can make the users of a shared folder";
    // The colleague runs the program; the list is the user's, 0644.
    const uid_t uid = colleague->uid;
    const auto staff = testsupport::testGroup("qtest-staff");
    const std::array<gid_t, 2> groups{colleague->gid, *staff};
    ::chmod(path8(list()).constData(), 0644);
    ::chown(path8(runtime.path()).constData(), uid, colleague->gid);
    asUser = [uid, groups] {
        if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(groups[0]) != 0 ||
            ::setuid(uid) != 0)
            ::_exit(127);
    };
    const QByteArray before = readFile(list());
    const Ran r = run({"--add", "Theirs", "--due", "2027-01-03"});
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(r.err.contains("you may not write to it")) << r.err.toStdString();
    EXPECT_EQ(readFile(list()), before);
    EXPECT_EQ(whatIsAt(dir.filePath("tasks.txt~")), QByteArray("nothing"));
}

}  // namespace
