// One change of the list as one transaction: what happens when a writer
// the lock cannot see (a hand edit) comes between, when the change refuses,
// and what follows the save while the lock is still held.
#include "store/listchange.h"
#include "store/tables.h"
#include "store/taskfile.h"
#include "support/listwriters.h"
#include "support/taskfilebuilder.h"
#include "support/tempfolder.h"
#include "support/testsupport.h"

#include <QDate>
#include <QDir>

#include <gtest/gtest.h>

#include <functional>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace Module1;
using testsupport::readFile;
using testsupport::titlesIn;

namespace {

QByteArray listOf(const QStringList &titles)
{
    std::vector<testsupport::TaskLines> lines;
    for (const QString &t : titles)
        lines.push_back(testsupport::dueOn(t, QDate(2027, 1, 15)));
    return testsupport::taskFile(lines, {});
}

// True when another open file can take the list's lock now: it is free.
bool lockIsFree()
{
    // Another test's folder may have had this folder's inode: its locks
    // match too, and none of them is held.
    const QStringList locks = testsupport::listLockFiles(
        qEnvironmentVariable("XDG_RUNTIME_DIR") + "/quillet", QDir::currentPath());
    for (const QString &lock : locks) {
        const int fd = ::open(QFile::encodeName(lock).constData(), O_RDONLY | O_CLOEXEC);
        const bool free = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (fd >= 0)
            ::close(fd);
        if (!free)
            return false;
    }
    return true;
}

bool append(const QString &title)
{
    Task t;
    t.title = title;
    t.year = 2027;
    t.month = 1;
    t.day = 15;
    t.hour = 9;
    t.minute = 5;
    t.deleted = QStringLiteral("N");
    tasks[size_t(taskCount++)] = t;
    return true;
}

struct ChangeCase {
    const char *name;
    int handEdits;  // the first so many calls of the change find the file edited by hand after
                    // their load
    bool refuse;
    ChangeResult::Status status;
    QStringList inFile;
    int calls;  // of the change
};

class Transaction : public testsupport::InTempFolder<::testing::TestWithParam<ChangeCase>> { };

TEST_P(Transaction, AChangeIsMadeOnWhatIsInTheFile)
{
    const ChangeCase &c = GetParam();
    testsupport::writeFile("tasks.txt", listOf({"Old"}));
    int calls = 0;
    const ChangeResult result = changeTaskList([&]() -> QString {
        ++calls;
        // A hand edit lands between this load and the save.
        if (calls <= c.handEdits)
            testsupport::writeFile("tasks.txt",
                                   listOf({"Old", QStringLiteral("Hand %1").arg(calls)}));
        if (c.refuse)
            return QStringLiteral("no room");
        append("Mine");
        return {};
    });
    EXPECT_EQ(result.status, c.status) << result.message.toStdString();
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(titlesIn(readFile("tasks.txt")), c.inFile);
    EXPECT_EQ(result.message.isEmpty(), c.status == ChangeResult::Changed)
        << result.message.toStdString();
    EXPECT_TRUE(lockIsFree()) << "the lock is let go however the change ends";
}

INSTANTIATE_TEST_SUITE_P(
    Store, Transaction,
    ::testing::Values(
        ChangeCase{"Plain", 0, false, ChangeResult::Changed, {"Old", "Mine"}, 1},
        // Made again on the edited file: neither is lost.
        ChangeCase{
            "HandEditMeanwhile", 1, false, ChangeResult::Changed, {"Old", "Hand 1", "Mine"}, 2},
        // Not waited for forever; the last hand edit stays.
        ChangeCase{
            "FileThatKeepsChanging", 99, false, ChangeResult::NotChanged, {"Old", "Hand 5"}, 5},
        ChangeCase{"Refused", 0, true, ChangeResult::Refused, {"Old"}, 1}),
    [](const auto &info) { return std::string(info.param.name); });

class AfterSaved : public testsupport::InTempFolder<> { };

// What follows the file (the UID file) sees it saved and runs before any
// other writer can change the list.
TEST_F(AfterSaved, RunsOnTheSavedFileInsideTheLock)
{
    testsupport::writeFile("tasks.txt", listOf({"Old"}));
    QStringList seen;
    bool freeMeanwhile = true;
    const ChangeResult result =
        changeTaskList([] { return append("Mine") ? QString() : QStringLiteral("full"); },
                       [&]() -> QString {
                           seen = titlesIn(readFile("tasks.txt"));
                           freeMeanwhile = lockIsFree();
                           return QStringLiteral("UIDs not kept");
                       });
    EXPECT_EQ(result.status, ChangeResult::Changed);
    EXPECT_EQ(seen, (QStringList{"Old", "Mine"}));
    EXPECT_FALSE(freeMeanwhile) << "the list's lock is held while the UID file follows";
    EXPECT_EQ(result.notices, QStringList{"UIDs not kept"});
    EXPECT_TRUE(lockIsFree());
}

}  // namespace
