// The tables kept from one load for the next: whatever happened to the
// tables or the file in between, the second load leaves exactly what a
// load that reads the file again leaves.
#include "printers.h"
#include "store/tables.h"
#include "store/taskfile.h"
#include "support/testsupport.h"

#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace Module1;

namespace {

struct Snapshot {
    std::vector<Task> tasks{Module1::tasks.begin(), Module1::tasks.end()};
    std::vector<AlertRule> rules{alertRules.begin(), alertRules.end()};
    qint16 taskCount = Module1::taskCount;
    qint16 ruleCount = alertRuleCount;

    void restore() const
    {
        std::copy(tasks.begin(), tasks.end(), Module1::tasks.begin());
        std::copy(rules.begin(), rules.end(), alertRules.begin());
        Module1::taskCount = taskCount;
        alertRuleCount = ruleCount;
    }
};

QString randomText(std::mt19937 &rng, int most)
{
    static const QString pieces[] = {
        QStringLiteral("a"),    QStringLiteral("Zoë"), QStringLiteral(" "),    QStringLiteral("|~"),
        QStringLiteral("\r\n"), QStringLiteral("<b>"), QStringLiteral("日本"), QStringLiteral("=")};
    QString out;
    for (int n = int(rng() % unsigned(most + 1)); n > 0; --n)
        out += pieces[rng() % std::size(pieces)];
    return out;
}

void randomTables(std::mt19937 &rng)
{
    resetTables();
    taskCount = qint16(rng() % 40);
    for (int i = 0; i < taskCount; ++i) {
        Task &t = tasks[size_t(i)];
        t.title = randomText(rng, 6);
        t.forWhom = randomText(rng, 3);
        t.description = randomText(rng, 10);
        t.year = qint16(1990 + rng() % 80);
        t.month = qint16(rng() % 14);  // 0 and 13 as a hand edit may leave them
        t.day = qint16(rng() % 32);
        t.hour = qint16(rng() % 24);
        t.minute = qint16(rng() % 60);
        t.second = qint16(rng() % 60);
        t.deleted = rng() % 4 ? QStringLiteral("N") : QStringLiteral("Y");
    }
    alertRuleCount = qint16(rng() % 6);
    for (int i = 0; i < alertRuleCount; ++i)
        alertRules[size_t(i)] =
            AlertRule{qint16(rng() % 400), rng() % 2 ? QStringLiteral("d") : QStringLiteral("ww"),
                      qint32(rng()), rng() % 2 == 0};
}

// What happens to the tables between the two loads: the page's sort, an
// edit in memory, a task added.
void changeTables(std::mt19937 &rng)
{
    if (taskCount > 1)
        for (int n = int(rng() % 5); n > 0; --n)
            std::swap(tasks[rng() % size_t(taskCount)], tasks[rng() % size_t(taskCount)]);
    if (taskCount > 0 && rng() % 3 == 0)
        tasks[rng() % size_t(taskCount)].title += QStringLiteral("!");
    if (rng() % 4 == 0 && taskCount < kTaskSlots)
        tasks[size_t(taskCount++)].title = QStringLiteral("new");
}

}  // namespace

TEST(HandOver, SecondLoadEqualsAFreshRead)
{
    testsupport::resetWorld();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("tasks.txt"));
    std::mt19937 rng(33);
    int unchanged = 0;
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        randomTables(rng);
        QByteArray bytes = serializeTables();
        testsupport::writeFile(path, bytes);
        keepTablesForNextLoad();
        ASSERT_TRUE(loadTasks(path).ok());
        changeTables(rng);

        // What becomes of the file and the locale in between.
        bool sameLocale = true;
        switch (rng() % 6) {
        case 0: {  // one byte other, the size the same
            const qsizetype at = qsizetype(rng() % size_t(bytes.size()));
            bytes[at] = bytes[at] == '7' ? '8' : '7';
            testsupport::writeFile(path, bytes);
            break;
        }
        case 1:  // a record more
            testsupport::writeFile(path, bytes + "ttl=more\r\nact=addtask\r\n");
            break;
        case 2:  // no task file any longer
            testsupport::writeFile(path, QByteArrayLiteral("#!/bin/sh\necho hello\n"));
            break;
        case 3:  // another locale writes other due texts
            QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
            sameLocale = false;
            break;
        default: ++unchanged; break;
        }
        const Snapshot before;
        const FileStatus kept = loadTasks(path);
        const Snapshot viaKept;
        before.restore();
        const FileStatus fresh = loadTasks(path);
        const Snapshot viaRead;
        if (!sameLocale)
            QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));

        EXPECT_EQ(kept.code, fresh.code);
        EXPECT_EQ(kept.error, fresh.error);
        EXPECT_EQ(viaKept.taskCount, viaRead.taskCount);
        EXPECT_EQ(viaKept.ruleCount, viaRead.ruleCount);
        // Every slot: those past the counts keep what they held, as a read leaves them.
        EXPECT_EQ(viaKept.tasks, viaRead.tasks);
        EXPECT_EQ(viaKept.rules, viaRead.rules);
    }
    EXPECT_GT(unchanged, 50);  // the kept tables were taken often enough to tell
}
