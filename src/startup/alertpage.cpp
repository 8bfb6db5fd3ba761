#include "startup/alertpage.h"

#include "store/ordering.h"
#include "store/tables.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

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

Verdict walkRules(Days today, Days due, qint64 daysLeft)
{
    Verdict v;
    qint64 best = 99999;
    for (int r = 0; r < alertRuleCount; ++r) {
        const AlertRule &rule = alertRules[r];
        // Days are counted exactly: the 16-bit difference would let a task
        // 90 years away match a rule of interval 32767.
        const qint64 unitsLeft = rule.unit == u"d" ? daysLeft : dateDiff(rule.unit, today, due);
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

void appendBlock(QString &page, Task &task, qint64 daysLeft, const QString &c)
{
    page += QStringLiteral("<table width=95% align=center border=0 cellspacing=8 bgcolor=#") + c +
            u'>' + kCrLf;
    page += QStringLiteral("<tr><td bgcolor=#ffffff>") + kCrLf;
    page += QStringLiteral("<table width=100% bgcolor=#eeeEe0 border=0 cellpadding=0 "
                           "cellspacing=0><tr><td colspan=2>") +
            kCrLf;
    page += QStringLiteral("<b> ") + task.title + QStringLiteral("</b></td></tr><tr><td>") + kCrLf;
    page += QStringLiteral("<small><B>For: </b> ") + task.forWhom +
            QStringLiteral(" </small></td><td>") + kCrLf;
    page += QStringLiteral("<small><b>Due: </b> ") + formatDate(task.day, task.month, task.year) +
            QStringLiteral(" at ") + longTimeText(task.hour, task.minute, task.second) +
            QStringLiteral("</small> </td><td>") + kCrLf;
    if (daysLeft > 0)
        page += QStringLiteral("<small><b>T -: </b> ") + QString::number(daysLeft) +
                QStringLiteral(" days left </small>");
    else if (daysLeft == 0)
        page += QStringLiteral("<small><b>T -: </b> <B>Today!</b> </small>");
    else
        page += QStringLiteral("<small><b>T -: </b> <B>Late!</b> </small>");
    page += kCrLf;
    page += QStringLiteral("</td></tr><tr><td colspan=3 bgcolor=#") + c +
            QStringLiteral("></td></tr></table>") + task.description + kCrLf;
    page += QStringLiteral("</small></td></tR></table><br>") + kCrLf;
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
    page.reserve(256);
    page += QStringLiteral("<head><title>Alerts</title></head>") + kCrLf;
    page += QStringLiteral("<body><center><p align=center>") + kCrLf;
    page += QStringLiteral("<h2>Attention!</h2>") + kCrLf;

    const int count = taskCount;
    for (int i = 0; i < count; ++i) {
        Task &task = tasks[i];
        const Days due = dateSerial(task.year, task.month, task.day);
        const qint64 daysLeft = (due - today).count();
        const Verdict v = walkRules(today, due, daysLeft);
        if (!isDeleted(task) && v.announce) {
            appendBlock(page, task, daysLeft, colorText(v.color));
            result.announced = true;
        }
    }
    page += QStringLiteral("</p></center></body></html>") + kCrLf;
    return result;
}

QString alertPagePath()
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
    return folder + QStringLiteral("/al.html");
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
