// The hand-over between two starts on one task file, in one process: the
// running copy serves on this thread while the later start asks from
// another.
#include "app/singlecopy.h"

#include "store/runtimefolder.h"
#include "support/testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
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
    Claim askAsLaterStart(uid_t trusted, qint64 *holder = nullptr, const QByteArray &task = {})
    {
        std::future<Claim> asked = std::async(std::launch::async, [&] {
            SingleCopy later(taskFile(), trusted);
            later.askToShowTask(task);
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

TEST_F(HandOver, AStartForOneTaskHasTheRunningCopyShowThatTask)
{
    SingleCopy running(taskFile());
    ASSERT_EQ(running.claim(), Claim::Ours);
    QStringList asked;
    running.onShowAll([&] { asked << "all"; });
    running.onShowTask([&](const QByteArray &task) { asked << QString::fromLatin1(task); });
    struct Row {
        QByteArray task;
        Claim claim;
        QStringList asked;
    } rows[] = {
        {"", Claim::HandedOver, {"all"}},
        {"0123456789abcdef0123456789abcdef01234567:2", Claim::HandedOver,
         {"0123456789abcdef0123456789abcdef01234567:2"}},
        // Not a key: a second request hidden in it is not obeyed either.
        {"zz\nshow-all", Claim::NoAnswer, {}},
        {"../tasks.txt", Claim::NoAnswer, {}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.task.toStdString());
        asked.clear();
        EXPECT_STREQ(nameOf(askAsLaterStart(::geteuid(), nullptr, r.task)), nameOf(r.claim));
        QCoreApplication::processEvents();
        EXPECT_EQ(asked, r.asked);
    }
}

TEST_F(HandOver, AHolderThatListensNowhereIsToldFromOneThatDoesNotAnswer)
{
    // GIVEN the file held by a live copy whose socket was removed
    const Module1::PrivateFolder folder = Module1::privateRuntimeFolder();
    ASSERT_TRUE(folder.valid()) << folder.why.toStdString();
    const QString runtime = folder.path;
    const QStringList before = QDir(runtime).entryList({"copy-*"}, QDir::System);
    SingleCopy running(taskFile());
    ASSERT_EQ(running.claim(), Claim::Ours);
    for (const QString &socket : QDir(runtime).entryList({"copy-*"}, QDir::System)) {
        if (!before.contains(socket)) {
            ASSERT_TRUE(QFile::remove(runtime + '/' + socket));
        }
    }

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
    const Module1::PrivateFolder folder = Module1::privateRuntimeFolder();
    ASSERT_TRUE(folder.valid()) << folder.why.toStdString();
    const QString runtime = folder.path;
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

    // THEN the copy runs and says why nobody can reach it; with no place
    // for a lock, a later start runs too (the outside-change check guards
    // the saves of both)
    EXPECT_STREQ(nameOf(claim), nameOf(Claim::Ours));
    EXPECT_TRUE(running.listenError().contains(fallback)) << running.listenError().toStdString();
    EXPECT_TRUE(running.listenError().contains(runtime + " is not a folder of this user's alone"))
        << running.listenError().toStdString();
    EXPECT_STREQ(nameOf(later), nameOf(Claim::Ours));
    EXPECT_EQ(testsupport::readFile(fallback), "taken");
}

TEST_F(HandOver, TheSocketLivesInAPrivateFolderAndGoesWithTheCopy)
{
    const Module1::PrivateFolder folder = Module1::privateRuntimeFolder();
    ASSERT_TRUE(folder.valid()) << folder.why.toStdString();
    const QString runtime = folder.path;
    const QStringList before = QDir(runtime).entryList({"copy-*"}, QDir::System);
    {
        SingleCopy running(taskFile());
        ASSERT_EQ(running.claim(), Claim::Ours);
        EXPECT_EQ(QDir(runtime).entryList({"copy-*"}, QDir::System).size(), before.size() + 1);
    }
    EXPECT_EQ(QDir(runtime).entryList({"copy-*"}, QDir::System), before);
}

}  // namespace
