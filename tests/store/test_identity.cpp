// Which task is which across reads (keys, calendar prints, the windows'
// "same task"), and where the user's own list lies.
#include "store/listlocation.h"
#include "store/tables.h"
#include "store/taskidentity.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
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

// What each use of a task's identity sees of a change: the key and the
// calendar print ignore the recycled flag, a window's "same task" does not.
TEST(TaskIdentity, EachUseSeesTheChangesItShould)
{
    using Part = QByteArray TaskPrint::*;
    const Part title = &TaskPrint::title, forWhom = &TaskPrint::forWhom, due = &TaskPrint::due,
               description = &TaskPrint::description;
    struct Row {
        const char *name;
        std::function<void(Task &)> change;
        std::vector<Part> printParts;  // the parts of the print that change
        bool sameKey, sameTask;
    } const rows[] = {
        {"title", [](Task &t) { t.title += u'!'; }, {title}, false, false},
        {"for", [](Task &t) { t.forWhom = QStringLiteral("Sam"); }, {forWhom}, false, false},
        {"description", [](Task &t) { t.description.clear(); }, {description}, false, false},
        {"year", [](Task &t) { ++t.year; }, {due}, false, false},
        {"month", [](Task &t) { ++t.month; }, {due}, false, false},
        {"day", [](Task &t) { ++t.day; }, {due}, false, false},
        {"hour", [](Task &t) { ++t.hour; }, {due}, false, false},
        {"minute", [](Task &t) { ++t.minute; }, {due}, false, false},
        {"second", [](Task &t) { ++t.second; }, {due}, false, false},
        // The same moment stored otherwise is another record in the file.
        {"month 13 for January",
         [](Task &t) {
             t.month = 1;
             ++t.year;
         },
         {due},
         false,
         false},
        // Text moved from one field to the next is another task.
        {"title and for run together",
         [](Task &t) {
             t.title = QStringLiteral("Ren");
             t.forWhom = QStringLiteral("tMe");
         },
         {title, forWhom},
         false,
         false},
        {"minute and second swapped",
         [](Task &t) { std::swap(t.minute, t.second); },
         {due},
         false,
         false},
        {"recycled", [](Task &t) { t.deleted = QStringLiteral("Y"); }, {}, true, false},
        {"derived texts",
         [](Task &t) {
             t.dueText = QStringLiteral("soon");
             t.sortKey.clear();
         },
         {},
         true,
         true},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        tasks[0] = sample();
        tasks[0].month = 13;
        taskCount = 1;
        const Task before = tasks[0];
        const QByteArray keyBefore = taskKeys()[0];
        r.change(tasks[0]);
        const QByteArray keyAfter = taskKeys()[0];
        EXPECT_TRUE(isTaskKey(keyAfter));
        EXPECT_EQ(keyBefore == keyAfter, r.sameKey);
        const TaskPrint a = printOf(before), b = printOf(tasks[0]);
        for (const Part part : {title, forWhom, due, description}) {
            const bool changes =
                std::find(r.printParts.begin(), r.printParts.end(), part) != r.printParts.end();
            EXPECT_EQ(a.*part != b.*part, changes);
        }
        EXPECT_EQ(sameTask(before, tasks[0]), r.sameTask);
        EXPECT_EQ(findSameTask(before), r.sameTask ? 0 : -1);
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
    EXPECT_EQ(findTask("0123abcd:0"), -1);
}

// Keys and prints outlive the run: put-off files and notifications from a
// reminder started before an update hold keys, UID files hold prints.
// These bytes were written by earlier versions for this task.
TEST(TaskIdentity, WhatEarlierVersionsKeptStillNamesItsTask)
{
    Task kept = sample();
    kept.title = QString::fromUtf8("Rent \xe2\x9c\x93");
    kept.description = QStringLiteral("Transfer\r\nby the 1st");
    kept.month = 13;
    kept.day = -2;
    Task other = sample();
    other.title = QStringLiteral("Call");
    tasks[0] = other;
    tasks[1] = kept;
    tasks[2] = kept;
    tasks[2].deleted = QStringLiteral("Y");
    taskCount = 3;

    EXPECT_EQ(printOf(kept), (TaskPrint{"e0ecde4eb5eca4411357e0c8", "d30af076b0dc85cc5b0074b4",
                                        "e415b6ab273c9df6b157fa7d", "6f8b9ee3c2177d8a4fa8946b"}));
    struct Row {
        QByteArray key;
        int slot;
    } const rows[] = {
        // Given before the due was one part of the serialisation.
        {"9af4e4352e38b59c5ddb5921252f5e06a517027f:0", 1},
        {"9af4e4352e38b59c5ddb5921252f5e06a517027f:1", 2},
        // Given now: put-off files hold these from here on.
        {"47f1525e095e314eb2efe6544e03f7c382476e2f:0", 1},
        {"47f1525e095e314eb2efe6544e03f7c382476e2f:1", 2},
        {"9af4e4352e38b59c5ddb5921252f5e06a517027f:2", -1},
    };
    const TaskKeyIndex index;
    EXPECT_EQ(index.keys(), taskKeys());
    for (const Row &r : rows) {
        SCOPED_TRACE(r.key.toStdString());
        EXPECT_TRUE(isTaskKey(r.key));
        EXPECT_EQ(index.slotOf(r.key), r.slot);
        EXPECT_EQ(findTask(r.key), r.slot);
    }
}

// A window that reads the list again finds its task in its old place among
// copies, and never in a copy recycled meanwhile.
TEST(TaskIdentity, FindSameTaskPrefersItsOldPlaceAndSkipsARecycledCopy)
{
    Task recycled = sample();
    recycled.deleted = QStringLiteral("Y");
    tasks[0] = recycled;
    tasks[1] = sample();
    tasks[2] = sample();
    taskCount = 3;
    struct Row {
        int preferred, found;
    } const rows[] = {{-1, 1}, {0, 1}, {1, 1}, {2, 2}, {3, 1}};
    for (const Row &r : rows) {
        SCOPED_TRACE(r.preferred);
        EXPECT_EQ(findSameTask(sample(), r.preferred), r.found);
    }
    EXPECT_EQ(findSameTask(recycled, 2), 0);
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
