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
#include <QStringBuilder>
#include <QStringDecoder>

#include <csignal>
#include <cstring>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Module1 {
namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F.
QString fromWindows1252(QByteArrayView bytes)
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

bool isUtf8(QByteArrayView bytes, QString *text)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    *text = utf8(bytes);
    return !utf8.hasError();
}

// Decided per line: a file edited on two systems may hold both encodings,
// and one stray byte must not turn the correct lines into mojibake.
QString decodeFile(QByteArrayView bytes, char lineEnd)
{
    QString text;
    if (isUtf8(bytes, &text))
        return text;
    text.clear();
    text.reserve(bytes.size());
    QString decoded;
    qsizetype start = 0;
    while (start <= bytes.size()) {
        qsizetype end = bytes.indexOf(lineEnd, start);
        if (end < 0)
            end = bytes.size();
        const QByteArrayView line = bytes.sliced(start, end - start);
        text += isUtf8(line, &decoded) ? decoded : fromWindows1252(line);
        if (end < bytes.size())
            text += QLatin1Char(lineEnd);
        start = end + 1;
    }
    return text;
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
// lacks a key inherits that key's value from the record before it. Texts
// are views into the decoded file until a record takes them.
struct Pending {
    QStringView title, forWhom, description, deleted, unit;
    Task numbers;    // the six date and time fields
    AlertRule rule;  // interval, colour and popup
};

// "N" and "Y" are in nearly every record: shared, not a copy each.
QString deletedMark(QStringView mark)
{
    static const QString no = QStringLiteral("N"), yes = QStringLiteral("Y");
    return mark == no ? no : mark == yes ? yes : mark.toString();
}

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
    return QString(*d % QLatin1String(" at ") % *tm);
}

// A record past the last slot refuses the whole file: dropping it would
// lose it at the next save.
bool tableFull(size_t records, int capacity, FileStatus::Code code, const char *what, Parsed &out)
{
    if (records < size_t(capacity))
        return false;
    out.status = {code, QStringLiteral("The file holds more than %1 %2; "
                                       "it was not loaded, so that nothing is lost.")
                            .arg(capacity)
                            .arg(QLatin1String(what))};
    return true;
}

void commit(QStringView value, Pending &p, Parsed &out)
{
    if (value == u"addalert") {
        if (tableFull(out.rules.size(), kRuleSlots, FileStatus::TooManyRules, "alert rules", out))
            return;
        AlertRule rule = p.rule;
        rule.unit = p.unit.toString();
        out.rules.push_back(std::move(rule));
    } else {
        if (tableFull(out.tasks.size(), kTaskSlots, FileStatus::TooManyTasks, "tasks", out))
            return;
        Task t = p.numbers;
        t.title = p.title.toString();
        t.forWhom = p.forWhom.toString();
        t.deleted = deletedMark(p.deleted);
        t.description = decodeLineBreaks(p.description);
        t.sortKey = makeSortKey(t);
        t.dueText = dueTextOf(t, out);
        out.tasks.push_back(std::move(t));
    }
}

// Keys are three characters, counted as code points so that a character
// outside the BMP is never split into half a surrogate pair.
constexpr quint64 keyCode(char32_t a, char32_t b, char32_t c)
{
    return (quint64(a) << 42) | (quint64(b) << 21) | quint64(c);
}
constexpr quint64 keyCode(const char16_t (&k)[4]) { return keyCode(k[0], k[1], k[2]); }

struct KeyedLine {
    quint64 key = 0;
    QStringView value;
};

// The first three characters are the key; the fourth is dropped unseen and
// the value is the rest. Nothing when the line has fewer than four.
std::optional<KeyedLine> splitKey(QStringView line)
{
    // Nearly every key is four characters of the BMP.
    if (line.size() >= 4 && !line[0].isSurrogate() && !line[1].isSurrogate() && !line[2].isSurrogate() &&
        !line[3].isSurrogate())
        return KeyedLine{keyCode(line[0].unicode(), line[1].unicode(), line[2].unicode()), line.mid(4)};
    char32_t key[3] = {};
    qsizetype pos = 0;
    for (int i = 0; i < 4; ++i) {
        if (pos >= line.size())
            return std::nullopt;
        char32_t c = line[pos].unicode();
        if (QChar::isHighSurrogate(c) && pos + 1 < line.size() && line[pos + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(line[pos], line[pos + 1]);
            ++pos;
        }
        ++pos;
        if (i < 3)
            key[i] = c;
    }
    return KeyedLine{keyCode(key[0], key[1], key[2]), line.mid(pos)};
}

void applyLine(QStringView line, Pending &p, Parsed &out)
{
    const std::optional<KeyedLine> keyed = splitKey(line);
    if (!keyed)
        return;  // too short to hold a key: ignored rather than misread
    const QStringView value = keyed->value;
    auto number16 = [&] { return toInt16(textToNumber(value)); };

    // One switch on the three key characters instead of a chain of string
    // compares: a full file has twelve thousand lines.
    switch (keyed->key) {
    case keyCode(u"ttl"): p.title = value; break;
    case keyCode(u"for"): p.forWhom = value; break;
    case keyCode(u"des"): p.description = value; break;
    case keyCode(u"del"): p.deleted = value; break;
    case keyCode(u"day"): p.numbers.day = number16(); break;
    case keyCode(u"mon"): p.numbers.month = number16(); break;
    case keyCode(u"yea"): p.numbers.year = number16(); break;
    case keyCode(u"hou"): p.numbers.hour = number16(); break;
    case keyCode(u"min"): p.numbers.minute = number16(); break;
    case keyCode(u"sec"): p.numbers.second = number16(); break;
    case keyCode(u"val"): p.rule.interval = number16(); break;
    case keyCode(u"unt"): p.unit = value; break;
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

Parsed parse(const QString &text, QChar lineEnd)
{
    Parsed out;
    out.tasks.reserve(64);
    Pending pending;
    const qsizetype n = text.size();
    qsizetype start = 0;
    while (start < n && out.status.ok()) {
        // A line ends at CR LF or a lone CR; a lone LF stays inside it.
        qsizetype end = text.indexOf(lineEnd, start);
        if (end < 0)
            end = n;
        const QStringView line = trimSpaces(QStringView(text).mid(start, end - start));
        start = end + 1;
        if (lineEnd == u'\r' && start < n && end < n && text[start] == u'\n')
            ++start;

        if (line.isEmpty() || line[0] == u';' || line[0] == u'[')
            continue;
        applyLine(line, pending, out);
    }
    return out;
}

void appendLine(QString &out, QStringView line)
{
    out += line;
    out += QStringLiteral("\r\n");
}

// Only the description may hold line breaks, and only as "|~": a break in
// any other value would end its line, and the rest would be read as keys of
// its own (a pasted "act=addalert" would become a rule).
void appendField(QString &out, QStringView key, QStringView value, bool keepLf = false)
{
    out += key;
    const qsizetype from = out.size();
    out += value;
    for (qsizetype i = from; i < out.size(); ++i) {
        if (out[i] == u'\r' || (out[i] == u'\n' && !keepLf))
            out[i] = u' ';
    }
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

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// What the file held when this process last read or wrote it, by absolute
// path: a save compares before it replaces, so a change made elsewhere (a
// hand edit, a sync tool) is never overwritten. The bytes themselves are
// kept; comparing them costs less than hashing them on every load.
struct KnownContent {
    bool existed = false;
    QByteArray bytes;
};
QHash<QString, KnownContent> &knownContents()
{
    static QHash<QString, KnownContent> known;
    return known;
}

void remember(const QString &path, bool existed, const QByteArray &bytes)
{
    knownContents().insert(QFileInfo(path).absoluteFilePath(), KnownContent{existed, bytes});
}

struct ReadResult {
    enum { Read, Missing, Failed } outcome = Failed;
    QByteArray bytes;
    QString why;
};

// Opened without blocking and checked before reading: a pipe would block
// forever, and a device such as /dev/zero never ends.
ReadResult readRegularFile(const QString &path)
{
    ReadResult r;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        r.outcome = errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
        r.why = systemError(errno);
        return r;
    }
    struct stat st { };
    if (::fstat(fd, &st) != 0) {
        r.why = systemError(errno);
    } else if (S_ISDIR(st.st_mode)) {
        r.why = QStringLiteral("it is a folder, not a file");
    } else if (!S_ISREG(st.st_mode)) {
        r.why = QStringLiteral("it is not a regular file (a device, a pipe or a socket)");
    } else {
        // Read straight into the buffer, sized as the file is now; a file
        // that grows meanwhile is read to its end all the same.
        qsizetype have = 0;
        r.bytes.resize(qsizetype(st.st_size) + 1);
        for (;;) {
            if (have == r.bytes.size())
                r.bytes.resize(r.bytes.size() * 2);
            const ssize_t got = ::read(fd, r.bytes.data() + have, size_t(r.bytes.size() - have));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                r.why = systemError(errno);
                break;
            }
            if (got == 0) {
                r.outcome = ReadResult::Read;
                break;
            }
            have += got;
        }
        r.bytes.truncate(have);
    }
    ::close(fd);
    return r;
}

// Nothing when the file still holds what this process last saw there, or
// when there is nothing to lose: this process never saw it, it is gone, or
// it cannot be read (the write then fails with its own reason).
FileStatus checkUnchanged(const QString &path)
{
    const auto known = knownContents().constFind(QFileInfo(path).absoluteFilePath());
    if (known == knownContents().constEnd())
        return {};
    const ReadResult now = readRegularFile(path);
    if (now.outcome != ReadResult::Read)
        return {};
    if (now.outcome == ReadResult::Read && known->existed && now.bytes == known->bytes)
        return {};
    return {FileStatus::ChangedOutside,
            QStringLiteral("%1 was changed outside Quillet since Quillet last read it, so the "
                           "last change was not saved. The file is read again.")
                .arg(path)};
}

// 0 when every byte reached the disk, else the errno of the failure.
int writeAll(int fd, QByteArrayView bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += n;
    }
    // commit() ignores the result of its own sync; a file system that
    // cannot sync at all (EINVAL) has still taken the bytes.
    if (::fsync(fd) != 0 && errno != EINVAL)
        return errno;
    return 0;
}

FileStatus writeFailure(const QString &path, const QString &why)
{
    return {FileStatus::WriteFailed, QStringLiteral("%1 could not be saved: %2").arg(path, why)};
}

}  // namespace

QString taskFilePath()
{
    return QDir::current().absoluteFilePath(QString::fromLatin1(kTaskFileName));
}

void ignoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

FileStatus readTasks(QByteArrayView bytes)
{
    // Files written here always end lines with CR LF; a file without any CR
    // was converted by an editor or a checkout, and its lines end at LF.
    const char lineEnd = bytes.contains('\r') ? '\r' : '\n';
    Parsed parsed = parse(decodeFile(bytes, lineEnd), QLatin1Char(lineEnd));
    if (!parsed.status.ok())
        return parsed.status;

    for (size_t i = 0; i < parsed.tasks.size(); ++i)
        tasks[i] = std::move(parsed.tasks[i]);
    for (size_t i = 0; i < parsed.rules.size(); ++i)
        alertRules[i] = std::move(parsed.rules[i]);
    taskCount = static_cast<qint16>(parsed.tasks.size());
    alertRuleCount = static_cast<qint16>(parsed.rules.size());
    return {};
}

FileStatus loadTasks(const QString &path)
{
    const ReadResult file = readRegularFile(path);
    if (file.outcome == ReadResult::Missing) {
        taskCount = 0;
        alertRuleCount = 0;
        remember(path, false, {});
        return {FileStatus::Missing, QStringLiteral("%1 does not exist yet.").arg(path)};
    }
    if (file.outcome == ReadResult::Failed) {
        return {FileStatus::Unreadable,
                QStringLiteral("%1 could not be read: %2").arg(path, file.why)};
    }
    FileStatus status = readTasks(file.bytes);
    if (!status.ok()) {
        status.error = path + QStringLiteral(": ") + status.error;
        return status;
    }
    remember(path, true, file.bytes);
    return status;
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
        // A lone LF does not end a line, so the description may keep it.
        appendField(out, u"des=", encodeLineBreaks(t.description), true);
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
    ignoreFileSizeSignal();
    if (FileStatus changed = checkUnchanged(path); !changed.ok())
        return changed;
    const QByteArray bytes = serializeTables();
    // Written beside the old file and renamed over it: a crash or a full
    // disk never leaves a half-written task file. The bytes go straight to
    // the descriptor: a buffered write succeeds into Qt's buffer and fails
    // only inside commit(), which in Qt 6.4 then renames the short file over
    // the old one, and a short write through Qt loses the system's reason.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return writeFailure(path, file.errorString());
    if (const int error = writeAll(file.handle(), bytes)) {
        file.cancelWriting();
        return writeFailure(path, systemError(error));
    }
    if (!file.commit())
        return writeFailure(path, file.errorString());
    remember(path, true, bytes);
    // QSaveFile does not sync the directory; without it the rename may not
    // survive a power cut. Its failure is not reported: the new file is
    // already in place and complete, so "not saved" would be untrue, and
    // the user could do nothing about it.
    if (syncDirectory)
        syncDirectoryOf(path);
    return {};
}

}  // namespace Module1
