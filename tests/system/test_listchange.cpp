// Many writers of one list through the built program: each change is made
// under the list's kernel lock, so that none is lost.
#include "support/listwriters.h"
#include "support/taskfilebuilder.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testsupport::readFile;
using testsupport::titlesIn;
using testsupport::whatIsAt;

class Writers : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid() && runtime.isValid());
        QFile::setPermissions(runtime.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        env.insert("XDG_DATA_HOME", dir.filePath("data"));
        env.insert("LANG", "en_US.UTF-8");
        testsupport::writeFile(tasksPath(), testsupport::taskFile({}, {}));
    }

    QString tasksPath() const { return dir.filePath("tasks.txt"); }

    struct Ended {
        int code = -1;
        QByteArray err;
    };
    // One run to its end; code -1 when it hung past the guard.
    Ended run(const QStringList &args, int guardMs = 60000)
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir.path());
        p.start(QStringLiteral(QUILLET_BINARY), args);
        if (!p.waitForStarted(5000))
            return {};
        if (!p.waitForFinished(guardMs)) {
            p.kill();
            p.waitForFinished(3000);
            return {-1, p.readAllStandardError()};
        }
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                p.readAllStandardError()};
    }
    Ended add(const QString &title, const QStringList &more = {})
    {
        return run(QStringList{"--add", title, "--due", "2027-01-15"} + more);
    }

    QStringList listLocks() const
    {
        return testsupport::listLockFiles(runtime.path() + "/quillet", dir.path());
    }

    QTemporaryDir dir;
    QTemporaryDir runtime;
    QProcessEnvironment env;
};

TEST_F(Writers, FiftyAddsAtOnceEachSayingDoneAreAllInTheFile)
{
    // GIVEN fifty `quillet --add` on one list, all started at once
    testsupport::ConcurrentAdds adds;
    adds.start(50, "Task", dir.path(), env);
    ASSERT_TRUE(adds.finish()) << "an add never ended";
    const QStringList ok = adds.succeeded();
    std::printf("%lld of 50 adds ended 0, all within %lld ms\n", qint64(ok.size()),
                adds.elapsedMs());

    // THEN every add that ended 0 put its task in the file, once, and no
    // other did
    QStringList inFile = titlesIn(readFile(tasksPath()));
    for (const QString &title : ok)
        EXPECT_TRUE(inFile.contains(title)) << title.toStdString() << " ended 0 but is missing";
    EXPECT_EQ(inFile.removeDuplicates(), 0);
    EXPECT_EQ(inFile.size(), ok.size()) << adds.failures().toStdString();
    // AND the wait for the lock lets at least most of them through (on a
    // quiet machine, every one)
    EXPECT_GT(ok.size(), 25) << adds.failures().toStdString();
}

TEST_F(Writers, AListHeldByAnotherWriterIsLeftAsItWas)
{
    // GIVEN another process (this test) holding the list's lock
    ASSERT_EQ(add("First").code, 0);
    const QStringList locks = listLocks();
    ASSERT_EQ(locks.size(), 1) << "one lock file for the list";
    const int held = ::open(QFile::encodeName(locks[0]).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    const QByteArray before = readFile(tasksPath());

    // WHEN an add runs, THEN it waits, says who holds the list, ends 1 and
    // changes nothing
    const Ended busy = add("Second");
    EXPECT_EQ(busy.code, 1) << busy.err.toStdString();
    EXPECT_TRUE(busy.err.contains(QFile::encodeName(tasksPath()) +
                                  " is being changed by another Quillet (process " +
                                  QByteArray::number(::getpid()) + ")"))
        << busy.err.toStdString();
    EXPECT_EQ(readFile(tasksPath()), before);
    // AND so does an import, which leaves the UIDs beside the list alone too
    testsupport::writeFile(dir.filePath("in.ics"),
                           "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n"
                           "BEGIN:VTODO\r\nUID:one@test\r\nSUMMARY:Imported\r\n"
                           "DUE:20270115T090000\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
    const Ended import = run({"--import-ics", "in.ics"});
    EXPECT_EQ(import.code, 1) << import.err.toStdString();
    EXPECT_TRUE(import.err.contains("is being changed by another Quillet"))
        << import.err.toStdString();
    EXPECT_EQ(readFile(tasksPath()), before);
    EXPECT_FALSE(QFile::exists(dir.filePath(".tasks.txt.uids")));

    // AND another list in the same folder has a lock of its own
    const Ended other = add("Elsewhere", {"--file", "other.txt"});
    EXPECT_EQ(other.code, 0) << other.err.toStdString();
    EXPECT_EQ(titlesIn(readFile(dir.filePath("other.txt"))), QStringList{"Elsewhere"});

    // AND once it is let go, the add goes through
    ::close(held);
    EXPECT_EQ(add("Second").code, 0);
    EXPECT_EQ(run({"--import-ics", "in.ics"}).code, 0);
    EXPECT_EQ(titlesIn(readFile(tasksPath())), (QStringList{"First", "Second", "Imported"}));
    EXPECT_TRUE(readFile(dir.filePath(".tasks.txt.uids")).contains("\none@test "));
}

struct PlantedCase {
    const char *name;
    // Puts something at `lock`; `elsewhere` is a name in the task folder
    // that a link may point to.
    std::function<bool(const QByteArray &lock, const QByteArray &elsewhere)> plant;
};

void PrintTo(const PlantedCase &c, std::ostream *os) { *os << c.name; }

class PlantedListLock : public Writers, public ::testing::WithParamInterface<PlantedCase> { };

// This user's own leftovers (or a mistake) where the list's lock file
// belongs: never opened through, never waited on.
TEST_P(PlantedListLock, NeitherHangsNorIsFollowed)
{
    ASSERT_EQ(add("First").code, 0);
    const QStringList locks = listLocks();
    ASSERT_EQ(locks.size(), 1);
    const QByteArray lock = QFile::encodeName(locks[0]);
    const QString elsewhere = dir.filePath("elsewhere");
    ASSERT_EQ(::unlink(lock.constData()), 0);
    ASSERT_TRUE(GetParam().plant(lock, QFile::encodeName(elsewhere)));
    const QByteArray planted = whatIsAt(locks[0]), target = whatIsAt(elsewhere);

    // WHEN the user adds a task, THEN it is added at once, as without a lock
    const Ended second = add("Second");
    EXPECT_EQ(second.code, 0) << second.err.toStdString();
    EXPECT_EQ(titlesIn(readFile(tasksPath())), (QStringList{"First", "Second"}));
    // AND what was planted, and where a link leads, stay as they were
    EXPECT_EQ(whatIsAt(locks[0]), planted);
    EXPECT_EQ(whatIsAt(elsewhere), target);
}

INSTANTIATE_TEST_SUITE_P(
    Writers, PlantedListLock,
    ::testing::Values(
        PlantedCase{"Fifo",
                    [](const QByteArray &lock, const QByteArray &) {
                        return ::mkfifo(lock.constData(), 0600) == 0;
                    }},
        PlantedCase{"Folder",
                    [](const QByteArray &lock, const QByteArray &) {
                        return ::mkdir(lock.constData(), 0700) == 0;
                    }},
        PlantedCase{"DanglingLink",
                    [](const QByteArray &lock, const QByteArray &elsewhere) {
                        return ::symlink(elsewhere.constData(), lock.constData()) == 0;
                    }},
        PlantedCase{"LinkToAFile",
                    [](const QByteArray &lock, const QByteArray &elsewhere) {
                        testsupport::writeFile(QFile::decodeName(elsewhere), "mine\n");
                        return ::symlink(elsewhere.constData(), lock.constData()) == 0;
                    }},
        PlantedCase{"LinkToAFifo",
                    [](const QByteArray &lock, const QByteArray &elsewhere) {
                        return ::mkfifo(elsewhere.constData(), 0600) == 0 &&
                               ::symlink(elsewhere.constData(), lock.constData()) == 0;
                    }}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
