// Which folders are trusted with this user's fixed names (the alert page,
// the hand-over's socket and lock).
#include "store/runtimefolder.h"
#include "support/testsupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Someone who is not this user.
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
    const int fd = Module1::openPrivateFolder(QFile::encodeName(path), ::geteuid(), &why);

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

}  // namespace
