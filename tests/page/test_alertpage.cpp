#include "page/alertpage.h"
#include "store/ordering.h"
#include "store/tables.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>

#include <gtest/gtest.h>

using namespace Module1;

namespace {

const QString kHead = QStringLiteral(
    "<head><title>Alerts</title></head>\r\n"
    "<body><center><p align=center>\r\n"
    "<h2>Attention!</h2>\r\n");
const QString kTail = QStringLiteral("</p></center></body></html>\r\n");

// One block as the page format lays it out, for a task due at 9:05:00 AM.
QString block(const QString &c, const QString &title, const QString &due, const QString &tLine,
              const QString &description = QString(), const QString &forWhom = "Me")
{
    return "<table width=95% align=center border=0 cellspacing=8 bgcolor=#" + c +
           ">\r\n"
           "<tr><td bgcolor=#ffffff>\r\n"
           "<table width=100% bgcolor=#eeeEe0 border=0 cellpadding=0 cellspacing=0>"
           "<tr><td colspan=2>\r\n"
           "<b> " +
           title +
           "</b></td></tr><tr><td>\r\n"
           "<small><B>For: </b> " +
           forWhom +
           " </small></td><td>\r\n"
           "<small><b>Due: </b> " +
           due + " at 9:05:00 AM</small> </td><td>\r\n" + tLine +
           "\r\n"
           "</td></tr><tr><td colspan=3 bgcolor=#" +
           c + "></td></tr></table>" + description +
           "\r\n"
           "</small></td></tR></table><br>\r\n";
}

const QString kToday = QStringLiteral("<small><b>T -: </b> <B>Today!</b> </small>");
const QString kLate = QStringLiteral("<small><b>T -: </b> <B>Late!</b> </small>");

void addTask(const QString &title, int y, int m, int d, const QString &deleted = "N",
             const QString &description = QString())
{
    Task &t = tasks[taskCount++];
    t.title = title;
    t.forWhom = QStringLiteral("Me");
    t.year = qint16(y);
    t.month = qint16(m);
    t.day = qint16(d);
    t.hour = 9;
    t.minute = 5;
    t.second = 0;
    t.deleted = deleted;
    t.description = description;
    t.sortKey = makeSortKey(t);
}

void addRule(int interval, bool popup, qint32 color, const QString &unit = "d")
{
    alertRules[alertRuleCount++] = AlertRule{qint16(interval), unit, color, popup};
}

// The viewer's blocks: the heading, then one per task, cut from the page
// in one pass; each stands alone once wrapped, and together they are the page.
TEST(AlertPage, ViewIsTheHeadingThenOneBlockPerTask)
{
    addTask("First", 2026, 12, 1);
    addTask("Second", 2026, 12, 9, "N", "notes");
    addRule(3, true, 255);
    const AlertPage page = buildAlertPage(today());
    const PageBlocks &view = page.view;
    ASSERT_EQ(view.blocks.size(), 3u);
    EXPECT_EQ(view.blockHtml(0), kHead + kTail);
    EXPECT_EQ(view.blockHtml(1), QStringLiteral("<body><center><p align=center>\r\n") +
                                     block("FF0000", "First", "December 01/26", kLate) + kTail);
    EXPECT_EQ(view.blockHtml(2), QStringLiteral("<body><center><p align=center>\r\n") +
                                     block("FF0000", "Second", "December 09/26",
                                           "<small><b>T -: </b> 1 days left </small>", "notes") +
                                     kTail);
    // The viewer measures on a block of the page's making, none of the user's.
    EXPECT_TRUE(view.sample.startsWith(
        "<table width=95% align=center border=0 cellspacing=8 bgcolor=#000000>\r\n"));
    EXPECT_TRUE(view.sample.endsWith("</small></td></tR></table><br>\r\n"));
    EXPECT_FALSE(view.sample.contains("First") || view.sample.contains("notes"));
    // Nothing of the page lies outside a block but its last line.
    QString joined;
    for (const PageBlocks::Block &b : view.blocks)
        joined += view.markup.mid(b.from, b.to - b.from);
    EXPECT_EQ(joined + kTail, page.html);
}

// The page is held as UTF-8: a block's bytes must still be its whole text,
// before and after a text the viewer shows escaped.
TEST(AlertPage, TextsBeyondAsciiStayInTheirBlocks)
{
    addTask(QString::fromUtf8("Caf\u00e9 \u65e5\u672c \U0001F600"), 2026, 12, 1, "N",
            QString::fromUtf8("na\u00efve\r\n\u03bb"));
    addTask(QString::fromUtf8("<table>broken \u00e9"), 2026, 12, 2);
    addTask(QString::fromUtf8("\u00dcn\u00efcode after"), 2026, 12, 3);
    addRule(30, true, 255);
    const AlertPage page = buildAlertPage(today());
    const PageBlocks &view = page.view;
    ASSERT_EQ(view.blocks.size(), 4u);
    EXPECT_TRUE(view.blockHtml(1).contains(QString::fromUtf8("Caf\u00e9 \u65e5\u672c \U0001F600")));
    EXPECT_TRUE(view.blockHtml(1).contains(QString::fromUtf8("na\u00efve\r\n\u03bb")));
    EXPECT_TRUE(view.blockHtml(2).contains(QString::fromUtf8("&lt;table&gt;broken \u00e9")));
    EXPECT_TRUE(view.blockHtml(3).contains(QString::fromUtf8("\u00dcn\u00efcode after")));
    EXPECT_TRUE(QString::fromUtf8(page.html).contains(QString::fromUtf8("<table>broken \u00e9")));
    QString joined;
    for (size_t i = 0; i < view.blocks.size(); ++i)
        joined += QString::fromUtf8(view.blockBytes(i));
    EXPECT_EQ(joined + kTail,
              QString::fromUtf8(page.html).replace("<table>broken", "&lt;table&gt;broken"));
}

// What a screen reader says for each task: what the block shows, on one line.
TEST(AlertPage, EachTaskIsNamedWithTitleForDueAndDaysLeft)
{
    addTask("Late one", 2026, 12, 1);
    addTask("Due <b>today</b> & now", 2026, 12, 8);
    addTask("In five days", 2026, 12, 13);
    tasks[2].forWhom = QStringLiteral("  ");
    addTask("<table><tr><td>unclosed", 2026, 12, 14);
    addRule(10, true, 255);
    const AlertPage page = buildAlertPage(today());
    QStringList names;
    for (const PageBlocks::Block &b : page.view.blocks)
        names << b.name;
    EXPECT_EQ(names, QStringList(
                         {"Attention!", "Late one, for Me, due December 01/26 at 9:05:00 AM, Late!",
                          "Due <b>today</b> & now, for Me, due December 08/26 at 9:05:00 AM, "
                          "Today!",
                          "In five days, due December 13/26 at 9:05:00 AM, 5 days left",
                          "&lt;table&gt;&lt;tr&gt;&lt;td&gt;unclosed, for Me, due December 14/26 "
                          "at 9:05:00 AM, 6 days left"}));
}

// The alert view asks for the page at every visit: unchanged tables give the
// page built last (its very text); any change builds it anew.
TEST(AlertPage, BuiltAgainOnlyWhenSomethingOnItMayHaveChanged)
{
    addTask("First", 2026, 12, 1);
    addTask("Second", 2026, 12, 9);
    addRule(3, true, 255);
    const AlertPage first = buildAlertPage(today());
    EXPECT_EQ(buildAlertPage(today()).html.constData(), first.html.constData());

    const std::function<void()> changes[] = {
        [] { tasks[1].description = QStringLiteral("new notes"); },
        [] { tasks[0].deleted = QStringLiteral("Y"); },
        [] { alertRules[0].color = 65280; },
        [] { addRule(2, true, 16711680); },
        [] { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); },
    };
    for (size_t i = 0; i < std::size(changes); ++i) {
        const AlertPage before = buildAlertPage(today());
        changes[i]();
        const AlertPage after = buildAlertPage(today());
        EXPECT_NE(after.html.toStdString(), before.html.toStdString()) << i;
    }
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const AlertPage now = buildAlertPage(today());
    EXPECT_NE(buildAlertPage(today() + Days::duration{1}).html, now.html);
}

TEST(AlertPage, NoRulesGivesTheFourLines)
{
    addTask("Pay rent", 2026, 12, 8);
    const AlertPage page = buildAlertPage(today());
    EXPECT_FALSE(page.announced);
    EXPECT_EQ(page.html, kHead + kTail);
}

TEST(AlertPage, RuleWithoutPopupAnnouncesNothing)
{
    addTask("Pay rent", 2026, 12, 8);
    addRule(10, false, 255);
    const AlertPage page = buildAlertPage(today());
    EXPECT_FALSE(page.announced);
    EXPECT_EQ(page.html, kHead + kTail);
}

TEST(AlertPage, IntervalZeroTakesTodayAndOverdueNotTomorrow)
{
    addTask("Tomorrow", 2026, 12, 9);
    addTask("Today", 2026, 12, 8);
    addTask("Yesterday", 2026, 12, 7);
    addRule(0, true, 255);
    const AlertPage page = buildAlertPage(today());
    EXPECT_TRUE(page.announced);
    EXPECT_EQ(page.html, kHead + block("FF0000", "Yesterday", "December 07/26", kLate) +
                             block("FF0000", "Today", "December 08/26", kToday) + kTail);
}

TEST(AlertPage, DaysLeftCountsCalendarDays)
{
    addTask("Report", 2026, 12, 13);
    addRule(5, true, 65280);
    const AlertPage page = buildAlertPage(today());
    EXPECT_EQ(page.html, kHead +
                             block("00FF00", "Report", "December 13/26",
                                   "<small><b>T -: </b> 5 days left </small>") +
                             kTail);
}

TEST(AlertPage, DaysLeftCarriesOverMonthsAndYears)
{
    // Month 13 of 2026 is January 2027: 24 days from 8 December.
    addTask("New year", 2026, 13, 1);
    addRule(30, true, 0);
    const AlertPage page = buildAlertPage(today());
    EXPECT_NE(page.html.indexOf("<small><b>T -: </b> 24 days left </small>"), -1)
        << page.html.toStdString();
}

TEST(AlertPage, DeletedTaskIsLeftOutAndAnnouncesNothing)
{
    addTask("Gone", 2026, 12, 8, "Y");
    addRule(3, true, 255);
    const AlertPage page = buildAlertPage(today());
    EXPECT_FALSE(page.announced);
    EXPECT_EQ(page.html, kHead + kTail);
}

TEST(AlertPage, LowerCaseYIsCurrent)
{
    addTask("Kept", 2026, 12, 8, "y");
    addRule(3, true, 255);
    EXPECT_TRUE(buildAlertPage(today()).announced);
}

struct ColourCase {
    qint32 color;
    const char *text;
};

class ColourText : public ::testing::TestWithParam<ColourCase> { };

TEST_P(ColourText, RedFirstUpperCase)
{
    EXPECT_EQ(colorText(GetParam().color), QString::fromLatin1(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(AlertPage, ColourText,
                         ::testing::Values(ColourCase{255, "FF0000"},
                                           ColourCase{16711680, "0000FF"}, ColourCase{0, "000000"},
                                           ColourCase{65280, "00FF00"},
                                           ColourCase{0x0A0B0C, "0C0B0A"},
                                           ColourCase{-1, "FFFFFF"},  // top byte ignored
                                           ColourCase{0x7F123456, "563412"}));

TEST(AlertPage, ColourOfABlockComesFromTheRule)
{
    addTask("Blue", 2026, 12, 8);
    addRule(3, true, 16711680);
    const AlertPage page = buildAlertPage(today());
    EXPECT_EQ(page.html, kHead + block("0000FF", "Blue", "December 08/26", kToday) + kTail);
}

// The rule walk: which rule counts and whose colour the block takes.
struct WalkCase {
    const char *name;
    std::vector<AlertRule> rules;
    int dueInDays;
    bool announced;
    const char *color;  // when announced
};

class RuleWalk : public ::testing::TestWithParam<WalkCase> { };

TEST_P(RuleWalk, ChoosesAnnouncementAndColour)
{
    const WalkCase &c = GetParam();
    const Days due = today() + std::chrono::days{c.dueInDays};
    const std::chrono::year_month_day ymd{due};
    addTask("T", int(ymd.year()), int(unsigned(ymd.month())), int(unsigned(ymd.day())));
    for (const AlertRule &r : c.rules)
        alertRules[alertRuleCount++] = r;
    const AlertPage page = buildAlertPage(today());
    EXPECT_EQ(page.announced, c.announced);
    if (c.announced) {
        EXPECT_TRUE(page.html.contains(QStringLiteral("cellspacing=8 bgcolor=#%1>").arg(c.color).toUtf8()))
            << page.html.toStdString();
    }
}

const AlertRule kRedA{7, "d", 255, true};
const AlertRule kYellowB{3, "d", 65535, false};

INSTANTIATE_TEST_SUITE_P(
    AlertPage, RuleWalk,
    ::testing::Values(
        WalkCase{"EqualIntervalsLaterColour",
                 {{5, "d", 255, true}, {5, "d", 16711680, true}},
                 2,
                 true,
                 "0000FF"},
        WalkCase{"PopupThenNarrowerNoPopupKeepsIt", {kRedA, kYellowB}, 2, true, "FF0000"},
        WalkCase{"NarrowerFirstBlocksWiderPopup", {kYellowB, kRedA}, 2, false, ""},
        WalkCase{"NarrowerRuleOutOfRangeDoesNotBlock", {kYellowB, kRedA}, 5, true, "FF0000"},
        WalkCase{"LastCountingPopupGivesColour",
                 {{10, "d", 255, true}, {6, "d", 65280, true}, {4, "d", 16711680, false}},
                 1,
                 true,
                 "00FF00"},
        WalkCase{"WiderAfterNarrowerDoesNotCount",
                 {{2, "d", 255, true}, {9, "d", 65280, true}},
                 1,
                 true,
                 "FF0000"},
        WalkCase{"OverdueCoveredByEveryRule", {{0, "d", 255, true}}, -400, true, "FF0000"},
        WalkCase{"NegativeIntervalNeedsOverdue", {{-2, "d", 255, true}}, -1, false, ""},
        WalkCase{"NegativeIntervalOverdueEnough", {{-2, "d", 255, true}}, -3, true, "FF0000"},
        WalkCase{"FarFutureBeyondSixteenBits", {{32767, "d", 255, true}}, 40000, false, ""},
        WalkCase{"WeeksUnit", {{1, "ww", 255, true}}, 6, true, "FF0000"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(AlertPage, AscendingDueOrderWhateverTheOrderBefore)
{
    addTask("Third", 2026, 12, 10);
    addTask("First", 2026, 11, 30);
    addTask("Second", 2026, 12, 8);
    addRule(5, true, 255);
    sortMode = 10;
    const AlertPage page = buildAlertPage(today());
    EXPECT_EQ(sortMode, 2);
    EXPECT_EQ(tasks[0].title, "First");
    EXPECT_EQ(tasks[2].title, "Third");
    EXPECT_EQ(page.html, kHead + block("FF0000", "First", "November 30/26", kLate) +
                             block("FF0000", "Second", "December 08/26", kToday) +
                             block("FF0000", "Third", "December 10/26",
                                   "<small><b>T -: </b> 2 days left </small>") +
                             kTail);
}

TEST(AlertPage, TextsGoInAsTheyAre)
{
    addTask("Call <b>Bob</b> & \"Ann\"", 2026, 12, 8, "N", "line one\r\nline two");
    addRule(1, true, 255);
    const AlertPage page = buildAlertPage(today());
    EXPECT_EQ(page.html, kHead +
                             block("FF0000", "Call <b>Bob</b> & \"Ann\"", "December 08/26", kToday,
                                   "line one\r\nline two") +
                             kTail);
}

TEST(AlertPage, ViewerEscapesOnlyTheTextsItCouldNotLayOut)
{
    const QString deep = QStringLiteral("<table><tr><td>").repeated(20) + "x" +
                         QStringLiteral("</td></tr></table>").repeated(20);
    const QString open = QStringLiteral("<table><tr><td>");
    addTask("<b>Kept</b>", 2026, 12, 8, "N", deep);
    addTask(open, 2026, 12, 8);
    addRule(0, true, 255);
    const AlertPage page = buildAlertPage(today());
    EXPECT_EQ(page.html, kHead + block("FF0000", "<b>Kept</b>", "December 08/26", kToday, deep) +
                             block("FF0000", open, "December 08/26", kToday) + kTail);
    EXPECT_EQ(page.view.markup,
              kHead +
                  block("FF0000", "<b>Kept</b>", "December 08/26", kToday, deep.toHtmlEscaped()) +
                  block("FF0000", open.toHtmlEscaped(), "December 08/26", kToday) + kTail);
}

// Markup is judged field by field: a page of ordinary tasks, each with a
// dozen tags, shows them all.
TEST(AlertPage, ManyTaggedTasksAllKeepTheirMarkup)
{
    const QString tagged = QStringLiteral(
        "<b>a</b> <i>b</i> <u>c</u> <font color=red>d</font> "
        "<b><i>e</i></b> <u>f</u> <font color=blue>g</font>");
    for (int i = 0; i < 40; ++i)
        addTask(tagged, 2026, 12, 8, "N", tagged);
    addRule(0, true, 255);
    const AlertPage page = buildAlertPage(today());
    EXPECT_EQ(page.view.markup, page.html);
}

TEST(AlertPage, ViewerSharesThePageWhenNothingIsEscaped)
{
    addTask("<b>Kept</b>", 2026, 12, 8, "N", "<i>too</i>");
    addRule(0, true, 255);
    const AlertPage page = buildAlertPage(today());
    EXPECT_EQ(page.view.markup.constData(), page.html.constData());
}

TEST(AlertPage, MonthZeroIsShownAsJanuaryAndSetInTheTask)
{
    addTask("Zero", 2027, 0, 5);  // month 0 of 2027 is December 2026
    addRule(0, false, 0);
    addRule(0, true, 255);
    tasks[0].year = 2027;
    const AlertPage page = buildAlertPage(today());
    EXPECT_TRUE(page.html.contains("January 05/27")) << page.html.toStdString();
    EXPECT_EQ(tasks[0].month, 1);
}

TEST(AlertPage, TimeFollowsTheLocale)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    addTask("Zeit", 2026, 12, 8);
    tasks[0].hour = 14;
    tasks[0].minute = 75;  // carries into 15:15
    addRule(0, true, 255);
    EXPECT_TRUE(buildAlertPage(today()).html.contains(" at 15:15:00</small>"));
}

TEST(AlertPagePath, IsAPrivateFolderUnderTheRuntimeDir)
{
    const QString path = alertPagePath();
    ASSERT_FALSE(path.isEmpty());
    EXPECT_TRUE(path.endsWith("/quillet/al.html"));
    const QFileInfo folder(QFileInfo(path).path());
    EXPECT_TRUE(folder.isDir());
    EXPECT_FALSE(folder.isSymLink());
    EXPECT_EQ(folder.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                      QFile::ReadOther | QFile::WriteOther | QFile::ExeOther),
              QFile::Permissions());
}

TEST(AlertPagePath, WriterPutsThePageBytesThere)
{
    addTask("Write me", 2026, 12, 8);
    addRule(0, true, 255);
    const PublishedPage published = publishAlertPage();
    ASSERT_TRUE(published.file.ok()) << published.file.error.toStdString();
    EXPECT_EQ(testsupport::readFile(alertPagePath()), published.page.html);
}

// A folder that others could reach, or a link planted in its place, is
// never written through.
enum class Tamper { OpenToOthers, LinkToElsewhere };

class UntrustedFolder : public ::testing::TestWithParam<Tamper> { };

TEST_P(UntrustedFolder, RefusesThePath)
{
    const QString path = alertPagePath();
    ASSERT_FALSE(path.isEmpty());
    const QString folder = QFileInfo(path).path();
    const QString aside = folder + ".aside";
    QTemporaryDir elsewhere;
    ASSERT_TRUE(elsewhere.isValid());
    const auto privateMode = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    if (GetParam() == Tamper::OpenToOthers) {
        ASSERT_TRUE(QFile::setPermissions(folder, privateMode | QFile::ReadOther | QFile::ExeOther |
                                                      QFile::WriteOther));
    } else {
        QDir().rmdir(aside);
        ASSERT_TRUE(QDir().rename(folder, aside));
        ASSERT_TRUE(QFile::link(elsewhere.path(), folder));
    }

    const QString refused = alertPagePath();
    const FileStatus written = writeAlertPage("<h2>x</h2>");

    if (GetParam() == Tamper::OpenToOthers) {
        QFile::setPermissions(folder, privateMode);
    } else {
        QFile::remove(folder);
        QDir().rename(aside, folder);
    }
    EXPECT_TRUE(refused.isEmpty());
    EXPECT_EQ(written.code, FileStatus::WriteFailed);
    // And says why there is no folder to write it in.
    EXPECT_TRUE(written.error.contains(folder + " is not a folder of this user's alone"))
        << written.error.toStdString();
    EXPECT_FALSE(QFile::exists(elsewhere.filePath("al.html")));
    EXPECT_EQ(alertPagePath(), path);  // restored
}

INSTANTIATE_TEST_SUITE_P(AlertPagePath, UntrustedFolder,
                         ::testing::Values(Tamper::OpenToOthers, Tamper::LinkToElsewhere));

// Whatever stands at the page's own name is replaced, never written through.
enum class AtThePage { LinkToAFile, DanglingLink, Directory };

class PageNameTaken : public ::testing::TestWithParam<AtThePage> { };

TEST_P(PageNameTaken, ReplacedNeverWrittenThrough)
{
    const QString path = alertPagePath();
    ASSERT_FALSE(path.isEmpty());
    QTemporaryDir elsewhere;
    ASSERT_TRUE(elsewhere.isValid());
    const QString target = elsewhere.filePath("target");
    QFile::remove(path);
    if (GetParam() == AtThePage::LinkToAFile)
        testsupport::writeFile(target, "keep");
    if (GetParam() == AtThePage::Directory)
        ASSERT_TRUE(QDir().mkdir(path));
    else
        ASSERT_TRUE(QFile::link(target, path));

    const FileStatus written = writeAlertPage("<h2>x</h2>");

    const QFileInfo page(path);
    const QStringList left =
        page.dir().entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    if (GetParam() == AtThePage::Directory) {
        EXPECT_EQ(written.code, FileStatus::WriteFailed);
        EXPECT_TRUE(written.error.contains(path)) << written.error.toStdString();
        EXPECT_TRUE(page.isDir());
        QDir().rmdir(path);
    } else {
        ASSERT_TRUE(written.ok()) << written.error.toStdString();
        EXPECT_FALSE(page.isSymLink());
        EXPECT_EQ(testsupport::readFile(path), "<h2>x</h2>");
        EXPECT_EQ(page.permissions() &
                      ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
                  QFile::Permissions());
    }
    EXPECT_EQ(left, QStringList{"al.html"});  // no temporary left behind
    EXPECT_EQ(QFile::exists(target), GetParam() == AtThePage::LinkToAFile);
    if (GetParam() == AtThePage::LinkToAFile) {
        EXPECT_EQ(testsupport::readFile(target), "keep");
    }
}

INSTANTIATE_TEST_SUITE_P(AlertPagePath, PageNameTaken,
                         ::testing::Values(AtThePage::LinkToAFile, AtThePage::DanglingLink,
                                           AtThePage::Directory));

}  // namespace
