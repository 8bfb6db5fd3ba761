#include "printers.h"
#include "store/ordering.h"
#include "store/tables.h"
#include "store/taskfile.h"
#include "store/testhooks.h"
#include "support/testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

#include <iconv.h>
#include <sys/stat.h>

using namespace Module1;
using testsupport::readFile;
using testsupport::testDataPath;
using testsupport::writeFile;

namespace {

// Lines joined with CR LF, each one ended.
QByteArray crlf(std::initializer_list<const char *> lines)
{
    QByteArray out;
    for (const char *l : lines)
        out += QByteArray(l) + "\r\n";
    return out;
}

class TaskFile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path() const { return dir.filePath(QStringLiteral("tasks.txt")); }
    FileStatus loadBytes(const QByteArray &bytes)
    {
        writeFile(path(), bytes);
        return loadTasks(path());
    }
    QTemporaryDir dir;
};

struct ReaderCase {
    const char *name;
    QByteArray bytes;
    int tasks;
    int rules;
    std::function<void()> check;
};

const QString s(const char *utf8) { return QString::fromUtf8(utf8); }

TEST_F(TaskFile, ReaderRules)
{
    const ReaderCase cases[] = {
        {"only comments, sections and empty lines",
         crlf({"; a", "[Tasks]", "", "   ", "[Alerts]", ";"}), 0, 0, [] {}},
        {"empty file", "", 0, 0, [] {}},
        {"lone CR ends a line", "ttl=A\rfor=B\r\nact=addtask\r", 1, 0,
         [] {
             EXPECT_EQ(tasks[0].title, s("A"));
             EXPECT_EQ(tasks[0].forWhom, s("B"));
         }},
        {"lone LF stays inside the line", "ttl=A\nB\r\ndes=x\ny\r\nact=addtask\r\n", 1, 0,
         [] {
             EXPECT_EQ(tasks[0].title, s("A\nB"));
             EXPECT_EQ(tasks[0].description, s("x\ny"));
         }},
        {"a file without any CR ends its lines at LF",
         "ttl=A\nfor=B\nact=addtask\nttl=C\nact=addtask", 2, 0,
         [] {
             EXPECT_EQ(tasks[0].title, s("A"));
             EXPECT_EQ(tasks[0].forWhom, s("B"));
             EXPECT_EQ(tasks[1].title, s("C"));
         }},
        {"keys count characters, not UTF-16 units",
         crlf({"ttl\xF0\x9F\x98\x80Report", "act=addtask", "\xF0\x9F\x98\x80tl=x", "act=addtask"}),
         2, 0,
         [] {
             EXPECT_EQ(tasks[0].title, s("Report"));
             EXPECT_EQ(tasks[1].title, s("Report"));
         }},
        {"no line end after the last line", "ttl=A\r\nact=addtask", 1, 0,
         [] { EXPECT_EQ(tasks[0].title, s("A")); }},
        {"only blanks are trimmed", crlf({"  ttl= Report  ", "for=\tx\t", "act=addtask"}), 1, 0,
         [] {
             EXPECT_EQ(tasks[0].title, s(" Report"));
             EXPECT_EQ(tasks[0].forWhom, s("\tx\t"));
         }},
        {"a leading tab spoils the key", crlf({"\tttl=X", "act=addtask"}), 1, 0,
         [] { EXPECT_EQ(tasks[0].title, s("")); }},
        {"the fourth character is unseen",
         crlf({"ttl:Report", "for Me", "act=addtask", "ttlXOther", "act?addtask"}), 2, 0,
         [] {
             EXPECT_EQ(tasks[0].title, s("Report"));
             EXPECT_EQ(tasks[0].forWhom, s("Me"));
             EXPECT_EQ(tasks[1].title, s("Other"));
         }},
        {"a longer key leaves its tail in the value", crlf({"ttle=x", "act=addtask"}), 1, 0,
         [] { EXPECT_EQ(tasks[0].title, s("=x")); }},
        {"keys are case sensitive, unknown keys ignored",
         crlf({"ttl=keep", "TTL=Report", "Ttl=R", "foo=bar", "xyz", "act=addtask"}), 1, 0,
         [] { EXPECT_EQ(tasks[0].title, s("keep")); }},
        {"comment and section lines are skipped after trimming",
         crlf({"ttl=keep", "  ;ttl=no", "[ttl=no", "  [x]", "act=addtask"}), 1, 0,
         [] { EXPECT_EQ(tasks[0].title, s("keep")); }},
        {"lines shorter than four characters are ignored",
         crlf({"ttl=keep", "ttl", "tt", "t", " ab ", "ab=", "act=addtask"}), 1, 0,
         [] { EXPECT_EQ(tasks[0].title, s("keep")); }},
        {"a four-character line sets an empty value",
         crlf({"ttl=keep", "act=addtask", "ttl=", "act=addtask"}), 2, 0,
         [] {
             EXPECT_EQ(tasks[0].title, s("keep"));
             EXPECT_EQ(tasks[1].title, s(""));
         }},
        {"an act line without a value commits a task", crlf({"ttl=x", "act", "act="}), 1, 0,
         [] { EXPECT_EQ(tasks[0].title, s("x")); }},
        {"the pending record lives for the whole load",
         crlf({"ttl=one", "des=first", "day=5", "del=Y", "act=addtask", "ttl=two", "act=addtask",
               "val=3", "unt=d", "clr=255", "alr=on", "act=addalert", "val=4", "act=addalert",
               "act=addtask"}),
         3, 2,
         [] {
             EXPECT_EQ(tasks[1].title, s("two"));
             EXPECT_EQ(tasks[1].description, s("first"));
             EXPECT_EQ(tasks[1].day, 5);
             EXPECT_EQ(tasks[1].deleted, s("Y"));
             EXPECT_EQ(tasks[2].title, s("two"));
             EXPECT_EQ(alertRules[1].interval, 4);
             EXPECT_EQ(alertRules[1].unit, s("d"));
             EXPECT_EQ(alertRules[1].color, 255);
             EXPECT_TRUE(alertRules[1].popup);
         }},
        {"the first task without des has an empty one", crlf({"ttl=x", "act=addtask"}), 1, 0,
         [] {
             EXPECT_EQ(tasks[0].description, s(""));
             EXPECT_EQ(tasks[0].deleted, s(""));
             EXPECT_EQ(tasks[0].year, 0);
         }},
        {"lines after the last act are lost", crlf({"ttl=a", "act=addtask", "ttl=b", "val=9"}), 1,
         0, [] { EXPECT_EQ(tasks[0].title, s("a")); }},
        {"act decides the kind",
         crlf({"ttl=1", "act=addtask", "ttl=2", "act=addTask", "ttl=3", "act=x", "ttl=4",
               "act=AddAlert", "ttl=5", "act=", "val=1", "act=addalert", "act=addalert "}),
         5, 2,
         [] {
             EXPECT_EQ(tasks[4].title, s("5"));
             EXPECT_EQ(alertRules[0].interval, 1);
         }},
        {"only alr=on is true",
         crlf({"alr=on", "act=addalert", "alr=On", "act=addalert", "alr=yes", "act=addalert",
               "alr=off", "act=addalert", "alr=on  ", "act=addalert", "alr= on", "act=addalert",
               "alr=ON", "act=addalert", "alr=1", "act=addalert"}),
         0, 8,
         [] {
             const bool expected[] = {true, false, false, false, true, false, false, false};
             for (int i = 0; i < 8; ++i)
                 EXPECT_EQ(alertRules[i].popup, expected[i]) << i;
         }},
        {"numbers",
         crlf({"day=07", "mon=12abc", "yea=abc", "hou=6.5", "min=7.5", "sec=1 2", "act=addtask"}),
         1, 0,
         [] {
             EXPECT_EQ(tasks[0].day, 7);
             EXPECT_EQ(tasks[0].month, 12);
             EXPECT_EQ(tasks[0].year, 0);
             EXPECT_EQ(tasks[0].hour, 6);
             EXPECT_EQ(tasks[0].minute, 8);
             EXPECT_EQ(tasks[0].second, 12);
         }},
        {"numbers past 32 bits saturate too",
         crlf({"yea=2147483648", "day=-2147483649", "act=addtask", "clr=2147483648",
               "act=addalert"}),
         1, 1,
         [] {
             EXPECT_EQ(tasks[0].year, 32767);
             EXPECT_EQ(tasks[0].day, -32768);
             EXPECT_EQ(alertRules[0].color, -2147483647 - 1) << "2^31 is a 32-bit colour";
         }},
        {"numbers too large saturate to the field",
         crlf({"day=40000", "mon=-40000", "yea=1e9", "hou=&H10", "min=&O17", "act=addtask",
               "val=99999", "clr=-1", "act=addalert", "clr=4294967295", "act=addalert",
               "val=-99999", "clr=99999999999", "act=addalert", "clr=-99999999999", "act=addalert",
               "clr=&HFF0000", "act=addalert"}),
         1, 5,
         [] {
             EXPECT_EQ(tasks[0].day, 32767);
             EXPECT_EQ(tasks[0].month, -32768);
             EXPECT_EQ(tasks[0].year, 32767);
             EXPECT_EQ(tasks[0].hour, 16);
             EXPECT_EQ(tasks[0].minute, 15);
             EXPECT_EQ(alertRules[0].interval, 32767);
             EXPECT_EQ(alertRules[0].color, -1);
             EXPECT_EQ(alertRules[1].color, -1) << "2^32 - 1 is the colour -1";
             EXPECT_EQ(alertRules[2].interval, -32768);
             EXPECT_EQ(alertRules[2].color, 2147483647);
             EXPECT_EQ(alertRules[3].color, -2147483647 - 1);
             EXPECT_EQ(alertRules[4].color, 0xFF0000);
         }},
        {"descriptions are decoded", crlf({"des=first|~second|||~", "act=addtask"}), 1, 0,
         [] { EXPECT_EQ(tasks[0].description, s("first\r\nsecond||\r\n")); }},
        {"derived fields",
         crlf({"yea=2026", "mon=3", "day=7", "hou=14", "min=5", "sec=0", "act=addtask"}), 1, 0,
         [] {
             EXPECT_EQ(tasks[0].sortKey, s("2026-03 - 07 14:05:00"));
             EXPECT_EQ(tasks[0].dueText, s("3/7/26 at 2:05:00 PM"));
         }},
        {"a NUL byte is just a character", QByteArray("ttl=a\0b\r\nact=addtask\r\n", 22), 1, 0,
         [] {
             EXPECT_EQ(tasks[0].title,
                       QString(QStringLiteral("a") + QChar(0) + QStringLiteral("b")));
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::resetWorld();
        const FileStatus st = loadBytes(c.bytes);
        EXPECT_EQ(st.code, FileStatus::Ok);
        EXPECT_TRUE(st.error.isEmpty()) << st.error.toStdString();
        EXPECT_EQ(taskCount, c.tasks);
        EXPECT_EQ(alertRuleCount, c.rules);
        c.check();
    }
}

TEST_F(TaskFile, LoadKeepsSlotsPastTheCount)
{
    tasks[5].title = QStringLiteral("leftover");
    alertRules[3].unit = QStringLiteral("m");
    taskCount = 6;
    alertRuleCount = 4;
    ASSERT_TRUE(loadBytes(crlf({"ttl=a", "act=addtask", "ttl=b", "act=addtask"})));
    EXPECT_EQ(taskCount, 2);
    EXPECT_EQ(alertRuleCount, 0);
    EXPECT_EQ(tasks[5].title, QStringLiteral("leftover"));
    EXPECT_EQ(alertRules[3].unit, QStringLiteral("m"));
}

const char kSampleName[] = "store_sample_tasks.txt";

TEST_F(TaskFile, SampleLoadsAsWritten)
{
    ASSERT_TRUE(loadTasks(testDataPath(kSampleName)));
    ASSERT_EQ(taskCount, 3);
    ASSERT_EQ(alertRuleCount, 3);
    EXPECT_EQ(tasks[0].title, QStringLiteral("Pay rent"));
    EXPECT_EQ(tasks[0].forWhom, QStringLiteral("Me"));
    EXPECT_EQ(tasks[0].day, 1);
    EXPECT_EQ(tasks[0].month, 4);
    EXPECT_EQ(tasks[0].year, 2026);
    EXPECT_EQ(tasks[0].hour, 9);
    EXPECT_EQ(tasks[0].deleted, QStringLiteral("N"));
    EXPECT_EQ(tasks[0].description, QStringLiteral("Bank transfer\r\nRef 12"));
    EXPECT_EQ(tasks[0].sortKey, QStringLiteral("2026-04 - 01 09:00:00"));
    EXPECT_EQ(tasks[1].title, QString::fromUtf8("Café “Zum Löwen” € 20"));
    EXPECT_EQ(tasks[1].deleted, QStringLiteral("Y"));
    EXPECT_EQ(tasks[1].description, QStringLiteral(" leading blank\nlone LF"));
    EXPECT_EQ(tasks[2].year, -5);
    EXPECT_EQ(tasks[2].minute, -1);
    EXPECT_EQ(tasks[2].description, QString());
    EXPECT_EQ(alertRules[0], (AlertRule{3, QStringLiteral("d"), 255, true}));
    EXPECT_EQ(alertRules[1], (AlertRule{-2, QStringLiteral("ww"), -1, false}));
    EXPECT_EQ(alertRules[2], (AlertRule{14, QString(), 16776960, false}));
}

TEST_F(TaskFile, RoundTripIsByteForByte)
{
    const QByteArray original = readFile(testDataPath(kSampleName));
    ASSERT_FALSE(original.contains("\n\n")) << "the sample must use CR LF only";
    writeFile(path(), original);
    ASSERT_TRUE(loadTasks(path()));
    const auto before = tasks;
    ASSERT_TRUE(saveTasks(path()));
    EXPECT_EQ(readFile(path()), original);
    EXPECT_EQ(serializeTables(), original);
    EXPECT_TRUE(tasks == before) << "saving must not change the tables";
}

TEST_F(TaskFile, WriterLayout)
{
    Task t;
    t.title = QStringLiteral("Pay rent");
    t.forWhom = QStringLiteral("Me");
    t.day = 1;
    t.month = 4;
    t.year = 2026;
    t.hour = 9;
    t.deleted = QStringLiteral("N");
    t.description = QStringLiteral("Bank transfer\r\nRef 12");
    tasks[0] = t;
    taskCount = 1;
    alertRules[0] = AlertRule{3, QStringLiteral("d"), 255, true};
    alertRules[1] = AlertRule{-7, QStringLiteral("d"), -16777216, false};
    alertRuleCount = 2;
    const QByteArray expected = crlf({"; Quillet",
                                      "; ----------",
                                      "; Tasks and settings",
                                      "; DO NOT MODIFY THIS FILE",
                                      "",
                                      "[Tasks]",
                                      "",
                                      "ttl=Pay rent",
                                      "for=Me",
                                      "day=1",
                                      "mon=4",
                                      "yea=2026",
                                      "hou=9",
                                      "min=0",
                                      "sec=0",
                                      "del=N",
                                      "des=Bank transfer|~Ref 12",
                                      "act=addtask",
                                      "",
                                      "[Alerts]",
                                      "",
                                      "val=3",
                                      "unt=d",
                                      "clr=255",
                                      "alr=on",
                                      "act=addalert",
                                      "",
                                      "val=-7",
                                      "unt=d",
                                      "clr=-16777216",
                                      "alr=off",
                                      "act=addalert",
                                      "",
                                      ""});
    EXPECT_EQ(serializeTables(), expected);
    ASSERT_TRUE(saveTasks(path()));
    EXPECT_EQ(readFile(path()), expected);
}

TEST_F(TaskFile, EmptyTablesGiveTenLines)
{
    ASSERT_TRUE(saveTasks(path()));
    const QByteArray bytes = readFile(path());
    EXPECT_EQ(bytes, crlf({"; Quillet", "; ----------", "; Tasks and settings",
                           "; DO NOT MODIFY THIS FILE", "", "[Tasks]", "", "[Alerts]", "", ""}));
    EXPECT_EQ(bytes.count("\r\n"), 10);
}

TEST_F(TaskFile, SavedFileReadsBackTheSameTables)
{
    for (int i = 0; i < 50; ++i) {
        Task &t = tasks[i];
        t.title = QStringLiteral("task %1 ").arg(i).trimmed();
        t.forWhom = QString::fromUtf8("für %1").arg(i);
        t.year = qint16(1990 + i);
        t.month = qint16(i % 14);
        t.day = qint16(i - 10);
        t.hour = qint16(i % 24);
        t.minute = qint16(i);
        t.second = qint16(-i);
        t.deleted = (i % 3) ? QStringLiteral("N") : QStringLiteral("Y");
        t.description = QStringLiteral("line one\r\nline two\r\n\r\n%1").arg(i);
    }
    taskCount = 50;
    alertRules[0] = AlertRule{-32768, QStringLiteral("yyyy"), -2147483647 - 1, true};
    alertRules[1] = AlertRule{32767, QString(), 2147483647, false};
    alertRuleCount = 2;
    ASSERT_TRUE(saveTasks(path()));
    const auto savedTasks = tasks;
    const auto savedRules = alertRules;
    resetTables();
    ASSERT_TRUE(loadTasks(path()));
    ASSERT_EQ(taskCount, 50);
    ASSERT_EQ(alertRuleCount, 2);
    // The stored fields; the derived ones are the reader's own (ReaderRules).
    for (int i = 0; i < 50; ++i) {
        Task expected = savedTasks[i];
        expected.sortKey = tasks[i].sortKey;
        expected.dueText = tasks[i].dueText;
        EXPECT_EQ(tasks[i], expected) << i;
    }
    EXPECT_EQ(alertRules[0], savedRules[0]);
    EXPECT_EQ(alertRules[1], savedRules[1]);
}

QByteArray manyRecords(int taskRecords, int ruleRecords)
{
    QByteArray out = crlf({"; Quillet", "[Tasks]"});
    for (int i = 0; i < taskRecords; ++i)
        out += "ttl=t" + QByteArray::number(i) + "\r\nact=addtask\r\n";
    for (int i = 0; i < ruleRecords; ++i)
        out += "val=" + QByteArray::number(i) + "\r\nact=addalert\r\n";
    return out;
}

void fillSomething()
{
    for (int i = 0; i < kTaskSlots; ++i)
        tasks[i].title = QStringLiteral("before %1").arg(i);
    for (int i = 0; i < kRuleSlots; ++i)
        alertRules[i].interval = qint16(i + 1000);
    taskCount = 3;
    alertRuleCount = 2;
}

TEST_F(TaskFile, FullTablesLoad)
{
    ASSERT_TRUE(loadBytes(manyRecords(1001, 101)));
    EXPECT_EQ(taskCount, 1001);
    EXPECT_EQ(alertRuleCount, 101);
    EXPECT_EQ(tasks[1000].title, QStringLiteral("t1000"));
    EXPECT_EQ(alertRules[100].interval, 100);
}

TEST_F(TaskFile, TooManyRecordsAreRefusedAndChangeNothing)
{
    struct {
        int tasks, rules;
        FileStatus::Code code;
    } const cases[] = {
        {1002, 0, FileStatus::TooManyTasks},
        {0, 102, FileStatus::TooManyRules},
        {1002, 102, FileStatus::TooManyTasks},
        {5000, 1, FileStatus::TooManyTasks},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.tasks << " tasks, " << c.rules << " rules");
        fillSomething();
        const auto tasksBefore = tasks;
        const auto rulesBefore = alertRules;
        const FileStatus st = loadBytes(manyRecords(c.tasks, c.rules));
        EXPECT_EQ(st.code, c.code);
        EXPECT_FALSE(st.ok());
        EXPECT_FALSE(st.error.isEmpty());
        EXPECT_EQ(taskCount, 3);
        EXPECT_EQ(alertRuleCount, 2);
        EXPECT_TRUE(tasks == tasksBefore);
        EXPECT_TRUE(alertRules == rulesBefore);
    }
}

QByteArray utf16(bool withMark)
{
    const QString text = QStringLiteral("; Quillet\r\n[Tasks]\r\nttl=Report\r\nact=addtask\r\n");
    QByteArray bytes = withMark ? QByteArray("\xFF\xFE") : QByteArray();
    for (const QChar c : text)
        bytes += char(c.unicode() & 0xFF), bytes += char(c.unicode() >> 8);
    return bytes;
}

TEST_F(TaskFile, AFileThatIsPlainlySomethingElseIsRefusedAndNeverWritten)
{
    struct {
        const char *name;
        QByteArray bytes;
        bool refused;
    } const cases[] = {
        // Something else: never loaded, never written.
        {"notes", "Buy milk\nCall Anna about the car\n", true},
        {"a shell start-up file",
         "# ~/.profile\nif [ -d \"$HOME/bin\" ] ; then\n  PATH=\"$HOME/bin:$PATH\"\nfi\n"
         "for f in a b; do echo $f; done\n",
         true},
        {"a script with a task's words",
         "#!/bin/sh\nfor f in *.txt; do\n  del=\"$f\"\n  act=1\ndone\n", true},
        {"a list of services", "ftp\t\t21/tcp\nssh\t\t22/tcp\t\t# SSH Remote Login\n", true},
        {"a settings file with a key of ours", "[General]\r\nmin=5\r\n", true},
        {"a settings file of three-letter keys", "[Settings]\nfoo=1\nbar=2\nbaz=3\n", true},
        {"a desktop entry", "[Desktop Entry]\nName=Tasks\nExec=quillet\nType=Application\nmin=1\n",
         true},
        {"a shopping list for the kids", "milk\neggs\nfor=the kids\nbread\n", true},
        {"task sections over a shopping list", "[Tasks]\nmilk\neggs\nbread\n", true},
        {"JSON", "{\n  \"tasks\": [\"a\", \"b\"],\n  \"for\": \"me\"\n}\n", true},
        {"YAML", "tasks:\n  - title: Report\n    for: me\n", true},
        {"CSV", "title,for,due\nReport,Me,2026-12-24\n", true},
        {"Markdown", "# Tasks\n\n- [ ] Report\n- [x] Call Bob\n", true},
        {"HTML", "<html><body><p>Tasks</p></body></html>\n", true},
        {"C source", "int main() {\n  for (int i = 0; i < 3; ++i)\n    act(i);\n}\n", true},
        {"binary data",
         QByteArray("\x7F"
                    "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0>\0",
                    20),
         true},
        {"words that begin with a key", "actually\nformat the disk\nmonday\n", true},
        // A task file, as the reader takes it.
        {"blank lines only", "\r\n   \r\n\r\n", false},
        {"the header alone", crlf({"; Quillet", "[Tasks]", "", "[Alerts]"}), false},
        {"the header comments alone",
         crlf({"; Quillet", "; ----------", "; Tasks and settings", "; DO NOT MODIFY THIS FILE"}),
         false},
        {"sections in any letter case", crlf({"[tasks]", "[ALERTS]"}), false},
        {"a section with a comment after it", crlf({"[Tasks] ; my list", "ttl=a", "act=addtask"}),
         false},
        {"a section with a tab after it", "[Tasks]\t\r\nttl=a\r\nact=addtask\r\n", false},
        {"keys with another fourth character", crlf({"ttl:Report", "for Me", "act:addtask"}),
         false},
        {"a key with another fourth character alone", crlf({"ttl:Report"}), false},
        {"a task among unknown lines", crlf({"hello", "ttl=x", "act=addtask", "more"}), false},
        {"one rule line", "alr=on\n", false},
        {"a byte order mark before the header", "\xEF\xBB\xBF; Quillet\r\n[Tasks]\r\n", false},
        // A task file in UTF-16, as some Windows editors save it: named so.
        {"UTF-16 with its byte order mark", utf16(true), true},
        {"UTF-16 without one", utf16(false), true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fillSomething();
        const FileStatus st = loadBytes(c.bytes);
        if (!c.refused) {
            EXPECT_TRUE(st.ok()) << st.error.toStdString();
            continue;
        }
        EXPECT_EQ(st.code, FileStatus::NotTaskFile);
        EXPECT_TRUE(st.error.startsWith(path() + QStringLiteral(" is ")) &&
                    st.error.contains(QStringLiteral("not a Quillet task file")))
            << st.error.toStdString();
        EXPECT_EQ(st.error.contains(QStringLiteral("UTF-16")),
                  QByteArray(c.name).contains("UTF-16"));
        EXPECT_EQ(taskCount, 3);
        EXPECT_EQ(tasks[0].title, QStringLiteral("before 0"));
        // WHEN the user goes on and saves THEN the file is still not written.
        EXPECT_EQ(saveTasks(path()).code, FileStatus::NotTaskFile);
        EXPECT_EQ(readFile(path()), c.bytes);
    }
}

TEST_F(TaskFile, MissingFileGivesEmptyTables)
{
    fillSomething();
    const FileStatus st = loadTasks(dir.filePath(QStringLiteral("nothing-here.txt")));
    EXPECT_EQ(st.code, FileStatus::Missing);
    EXPECT_FALSE(st.ok());
    EXPECT_EQ(taskCount, 0);
    EXPECT_EQ(alertRuleCount, 0);
}

TEST_F(TaskFile, UnreadableFileChangesNothing)
{
    // chmod 000 does not stop root; a directory cannot be read as a file by anyone.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("tasks.txt")));
    fillSomething();
    const auto tasksBefore = tasks;
    const FileStatus st = loadTasks(path());
    EXPECT_EQ(st.code, FileStatus::Unreadable);
    EXPECT_FALSE(st.error.isEmpty());
    EXPECT_EQ(taskCount, 3);
    EXPECT_EQ(alertRuleCount, 2);
    EXPECT_TRUE(tasks == tasksBefore);
}

TEST_F(TaskFile, DefaultPathIsTasksTxtInTheCurrentDirectory)
{
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    tasks[0].title = QStringLiteral("here");
    taskCount = 1;
    const FileStatus saved = saveTasks();
    resetTables();
    const FileStatus loaded = loadTasks();
    QDir::setCurrent(old);
    ASSERT_TRUE(saved);
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(QFile::exists(path()));
    EXPECT_EQ(tasks[0].title, QStringLiteral("here"));
}

TEST_F(TaskFile, Windows1252FallbackAndUtf8WrittenBack)
{
    // \x80 euro, \xE9 e acute, \x93 \x94 curly double quotes, \x91 \x92 single ones
    ASSERT_TRUE(loadBytes("ttl=\x80 caf\xE9 \x93quoted\x94 \x91x\x92\r\nact=addtask\r\n"));
    ASSERT_EQ(taskCount, 1);
    EXPECT_EQ(tasks[0].title, QString::fromUtf8("€ café “quoted” ‘x’"));
    ASSERT_TRUE(saveTasks(path()));
    EXPECT_TRUE(
        readFile(path()).contains("ttl=\xE2\x82\xAC caf\xC3\xA9 \xE2\x80\x9Cquoted\xE2\x80\x9D "
                                  "\xE2\x80\x98x\xE2\x80\x99\r\n"));
}

TEST_F(TaskFile, Windows1252LettersAtTheEndOfALineAreKept)
{
    // A byte that starts a UTF-8 sequence, last on its line, is a letter of
    // its own, not the start of one that the next read might finish.
    struct {
        QByteArray line;
        const char *title;
    } const cases[] = {
        {"Caf\xE9", "Café"},
        {"Andr\xE9", "André"},
        {"Stra\xDF"
         "e",
         "Straße"},
        {"Zo\xEB", "Zoë"},
        {"Se\xF1", "Señ"},
        {"\xC9", "É"},
        {"x\xC3", "xÃ"},
        {"x\xE2\x82", "xâ‚"},
        {"x\xF0\x9F\x98", "xðŸ˜"},
        {"\x9F", "Ÿ"},
        {"a\x9F", "aŸ"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.title);
        // In a CR LF file, which is read line by line, and in an LF one.
        for (const QByteArray &bytes :
             {"ttl=" + c.line + "\r\nact=addtask\r\n", "ttl=" + c.line + "\nact=addtask"}) {
            ASSERT_TRUE(loadBytes(bytes));
            EXPECT_EQ(tasks[0].title, QString::fromUtf8(c.title));
        }
    }
}

// An independent reader to hold the store's against: glibc's iconv decides
// what is UTF-8, and gives Windows-1252 for the bytes it defines; the five
// it leaves out stand for themselves, as on Windows.
class ReferenceDecoder {
public:
    ReferenceDecoder()
    {
        for (int b = 0; b < 256; ++b) {
            const char byte = char(b);
            QString one;
            m_cp1252[b] =
                convert("WINDOWS-1252", QByteArray(&byte, 1), &one) ? one.at(0) : QChar(b);
        }
    }
    QString line(const QByteArray &bytes) const
    {
        QString text;
        if (convert("UTF-8", bytes, &text))
            return text;
        text.clear();
        for (const char c : bytes)
            text += m_cp1252[static_cast<unsigned char>(c)];
        return text;
    }

private:
    static bool convert(const char *from, const QByteArray &in, QString *out)
    {
        iconv_t cd = iconv_open("UTF-16LE", from);
        if (cd == iconv_t(-1))
            return false;
        QByteArray input = in;
        QByteArray output(in.size() * 4 + 4, Qt::Uninitialized);
        char *inp = input.data(), *outp = output.data();
        size_t inLeft = size_t(input.size()), outLeft = size_t(output.size());
        const bool ok = iconv(cd, &inp, &inLeft, &outp, &outLeft) != size_t(-1) && inLeft == 0;
        iconv_close(cd);
        if (ok)
            *out = QString(reinterpret_cast<const QChar *>(output.constData()),
                           (output.size() - qsizetype(outLeft)) / 2);
        return ok;
    }
    QChar m_cp1252[256];
};

// Lines of random pieces: ASCII, whole UTF-8 sequences of every length,
// sequences cut short, overlong forms, surrogates, bytes past U+10FFFF and
// lone Windows-1252 letters, often last on the line.
QByteArray randomLine(std::mt19937 &random)
{
    auto pick = [&](int n) { return int(random() % unsigned(n)); };
    auto utf8 = [](char32_t c) { return QString::fromUcs4(&c, 1).toUtf8(); };
    QByteArray line;
    const int pieces = 1 + pick(6);
    for (int i = 0; i < pieces; ++i) {
        switch (pick(9)) {
        case 0: line += char('!' + pick(94)); break;
        case 1: line += utf8(char32_t(0x80 + pick(0x780))); break;
        case 2: line += utf8(char32_t(0x800 + pick(0xD000))); break;
        case 3: line += utf8(char32_t(0x10000 + pick(0x100000))); break;
        case 4: {
            const QByteArray whole = utf8(char32_t(0x80 + pick(0x10FF80)));
            if (whole.size() > 1)
                line += whole.left(1 + pick(int(whole.size()) - 1));
            break;
        }
        case 5: line += char(0x80 + pick(0x80)); break;
        case 6: {
            static const char *const odd[] = {
                "\xC0\x80",     "\xC1\xBF",         "\xE0\x80\x80",     "\xED\xA0\x80",
                "\xED\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF",
                "\xFE",         "\xEF\xBF\xBE"};
            line += odd[pick(10)];
            break;
        }
        default: line += char(0x20 + pick(0x60)); break;
        }
    }
    // Blanks at either end are trimmed from every line.
    while (line.startsWith(' ') || line.endsWith(' '))
        line = line.startsWith(' ') ? line.mid(1) : line.chopped(1);
    return line.isEmpty() ? QByteArray("x") : line;
}

TEST_F(TaskFile, EveryLineReadsAsTheReferenceDecoderReadsIt)
{
    const ReferenceDecoder reference;
    std::mt19937 random(20261208);
    for (int round = 0; round < 250; ++round) {
        // Few lines: often all UTF-8 but for one cut sequence at the end,
        // the case that reads the file whole.
        const int count = 1 + int(random() % (round % 2 ? 3 : 60));
        const QByteArray lineEnd = round % 3 == 0 ? "\n" : "\r\n";
        QByteArray file;
        std::vector<QByteArray> lines;
        for (int i = 0; i < count; ++i) {
            lines.push_back(randomLine(random));
            file += "ttl=" + lines.back() + lineEnd + "act=addtask" + lineEnd;
        }
        if (round % 4 == 1)
            file.chop(lineEnd.size());  // no line end after the last line
        ASSERT_TRUE(loadBytes(file));
        ASSERT_EQ(taskCount, count);
        for (int i = 0; i < count; ++i) {
            ASSERT_EQ(tasks[size_t(i)].title, reference.line(lines[size_t(i)]))
                << "round " << round << ", line " << lines[size_t(i)].toHex(' ').toStdString();
        }
    }
}

// The reader decodes line by line; decoding the whole file first must give
// the same tables and the same answer, whatever the bytes: byte order marks
// anywhere, mixed encodings and line ends, blanks, stray and partial keys.
TEST_F(TaskFile, ReadingLineByLineMakesWhatReadingTheWholeTextMakes)
{
    std::mt19937 random(20261209);
    auto pick = [&](int n) { return int(random() % unsigned(n)); };
    static const char *const keys[] = {"ttl=", "for=", "des=", "del=", "day=", "mon=",
                                       "yea=", "hou=", "min=", "sec=", "val=", "unt=",
                                       "clr=", "alr=", "act=", "tt",   "[Tasks]", "; "};
    static const char *const ends[] = {"\r\n", "\n", "\r", "\r\r\n"};
    static const char *const values[] = {"addtask", "addalert", "on", "Y", "N", "12", "-3"};
    const auto snapshot = [] {
        return std::make_pair(std::vector<Task>(tasks.begin(), tasks.begin() + taskCount),
                              std::vector<AlertRule>(alertRules.begin(),
                                                     alertRules.begin() + alertRuleCount));
    };
    for (int round = 0; round < 3000; ++round) {
        QByteArray file;
        if (pick(4) == 0)
            file += "\xEF\xBB\xBF";
        const int lines = pick(40);
        // Some files are all UTF-8 but for one line, some all of it.
        const bool clean = round % 3 != 0;
        for (int i = 0; i < lines; ++i) {
            if (pick(12) == 0)
                file += "\xEF\xBB\xBF";
            if (pick(10) == 0)
                file += "  ";
            file += keys[pick(int(std::size(keys)))];
            if (pick(3) == 0) {
                file += values[pick(int(std::size(values)))];
            } else {
                QByteArray value = randomLine(random);
                if (clean)
                    value = QString::fromUtf8(value).toUtf8();
                file += value;
            }
            file += ends[round % 5 == 0 ? pick(4) : 0];
        }
        if (clean && lines > 0 && pick(4) == 0)
            file += char(0xC3);  // cut short at the very end
        const std::string shown = file.toHex(' ').toStdString();

        resetTables();
        const FileStatus whole = readTasksDecodedWhole(file);
        const auto expected = snapshot();
        resetTables();
        const FileStatus byLine = readTasks(file);
        ASSERT_EQ(byLine.code, whole.code) << shown;
        ASSERT_EQ(byLine.error, whole.error) << shown;
        ASSERT_TRUE(snapshot() == expected) << "round " << round << ": " << shown;
    }
}

TEST_F(TaskFile, ValidUtf8IsReadAsUtf8)
{
    ASSERT_TRUE(loadBytes("ttl=caf\xC3\xA9 \xE2\x82\xAC\r\nact=addtask\r\n"));
    EXPECT_EQ(tasks[0].title, QString::fromUtf8("café €"));
}

TEST_F(TaskFile, EncodingIsDecidedPerLine)
{
    // GIVEN correct UTF-8 lines and one Windows-1252 line
    ASSERT_TRUE(
        loadBytes("ttl=Caf\xC3\xA9 \xE2\x82\xAC"
                  "5 \xE6\x97\xA5\xE6\x9C\xAC\r\nact=addtask\r\n"
                  "ttl=\xE9t\xE9\r\nfor=\xE2\x82\xAC\r\nact=addtask\r\n"));
    ASSERT_EQ(taskCount, 2);
    EXPECT_EQ(tasks[0].title, QString::fromUtf8("Café €5 日本"));
    EXPECT_EQ(tasks[1].title, QString::fromUtf8("été"));
    EXPECT_EQ(tasks[1].forWhom, QString::fromUtf8("€"));
    // WHEN saved THEN every line is UTF-8 and reads back the same
    ASSERT_TRUE(saveTasks(path()));
    resetTables();
    ASSERT_TRUE(loadTasks(path()));
    EXPECT_EQ(tasks[0].title, QString::fromUtf8("Café €5 日本"));
    EXPECT_EQ(tasks[1].title, QString::fromUtf8("été"));
}

TEST_F(TaskFile, LineBreaksOutsideTheDescriptionAreNeverWritten)
{
    const QString pasted = QStringLiteral("Pasted\r\nclr=65280\r\nact=addalert");
    tasks[0].title = pasted;
    tasks[0].forWhom = QStringLiteral("a\nb\rc");
    tasks[0].deleted = QStringLiteral("N\r\n");
    tasks[0].description = QStringLiteral("one\r\ntwo\rthree\nfour");
    taskCount = 1;
    alertRules[0] = AlertRule{1, QStringLiteral("d\r\nact=addtask"), 0, false};
    alertRuleCount = 1;
    ASSERT_TRUE(saveTasks(path()));
    resetTables();
    ASSERT_TRUE(loadTasks(path()));
    ASSERT_EQ(taskCount, 1);
    ASSERT_EQ(alertRuleCount, 1);
    EXPECT_EQ(tasks[0].title, QStringLiteral("Pasted  clr=65280  act=addalert"));
    EXPECT_EQ(tasks[0].forWhom, QStringLiteral("a b c"));
    EXPECT_EQ(tasks[0].description, QStringLiteral("one\r\ntwo three\nfour"));
    EXPECT_EQ(alertRules[0].unit, QStringLiteral("d  act=addtask"));
}

// The windows keep the tables their last alert page was built from; a
// reload after every save must not hold a second copy of each text.
TEST_F(TaskFile, AReloadKeepsTheTextsItAlreadyHolds)
{
    for (int i = 0; i < 3; ++i) {
        tasks[i].title = QStringLiteral("Task %1").arg(i);
        tasks[i].forWhom = QStringLiteral("Ann");
        tasks[i].description = QStringLiteral("Line one\r\nline two of %1").arg(i);
        tasks[i].year = 2026;
        tasks[i].month = 12;
        tasks[i].day = qint16(1 + i);
        tasks[i].deleted = QStringLiteral("N");
    }
    taskCount = 3;
    ASSERT_TRUE(saveTasks(path()));
    ASSERT_TRUE(loadTasks(path()));
    const std::vector<Task> kept(tasks.begin(), tasks.begin() + taskCount);

    // Another program changes the second task's title and the third's day.
    QByteArray bytes = readFile(path());
    bytes.replace("ttl=Task 1\r\n", "ttl=Renamed\r\n");
    bytes.replace("day=3\r\n", "day=4\r\n");
    writeFile(path(), bytes);
    ASSERT_TRUE(loadTasks(path()));

    struct Field {
        const char *name;
        QString Task::*text;
    } const fields[] = {{"title", &Task::title},
                        {"for", &Task::forWhom},
                        {"description", &Task::description},
                        {"deleted", &Task::deleted},
                        {"sort key", &Task::sortKey},
                        {"due text", &Task::dueText}};
    for (int i = 0; i < 3; ++i) {
        for (const Field &f : fields) {
            SCOPED_TRACE(std::string(f.name) + " of task " + std::to_string(i));
            const QString &now = tasks[size_t(i)].*f.text;
            const QString &before = kept[size_t(i)].*f.text;
            const bool changed = (i == 1 && f.text == &Task::title) ||
                                 (i == 2 && (f.text == &Task::sortKey || f.text == &Task::dueText));
            EXPECT_EQ(now == before, !changed);
            EXPECT_EQ(now.constData() == before.constData(), !changed) << "not the same copy";
        }
    }
    EXPECT_EQ(tasks[1].title, QStringLiteral("Renamed"));
    EXPECT_EQ(tasks[2].day, 4);
}

TEST_F(TaskFile, AChangeMadeElsewhereIsNeverOverwritten)
{
    tasks[0].title = QStringLiteral("mine");
    taskCount = 1;
    ASSERT_TRUE(saveTasks(path()));
    const QByteArray elsewhere = crlf({"ttl=theirs", "act=addtask"});
    writeFile(path(), elsewhere);

    tasks[0].title = QStringLiteral("my next change");
    const FileStatus st = saveTasks(path());
    EXPECT_EQ(st.code, FileStatus::ChangedOutside);
    EXPECT_TRUE(st.error.contains(path())) << st.error.toStdString();
    EXPECT_EQ(readFile(path()), elsewhere);

    // Once read again, saves go through.
    ASSERT_TRUE(loadTasks(path()));
    EXPECT_EQ(tasks[0].title, QStringLiteral("theirs"));
    EXPECT_TRUE(saveTasks(path()));
    // A file removed elsewhere loses nothing by being written again.
    ASSERT_TRUE(QFile::remove(path()));
    EXPECT_TRUE(saveTasks(path()));
}

TEST_F(TaskFile, OnlyARegularFileIsRead)
{
    ASSERT_EQ(mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe"))).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), dir.filePath(QStringLiteral("zero"))));
    ASSERT_TRUE(
        QFile::link(QStringLiteral("/dev/urandom"), dir.filePath(QStringLiteral("random"))));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    for (const char *name : {"pipe", "zero", "random", "folder"}) {
        SCOPED_TRACE(name);
        fillSomething();
        QElapsedTimer clock;
        clock.start();
        const FileStatus st = loadTasks(dir.filePath(QString::fromLatin1(name)));
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_EQ(st.code, FileStatus::Unreadable);
        EXPECT_TRUE(st.error.contains(QLatin1String(name))) << st.error.toStdString();
        EXPECT_EQ(taskCount, 3);
    }
}

TEST_F(TaskFile, SaveIntoMissingDirectoryFails)
{
    tasks[0].title = QStringLiteral("x");
    taskCount = 1;
    const FileStatus st = saveTasks(dir.filePath(QStringLiteral("no/such/dir/tasks.txt")));
    EXPECT_EQ(st.code, FileStatus::WriteFailed);
    EXPECT_FALSE(st.error.isEmpty());
    EXPECT_EQ(tasks[0].title, QStringLiteral("x"));
    EXPECT_EQ(taskCount, 1);
}

}  // namespace
