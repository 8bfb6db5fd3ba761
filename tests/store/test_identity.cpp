// Which task is which across reads (the reminder's keys), and where the
// user's own list lies.
#include "store/listlocation.h"
#include "store/tables.h"
#include "store/taskkey.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>

using namespace Module1;

namespace {

Task sample()
{
    Task t;
    t.title = QStringLiteral("Rent");
    t.forWhom = QStringLiteral("Me");
    t.description = QStringLiteral("Transfer");
    t.year = 2026;
    t.month = 12;
    t.day = 24;
    t.hour = 9;
    t.minute = 30;
    t.second = 15;
    t.deleted = QStringLiteral("N");
    return t;
}

TEST(TaskKeys, EveryFieldButTheRecycledFlagTellsTasksApart)
{
    struct Row {
        const char *name;
        std::function<void(Task &)> change;
        bool sameTask;
    } const rows[] = {
        {"title", [](Task &t) { t.title += u'!'; }, false},
        {"for", [](Task &t) { t.forWhom = QStringLiteral("Sam"); }, false},
        {"description", [](Task &t) { t.description.clear(); }, false},
        {"year", [](Task &t) { ++t.year; }, false},
        {"month", [](Task &t) { ++t.month; }, false},
        {"day", [](Task &t) { ++t.day; }, false},
        {"hour", [](Task &t) { ++t.hour; }, false},
        {"minute", [](Task &t) { ++t.minute; }, false},
        {"second", [](Task &t) { ++t.second; }, false},
        // Text moved from one field to the next is another task.
        {"title and for run together",
         [](Task &t) {
             t.title = QStringLiteral("Ren");
             t.forWhom = QStringLiteral("tMe");
         },
         false},
        {"recycled", [](Task &t) { t.deleted = QStringLiteral("Y"); }, true},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        tasks[0] = sample();
        taskCount = 1;
        const QByteArray before = taskKeys()[0];
        r.change(tasks[0]);
        const QByteArray after = taskKeys()[0];
        EXPECT_TRUE(isTaskKey(after));
        EXPECT_EQ(before == after, r.sameTask);
    }
}

TEST(TaskKeys, TwinsGetKeysOfTheirOwnAndKeepThemWhenOthersMove)
{
    tasks[0] = sample();
    tasks[1] = sample();
    tasks[2] = sample();
    tasks[2].title = QStringLiteral("Call");
    taskCount = 3;
    const std::vector<QByteArray> keys = taskKeys();
    EXPECT_NE(keys[0], keys[1]);
    std::swap(tasks[0], tasks[2]);
    EXPECT_EQ(findTask(keys[2]), 0);
    EXPECT_EQ(findTask(keys[0]), 1);
    EXPECT_EQ(findTask(keys[1]), 2);
}

// XDG_DATA_HOME and HOME set for one test, put back after.
class UserList : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        for (const char *name : {"XDG_DATA_HOME", "HOME"})
            saved.emplace_back(name, qgetenv(name));
        qputenv("HOME", QFile::encodeName(home.path()));
    }
    void TearDown() override
    {
        for (const auto &[name, value] : saved)
            qputenv(name, value);
    }
    QTemporaryDir home;
    std::vector<std::pair<const char *, QByteArray>> saved;
};

TEST_F(UserList, LiesInTheDataHomeOnlyWhenThatIsAnAbsolutePath)
{
    const QString fallback = home.path() + "/.local/share/quillet";
    struct Row {
        QByteArray dataHome;
        QString folder;
    } const rows[] = {
        {home.path().toUtf8() + "/data", home.path() + "/data/quillet"},
        {home.path().toUtf8() + "/data/", home.path() + "/data/quillet"},
        {"", fallback},
        {"data", fallback},  // relative: ignored, as the base-directory rules say
        {"./data", fallback},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.dataHome.toStdString());
        qputenv("XDG_DATA_HOME", r.dataHome);
        EXPECT_EQ(userList(), (ListPlace{r.folder, "tasks.txt"}));
    }
}

TEST_F(UserList, ItsFolderIsMadeForTheUserAlone)
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + "/deep/data"));
    const mode_t oldMask = ::umask(022);
    QString why;
    const bool made = prepareListFolder(userList(), &why);
    ::umask(oldMask);
    ASSERT_TRUE(made) << why.toStdString();
    struct stat st { };
    ASSERT_EQ(::stat(QFile::encodeName(userList().folder).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    // Another folder is never made.
    EXPECT_TRUE(prepareListFolder({home.path() + "/elsewhere", "tasks.txt"}, &why));
    EXPECT_FALSE(QFileInfo::exists(home.path() + "/elsewhere"));
}

}  // namespace
