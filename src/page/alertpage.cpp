#include "page/alertpage.h"

#include "page/viewermarkup.h"
#include "store/ordering.h"
#include "store/rules.h"
#include "store/runtimefolder.h"
#include "store/safefile.h"
#include "store/tables.h"

#include <QFile>
#include <QLocale>
#include <QStringEncoder>

#include <algorithm>
#include <vector>

#include <cstdio>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Module1;

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QLatin1String kPageEnd("</p></center></body></html>");
const QLatin1String kBodyStart("<body><center><p align=center>");

void appendHex2(QString &out, int byte)
{
    static const char digits[] = "0123456789ABCDEF";
    out += QLatin1Char(digits[(byte >> 4) & 0xF]);
    out += QLatin1Char(digits[byte & 0xF]);
}

// The page's own markup is ASCII; task texts are encoded.
void appendText(QByteArray &out, QLatin1String text) { out.append(text.data(), text.size()); }
void appendText(QByteArray &out, QStringView text)
{
    QStringEncoder utf8(QStringEncoder::Utf8);
    const qsizetype at = out.size();
    out.resize(at + utf8.requiredSpace(text.size()));
    char *end = utf8.appendToBuffer(out.data() + at, text);
    out.truncate(end - out.constData());
}

// Writes the page file's text and, from the first task text that the viewer
// must show escaped, the viewer's text beside it; until then both are one.
class PageText {
public:
    explicit PageText(AlertPage &page) : m_page(page) { }

    PageText &operator<<(QLatin1String text) { return append(text); }
    PageText &operator<<(const QString &text) { return append(QStringView(text)); }
    void line(QLatin1String text) { *this << text << QLatin1String("\r\n"); }

    // Returns the text as the viewer shows it.
    QString taskText(const QString &text)
    {
        const bool kept = ViewerMarkup::keepsMarkup(text);
        if (!kept && !m_split) {
            m_view = m_page.html;
            m_split = true;
        }
        appendText(m_page.html, text);
        const QString shown = kept ? text : text.toHtmlEscaped();
        if (m_split)
            appendText(m_view, shown);
        return shown;
    }

    void finish() { m_page.view.markup = m_split ? m_view : m_page.html; }

    qsizetype viewLength() const { return m_split ? m_view.size() : m_page.html.size(); }

private:
    template <typename Text> PageText &append(const Text &text)
    {
        appendText(m_page.html, text);
        if (m_split)
            appendText(m_view, text);
        return *this;
    }

    AlertPage &m_page;
    QByteArray m_view;
    bool m_split = false;
};

// Appends one task's lines; returns what a screen reader says for it.
QString appendBlock(PageText &page, Task &task, qint64 dayCount, const QString &c)
{
    page << QLatin1String("<table width=95% align=center border=0 cellspacing=8 bgcolor=#") << c;
    page.line(QLatin1String(">"));
    page.line(QLatin1String("<tr><td bgcolor=#ffffff>"));
    page.line(
        QLatin1String("<table width=100% bgcolor=#eeeEe0 border=0 cellpadding=0 "
                      "cellspacing=0><tr><td colspan=2>"));
    page << QLatin1String("<b> ");
    QString name = page.taskText(task.title);
    page.line(QLatin1String("</b></td></tr><tr><td>"));
    page << QLatin1String("<small><B>For: </b> ");
    const QString forWhom = page.taskText(task.forWhom);
    page.line(QLatin1String(" </small></td><td>"));
    const QString due = dueMomentText(task);
    page << QLatin1String("<small><b>Due: </b> ") << due;
    page.line(QLatin1String("</small> </td><td>"));
    const QString left = daysLeftText(dayCount);
    if (dayCount > 0) {
        page << QLatin1String("<small><b>T -: </b> ") << QString::number(dayCount);
        page.line(QLatin1String(" days left </small>"));
    } else {
        page << QLatin1String("<small><b>T -: </b> <B>") << left;
        page.line(QLatin1String("</b> </small>"));
    }
    page << QLatin1String("</td></tr><tr><td colspan=3 bgcolor=#") << c
         << QLatin1String("></td></tr></table>");
    page.taskText(task.description);
    page << QLatin1String("\r\n");
    page.line(QLatin1String("</small></td></tR></table><br>"));

    if (!task.forWhom.trimmed().isEmpty())
        name += QLatin1String(", for ") + forWhom;
    name += QLatin1String(", due ") + due.toHtmlEscaped() + QLatin1String(", ") + left;
    return name;
}

// The page last built and everything it was built from.
class LastBuild {
public:
    bool madeFrom(Days day) const
    {
        return m_valid && day == m_today && QLocale() == m_locale &&
               std::equal(m_tasks.begin(), m_tasks.end(), tasks.begin(),
                          tasks.begin() + taskCount) &&
               std::equal(m_rules.begin(), m_rules.end(), alertRules.begin(),
                          alertRules.begin() + alertRuleCount);
    }
    void remember(Days day, const AlertPage &built)
    {
        m_valid = true;
        m_today = day;
        m_locale = QLocale();
        m_tasks.assign(tasks.begin(), tasks.begin() + taskCount);
        m_rules.assign(alertRules.begin(), alertRules.begin() + alertRuleCount);
        page = built;
    }

    AlertPage page;

private:
    bool m_valid = false;
    Days m_today{};
    QLocale m_locale;
    std::vector<Task> m_tasks;
    std::vector<AlertRule> m_rules;
};

}  // namespace

QString colorText(qint32 color)
{
    const Rgb rgb = rgbOf(color);
    QString out;
    out.reserve(6);
    appendHex2(out, rgb.red);
    appendHex2(out, rgb.green);
    appendHex2(out, rgb.blue);
    return out;
}

AlertPage buildAlertPage(Days today)
{
    sortMode = 2;
    sortTasks();
    // The alert view asks for the page at every visit; mostly nothing on it
    // has changed, and then the last one is it.
    static LastBuild last;
    if (last.madeFrom(today))
        return last.page;

    AlertPage result;
    result.html.reserve(4096);
    PageText page(result);
    page.line(QLatin1String("<head><title>Alerts</title></head>"));
    page.line(kBodyStart);
    page.line(QLatin1String("<h2>Attention!</h2>"));
    PageBlocks &view = result.view;
    view.opening = kBodyStart + kCrLf;
    view.closing = kPageEnd + kCrLf;
    view.blocks.push_back({0, page.viewLength(), QStringLiteral("Attention!")});
    {
        AlertPage blank;
        PageText sample(blank);
        Task empty;
        appendBlock(sample, empty, 1, QStringLiteral("000000"));
        view.sample = QString::fromUtf8(blank.html);
    }

    // The same walk of the rules as the list's colours.
    const int count = taskCount;
    const RuleWalk rules(today);
    for (int i = 0; i < count; ++i) {
        Task &task = tasks[i];
        if (isDeleted(task))
            continue;
        const RuleMatch match = rules.of(task);
        if (!match.announce)
            continue;
        const qsizetype from = page.viewLength();
        QString name =
            appendBlock(page, task, daysLeft(task, today), colorText(match.announceColor));
        view.blocks.push_back({from, page.viewLength(), std::move(name)});
        result.announced = true;
    }
    page.line(kPageEnd);
    page.finish();
    last.remember(today, result);
    return result;
}

QString alertPagePath()
{
    const PrivateFolder folder = privateRuntimeFolder();
    return folder.valid() ? folder.path + QStringLiteral("/al.html") : QString();
}

FileStatus writeAlertPage(const QByteArray &html)
{
    // Written through the folder that was checked: its name may lead
    // elsewhere a moment later.
    const PrivateFolder folder = privateRuntimeFolder();
    if (!folder.valid())
        return {
            FileStatus::WriteFailed,
            QStringLiteral("The alert page could not be written: no private runtime folder (%1)")
                .arg(folder.why)};
    const QString path = folder.path + QStringLiteral("/al.html");
    // Whatever stands at the page's name (a link, another file) is replaced,
    // never written through; the page is the user's alone.
    const ReplaceResult written = replaceFile({folder.fd.get(), QByteArrayLiteral("al.html"), path},
                                              html, std::nullopt, false, 0600);
    if (written.outcome != ReplaceResult::Replaced)
        return {FileStatus::WriteFailed,
                QStringLiteral("%1 could not be written: %2").arg(path, written.why)};
    return {};
}

PublishedPage publishAlertPage()
{
    PublishedPage out;
    out.page = buildAlertPage(today());
    out.file = writeAlertPage(out.page.html);
    return out;
}
