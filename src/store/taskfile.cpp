#include "store/taskfile.h"

#include "store/dates.h"
#include "store/number.h"
#include "store/ordering.h"
#include "store/tables.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QStringDecoder>

#include <fcntl.h>
#include <unistd.h>

#include <vector>

namespace Module1 {
namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F.
QString fromWindows1252(const QByteArray &bytes)
{
    static const char16_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = (b >= 0x80 && b <= 0x9F) ? QChar(high[b - 0x80]) : QChar(b);
    }
    return text;
}

QString decodeFile(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    return fromWindows1252(bytes);
}

QStringView trimSpaces(QStringView line)
{
    qsizetype b = 0, e = line.size();
    while (b < e && line[b] == u' ')
        ++b;
    while (e > b && line[e - 1] == u' ')
        --e;
    return line.mid(b, e - b);
}

// The record being read: it lives for the whole load, so a record that
// lacks a key inherits that key's value from the record before it.
struct Pending {
    Task task;
    AlertRule rule;
};

struct Parsed {
    std::vector<Task> tasks;
    std::vector<AlertRule> rules;
    FileStatus status;
    // Due dates and times repeat across tasks, and the locale's formatting
    // is the costliest step of a load.
    QHash<qint64, QString> dateTexts;
    QHash<qint64, QString> timeTexts;
};

QString dueTextOf(const Task &t, Parsed &out)
{
    const Days date = dateSerial(t.year, t.month, t.day);
    auto d = out.dateTexts.find(date.time_since_epoch().count());
    if (d == out.dateTexts.end())
        d = out.dateTexts.insert(date.time_since_epoch().count(), shortDateText(date));
    qint64 secs = timeSerial(t.hour, t.minute, t.second) % 86400;
    if (secs < 0)
        secs += 86400;
    auto tm = out.timeTexts.find(secs);
    if (tm == out.timeTexts.end())
        tm = out.timeTexts.insert(secs, longTimeText(0, 0, int(secs)));
    return *d + QStringLiteral(" at ") + *tm;
}

void commit(QStringView value, Pending &p, Parsed &out)
{
    if (value == u"addalert") {
        if (out.rules.size() >= kRuleSlots) {
            out.status = {FileStatus::TooManyRules,
                          QStringLiteral("The file holds more than %1 alert rules; "
                                         "it was not loaded, so that nothing is lost.")
                              .arg(kRuleSlots)};
            return;
        }
        out.rules.push_back(p.rule);
    } else {
        if (out.tasks.size() >= kTaskSlots) {
            out.status = {FileStatus::TooManyTasks,
                          QStringLiteral("The file holds more than %1 tasks; "
                                         "it was not loaded, so that nothing is lost.")
                              .arg(kTaskSlots)};
            return;
        }
        Task t = p.task;
        t.description = decodeLineBreaks(p.task.description);
        t.sortKey = makeSortKey(t);
        t.dueText = dueTextOf(t, out);
        out.tasks.push_back(std::move(t));
    }
}

constexpr quint64 keyCode(const char16_t (&k)[4])
{
    return (quint64(k[0]) << 32) | (quint64(k[1]) << 16) | quint64(k[2]);
}

void applyLine(QStringView line, Pending &p, Parsed &out)
{
    const QStringView value = line.mid(4);
    auto number16 = [&] { return toInt16(textToNumber(value)); };

    // One switch on the three key characters instead of a chain of string
    // compares: a full file has twelve thousand lines.
    switch ((quint64(line[0].unicode()) << 32) | (quint64(line[1].unicode()) << 16) |
            quint64(line[2].unicode())) {
    case keyCode(u"ttl"): p.task.title = value.toString(); break;
    case keyCode(u"for"): p.task.forWhom = value.toString(); break;
    case keyCode(u"des"): p.task.description = value.toString(); break;
    case keyCode(u"del"): p.task.deleted = value.toString(); break;
    case keyCode(u"day"): p.task.day = number16(); break;
    case keyCode(u"mon"): p.task.month = number16(); break;
    case keyCode(u"yea"): p.task.year = number16(); break;
    case keyCode(u"hou"): p.task.hour = number16(); break;
    case keyCode(u"min"): p.task.minute = number16(); break;
    case keyCode(u"sec"): p.task.second = number16(); break;
    case keyCode(u"val"): p.rule.interval = number16(); break;
    case keyCode(u"unt"): p.rule.unit = value.toString(); break;
    case keyCode(u"clr"): {
        // Colours are stored as signed 32-bit values, so 4294967295 is -1.
        const double v = textToNumber(value);
        p.rule.color = (v > 2147483647.0 && v <= 4294967295.0)
                           ? static_cast<qint32>(static_cast<quint32>(v))
                           : toInt32(v);
        break;
    }
    case keyCode(u"alr"): p.rule.popup = value == u"on"; break;
    case keyCode(u"act"): commit(value, p, out); break;
    default: break;  // unknown keys are ignored
    }
}

Parsed parse(const QString &text)
{
    Parsed out;
    out.tasks.reserve(64);
    Pending pending;
    const qsizetype n = text.size();
    qsizetype start = 0;
    while (start < n && out.status.ok()) {
        // A line ends at CR LF or a lone CR; a lone LF stays inside it.
        qsizetype end = text.indexOf(u'\r', start);
        if (end < 0)
            end = n;
        const QStringView line = trimSpaces(QStringView(text).mid(start, end - start));
        start = end + 1;
        if (start < n && end < n && text[start] == u'\n')
            ++start;

        if (line.isEmpty() || line[0] == u';' || line[0] == u'[')
            continue;
        if (line.size() < 4)
            continue;  // too short to hold a key: ignored rather than misread
        applyLine(line, pending, out);
    }
    return out;
}

void appendLine(QString &out, QStringView line)
{
    out += line;
    out += QStringLiteral("\r\n");
}

void appendField(QString &out, QStringView key, QStringView value)
{
    out += key;
    out += value;
    out += QStringLiteral("\r\n");
}

bool syncDirectoryOf(const QString &path)
{
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

FileStatus loadTasks(const QString &path)
{
    QFile file(path);
    if (!file.exists()) {
        taskCount = 0;
        alertRuleCount = 0;
        return {FileStatus::Missing, QStringLiteral("%1 does not exist yet.").arg(path)};
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return {FileStatus::Unreadable,
                QStringLiteral("%1 could not be read: %2").arg(path, file.errorString())};
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return {FileStatus::Unreadable,
                QStringLiteral("%1 could not be read: %2").arg(path, file.errorString())};
    }
    file.close();

    Parsed parsed = parse(decodeFile(bytes));
    if (!parsed.status.ok()) {
        parsed.status.error = path + QStringLiteral(": ") + parsed.status.error;
        return parsed.status;
    }

    for (size_t i = 0; i < parsed.tasks.size(); ++i)
        tasks[i] = std::move(parsed.tasks[i]);
    for (size_t i = 0; i < parsed.rules.size(); ++i)
        alertRules[i] = std::move(parsed.rules[i]);
    taskCount = static_cast<qint16>(parsed.tasks.size());
    alertRuleCount = static_cast<qint16>(parsed.rules.size());
    return {};
}

QByteArray serializeTables()
{
    QString out;
    out.reserve(256 + taskCount * 400 + alertRuleCount * 64);
    appendLine(out, u"; Quillet");
    appendLine(out, u"; ----------");
    appendLine(out, u"; Tasks and settings");
    appendLine(out, u"; DO NOT MODIFY THIS FILE");
    appendLine(out, u"");
    appendLine(out, u"[Tasks]");
    appendLine(out, u"");
    for (int i = 0; i < taskCount; ++i) {
        const Task &t = tasks[i];
        appendField(out, u"ttl=", t.title);
        appendField(out, u"for=", t.forWhom);
        appendField(out, u"day=", QString::number(t.day));
        appendField(out, u"mon=", QString::number(t.month));
        appendField(out, u"yea=", QString::number(t.year));
        appendField(out, u"hou=", QString::number(t.hour));
        appendField(out, u"min=", QString::number(t.minute));
        appendField(out, u"sec=", QString::number(t.second));
        appendField(out, u"del=", t.deleted);
        appendField(out, u"des=", encodeLineBreaks(t.description));
        appendLine(out, u"act=addtask");
        appendLine(out, u"");
    }
    appendLine(out, u"[Alerts]");
    appendLine(out, u"");
    for (int i = 0; i < alertRuleCount; ++i) {
        const AlertRule &r = alertRules[i];
        appendField(out, u"val=", QString::number(r.interval));
        appendField(out, u"unt=", r.unit);
        appendField(out, u"clr=", QString::number(r.color));
        appendLine(out, r.popup ? u"alr=on" : u"alr=off");
        appendLine(out, u"act=addalert");
        appendLine(out, u"");
    }
    appendLine(out, u"");
    return out.toUtf8();
}

FileStatus saveTasks(const QString &path, bool syncDirectory)
{
    const QByteArray bytes = serializeTables();
    // Written beside the old file and renamed over it: a crash or a full
    // disk never leaves a half-written task file.
    QSaveFile file(path);
    auto failed = [&](const QString &why) {
        return FileStatus{FileStatus::WriteFailed,
                          QStringLiteral("%1 could not be saved: %2").arg(path, why)};
    };
    if (!file.open(QIODevice::WriteOnly))
        return failed(file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        return failed(why);
    }
    if (!file.commit())
        return failed(file.errorString());
    // QSaveFile does not sync the directory; without it the rename may not
    // survive a power cut.
    if (syncDirectory)
        syncDirectoryOf(path);
    return {};
}

}  // namespace Module1
