// The hand-over between two starts on one task file, in one process: the
// running copy serves on this thread while the later start asks from
// another.
#include "app/singlecopy.h"

#include "page/alertpage.h"
#include "support/testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Claim = SingleCopy::Claim;

const char *nameOf(Claim claim)
{
    switch (claim) {
    case Claim::Ours: return "Ours";
    case Claim::HandedOver: return "HandedOver";
    case Claim::NoAnswer: return "NoAnswer";
    case Claim::Unreachable: return "Unreachable";
    }
    return "?";
}

// Someone who is not this user, for the checks of owners and peers.
uid_t stranger() { return ::geteuid() == 65534 ? 65533 : 65534; }

mode_t modeOf(const QString &path)
{
    struct stat st { };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}

struct FolderCase {
    const char *name;
    std::function<bool(const QString &path, const QString &scratch)> plant;  // false: skip
    bool usable;
};

void PrintTo(const FolderCase &c, std::ostream *os) { *os << c.name; }

class PrivateFolder : public ::testing::TestWithParam<FolderCase> { };

TEST_P(PrivateFolder, OnlyAFolderOfThisUsersAloneIsUsed)
{
    const FolderCase &c = GetParam();
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const QString path = scratch.filePath("meet");
    if (!c.plant(path, scratch.path()))
        GTEST_SKIP() << "cannot give a folder away without root";
    const mode_t before = modeOf(path);

    QString why;
    const int fd = openPrivateFolder(QFile::encodeName(path), ::geteuid(), &why);

    EXPECT_EQ(fd >= 0, c.usable) << why.toStdString();
    if (fd >= 0) {
        EXPECT_EQ(modeOf(path), mode_t(S_IFDIR | 0700));
        ::close(fd);
    } else {
        EXPECT_TRUE(why.contains(path)) << why.toStdString();
        EXPECT_EQ(modeOf(path), before) << "a folder that is refused is left as it is";
    }
}

bool makeFolder(const QString &path, mode_t mode)
{
    return ::mkdir(QFile::encodeName(path).constData(), 0700) == 0 &&
           ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

INSTANTIATE_TEST_SUITE_P(
    Folders, PrivateFolder,
    ::testing::Values(
        FolderCase{"Missing", [](const QString &, const QString &) { return true; }, true},
        FolderCase{"Ours", [](const QString &p, const QString &) { return makeFolder(p, 0700); },
                   true},
        FolderCase{"OpenToTheGroup",
                   [](const QString &p, const QString &) { return makeFolder(p, 0750); }, false},
        FolderCase{"OpenToOthers",
                   [](const QString &p, const QString &) { return makeFolder(p, 0703); }, false},
        FolderCase{"AnotherUsers",
                   [](const QString &p, const QString &) {
                       return makeFolder(p, 0700) && ::chown(QFile::encodeName(p).constData(),
                                                             stranger(), stranger()) == 0;
                   },
                   false},
        FolderCase{"ALinkToAPrivateFolder",
                   [](const QString &p, const QString &scratch) {
                       return makeFolder(scratch + "/real", 0700) &&
                              QFile::link(scratch + "/real", p);
                   },
                   false},
        FolderCase{"AFile",
                   [](const QString &p, const QString &) {
                       testsupport::writeFile(p, "x");
                       return true;
                   },
                   false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(FolderIdentityTest, EverySpellingOfAFolderIsTheSameFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkpath("real/sub"));
    ASSERT_TRUE(QDir(dir.path()).mkpath("other"));
    ASSERT_TRUE(QFile::link(dir.filePath("real"), dir.filePath("link")));
    const auto real = Module1::folderIdentity(dir.filePath("real"));
    ASSERT_TRUE(real.has_value());
    for (const char *spelling : {"link", "real/sub/..", "real/", "./real"}) {
        SCOPED_TRACE(spelling);
        const auto other = Module1::folderIdentity(dir.path() + '/' + spelling);
        ASSERT_TRUE(other.has_value());
        EXPECT_EQ(other->device, real->device);
        EXPECT_EQ(other->inode, real->inode);
    }
    const auto other = Module1::folderIdentity(dir.filePath("other"));
    ASSERT_TRUE(other.has_value());
    EXPECT_NE(other->inode, real->inode);
    EXPECT_FALSE(Module1::folderIdentity(dir.filePath("gone")).has_value());
}

class HandOver : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString taskFile() const { return dir.filePath("tasks.txt"); }

    // A later start on the same file, asked from another thread while this
    // one serves the running copy.
    Claim askAsLaterStart(uid_t trusted, qint64 *holder = nullptr)
    {
        std::future<Claim> asked = std::async(std::launch::async, [&] {
            SingleCopy later(taskFile(), trusted);
            const Claim claim = later.claim();
            if (holder)
                *holder = later.holder();
            return claim;
        });
        while (asked.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return asked.get();
    }

    QTemporaryDir dir;
};

struct PeerCase {
    const char *name;
    bool listenerTrusts;  // the running copy takes the asker for this user
    bool askerTrusts;     // the later start takes the listener for this user
    Claim claim;
    int shown;
};

void PrintTo(const PeerCase &c, std::ostream *os) { *os << c.name; }

class PeerCheck : public HandOver, public ::testing::WithParamInterface<PeerCase> { };

TEST_P(PeerCheck, EachSideBelievesOnlyThisUser)
{
    const PeerCase &c = GetParam();
    SingleCopy running(taskFile(), c.listenerTrusts ? ::geteuid() : stranger());
    ASSERT_EQ(running.claim(), Claim::Ours);
    ASSERT_TRUE(running.listenError().isEmpty()) << running.listenError().toStdString();
    int shown = 0;
    running.onShowAll([&] { ++shown; });

    const Claim claim = askAsLaterStart(c.askerTrusts ? ::geteuid() : stranger());

    EXPECT_STREQ(nameOf(claim), nameOf(c.claim));
    QCoreApplication::processEvents();
    EXPECT_EQ(shown, c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Peers, PeerCheck,
    ::testing::Values(PeerCase{"SameUser", true, true, Claim::HandedOver, 1},
                      PeerCase{"ListenerOfAnotherUser", true, false, Claim::NoAnswer, 0},
                      PeerCase{"AskerOfAnotherUser", false, true, Claim::NoAnswer, 0}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(HandOver, AHolderThatListensNowhereIsToldFromOneThatDoesNotAnswer)
{
    // GIVEN the file held by a live process that never listened
    QLockFile held(dir.filePath(".tasks.txt.lock"));
    ASSERT_TRUE(held.tryLock(0));

    // WHEN a later start asks
    qint64 holder = 0;
    const Claim claim = askAsLaterStart(::geteuid(), &holder);

    // THEN it knows there is nobody to ask, and who holds the file
    EXPECT_STREQ(nameOf(claim), nameOf(Claim::Unreachable));
    EXPECT_EQ(holder, qint64(::getpid()));
}

TEST_F(HandOver, ACopyThatTakesTheRequestButHangsIsNotBelieved)
{
    // GIVEN a running copy that listens but never gets back to its events
    SingleCopy running(taskFile());
    ASSERT_EQ(running.claim(), Claim::Ours);

    // WHEN a later start asks
    std::future<Claim> asked = std::async(std::launch::async, [&] {
        SingleCopy later(taskFile());
        return later.claim();
    });

    // THEN it says so instead of ending as if the list were shown
    EXPECT_STREQ(nameOf(asked.get()), nameOf(Claim::NoAnswer));
}

TEST_F(HandOver, WithoutAPrivateFolderNobodyListensAndTheCopySaysWhy)
{
    // GIVEN the runtime folder open to others and the fallback's name
    // taken by a file
    const QString runtime = privateRuntimeFolder();
    ASSERT_FALSE(runtime.isEmpty());
    ASSERT_EQ(::chmod(QFile::encodeName(runtime).constData(), 0755), 0);
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QByteArray oldTemp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(temp.path()));
    const QString fallback = temp.path() + QStringLiteral("/quillet-%1").arg(::geteuid());
    testsupport::writeFile(fallback, "taken");

    SingleCopy running(taskFile());
    const Claim claim = running.claim();
    const Claim later = askAsLaterStart(::geteuid());

    ::chmod(QFile::encodeName(runtime).constData(), 0700);
    if (oldTemp.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", oldTemp);

    // THEN the copy runs, says why nobody can reach it, and a later start
    // knows it cannot
    EXPECT_STREQ(nameOf(claim), nameOf(Claim::Ours));
    EXPECT_TRUE(running.listenError().contains(fallback)) << running.listenError().toStdString();
    EXPECT_STREQ(nameOf(later), nameOf(Claim::Unreachable));
    EXPECT_EQ(testsupport::readFile(fallback), "taken");
}

TEST_F(HandOver, TheSocketLivesInAPrivateFolderAndGoesWithTheCopy)
{
    const QString runtime = privateRuntimeFolder();
    ASSERT_FALSE(runtime.isEmpty());
    const QStringList before = QDir(runtime).entryList({"copy-*"}, QDir::System);
    {
        SingleCopy running(taskFile());
        ASSERT_EQ(running.claim(), Claim::Ours);
        EXPECT_EQ(QDir(runtime).entryList({"copy-*"}, QDir::System).size(), before.size() + 1);
    }
    EXPECT_EQ(QDir(runtime).entryList({"copy-*"}, QDir::System), before);
}

}  // namespace
