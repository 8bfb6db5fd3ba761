#include "startup/alertpage.h"

#include "store/ordering.h"
#include "store/tables.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace Module1;

namespace {

const QString kCrLf = QStringLiteral("\r\n");

void appendHex2(QString &out, int byte)
{
    static const char digits[] = "0123456789ABCDEF";
    out += QLatin1Char(digits[(byte >> 4) & 0xF]);
    out += QLatin1Char(digits[byte & 0xF]);
}

struct Verdict {
    bool announce = false;
    qint32 color = 0;
};

// The rules as the walk needs them, read once per page.
struct RuleView {
    qint16 interval;
    bool countsDays;
    bool popup;
    qint32 color;
    QStringView unit;
};

std::vector<RuleView> ruleViews()
{
    std::vector<RuleView> out;
    out.reserve(alertRuleCount);
    for (int r = 0; r < alertRuleCount; ++r) {
        const AlertRule &rule = alertRules[r];
        out.push_back({rule.interval, rule.unit == QLatin1String("d"), rule.popup, rule.color,
                       rule.unit});
    }
    return out;
}

Verdict walkRules(const std::vector<RuleView> &rules, Days today, Days due, qint64 daysLeft)
{
    Verdict v;
    qint64 best = 99999;
    for (const RuleView &rule : rules) {
        // Days are counted exactly: the 16-bit difference would let a task
        // 90 years away match a rule of interval 32767.
        const qint64 unitsLeft = rule.countsDays ? daysLeft : dateDiff(rule.unit, today, due);
        if (rule.interval <= best && unitsLeft <= rule.interval) {
            best = rule.interval;
            if (rule.popup) {
                v.announce = true;
                v.color = rule.color;
            }
        }
    }
    return v;
}

void appendLine(QString &page, QLatin1String text)
{
    page += text;
    page += kCrLf;
}

void appendBlock(QString &page, Task &task, qint64 daysLeft, const QString &c)
{
    page += QLatin1String("<table width=95% align=center border=0 cellspacing=8 bgcolor=#");
    page += c;
    appendLine(page, QLatin1String(">"));
    appendLine(page, QLatin1String("<tr><td bgcolor=#ffffff>"));
    appendLine(page, QLatin1String("<table width=100% bgcolor=#eeeEe0 border=0 cellpadding=0 "
                                   "cellspacing=0><tr><td colspan=2>"));
    page += QLatin1String("<b> ");
    page += task.title;
    appendLine(page, QLatin1String("</b></td></tr><tr><td>"));
    page += QLatin1String("<small><B>For: </b> ");
    page += task.forWhom;
    appendLine(page, QLatin1String(" </small></td><td>"));
    page += QLatin1String("<small><b>Due: </b> ");
    page += formatDate(task.day, task.month, task.year);
    page += QLatin1String(" at ");
    page += longTimeText(task.hour, task.minute, task.second);
    appendLine(page, QLatin1String("</small> </td><td>"));
    if (daysLeft > 0) {
        page += QLatin1String("<small><b>T -: </b> ");
        page += QString::number(daysLeft);
        appendLine(page, QLatin1String(" days left </small>"));
    } else if (daysLeft == 0) {
        appendLine(page, QLatin1String("<small><b>T -: </b> <B>Today!</b> </small>"));
    } else {
        appendLine(page, QLatin1String("<small><b>T -: </b> <B>Late!</b> </small>"));
    }
    page += QLatin1String("</td></tr><tr><td colspan=3 bgcolor=#");
    page += c;
    page += QLatin1String("></td></tr></table>");
    page += task.description;
    page += kCrLf;
    appendLine(page, QLatin1String("</small></td></tR></table><br>"));
}

// A folder we may trust with a fixed file name: a real directory (not a
// link), ours, closed to everyone else.
bool isPrivateDirectory(const QString &path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

}  // namespace

QString colorText(qint32 color)
{
    const auto v = static_cast<quint32>(color);
    QString out;
    out.reserve(6);
    appendHex2(out, v & 0xFF);
    appendHex2(out, (v >> 8) & 0xFF);
    appendHex2(out, (v >> 16) & 0xFF);
    return out;
}

AlertPage buildAlertPage(Days today)
{
    sortMode = 2;
    sortTasks();

    AlertPage result;
    QString &page = result.html;
    page.reserve(4096);
    appendLine(page, QLatin1String("<head><title>Alerts</title></head>"));
    appendLine(page, QLatin1String("<body><center><p align=center>"));
    appendLine(page, QLatin1String("<h2>Attention!</h2>"));

    const std::vector<RuleView> rules = ruleViews();
    const int count = taskCount;
    for (int i = 0; i < count; ++i) {
        Task &task = tasks[i];
        const Days due = dateSerial(task.year, task.month, task.day);
        const qint64 daysLeft = (due - today).count();
        const Verdict v = walkRules(rules, today, due, daysLeft);
        if (!isDeleted(task) && v.announce) {
            appendBlock(page, task, daysLeft, colorText(v.color));
            result.announced = true;
        }
    }
    appendLine(page, QLatin1String("</p></center></body></html>"));
    return result;
}

QString privateRuntimeFolder()
{
    // Looked up once: Qt warns on every lookup when XDG_RUNTIME_DIR is unset.
    static const QString runtime =
        QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        return {};
    const QString folder = runtime + QStringLiteral("/quillet");
    if (!QFileInfo::exists(folder))
        QDir().mkdir(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (!isPrivateDirectory(folder))
        return {};
    return folder;
}

QString alertPagePath()
{
    const QString folder = privateRuntimeFolder();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/al.html");
}

bool writeAlertPage(const QString &html, QString *error)
{
    const QString path = alertPagePath();
    if (path.isEmpty()) {
        if (error)
            *error = QStringLiteral("no private runtime folder for the alert page");
        return false;
    }
    QSaveFile file(path);
    const QByteArray bytes = html.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}

PublishedPage publishAlertPage()
{
    PublishedPage out;
    out.page = buildAlertPage(today());
    out.written = writeAlertPage(out.page.html);
    return out;
}
