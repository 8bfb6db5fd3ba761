#include "store/taskfile.h"

#include "store/dates.h"
#include "store/listlocation.h"
#include "store/listlock.h"
#include "store/number.h"
#include "store/ordering.h"
#include "store/safefile.h"
#include "store/tables.h"
#include "store/testhooks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QSet>
#include <QStringBuilder>
#include <QStringDecoder>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstring>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// Stateless: a sequence cut short by the end of the line is an error, not
// a state kept for more input. Otherwise "Caf\xE9" from the Windows program
// would be valid UTF-8 that lost its last letter.
bool isUtf8(QByteArrayView bytes, QString *text)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
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
// lacks a key inherits that key's value from the record before it. Its
// texts outlive the line they came from; a record takes exact copies.
struct Pending {
    QString title, forWhom, description, deleted, unit;
    Task numbers;    // the six date and time fields
    AlertRule rule;  // interval, colour and popup
};

// Into the buffer it already has: a full file sets these twelve thousand
// times.
void keep(QString &to, QStringView value)
{
    to.resize(value.size());
    std::copy(value.begin(), value.end(), to.begin());
}

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
    // What the lines look like, to tell a task file from anything else.
    int keyLines = 0;          // a known key, then a character that is not a letter
    int records = 0;           // of which "act" lines
    int otherLines = 0;        // any other line that is not blank, a comment or a task section
    bool taskSection = false;  // [Tasks] or [Alerts], in any letter case
    DueTexts dueTexts;
};

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

bool dueTextsMade = true;

void commit(QStringView value, Pending &p, Parsed &out)
{
    if (value == u"addalert") {
        if (tableFull(out.rules.size(), kRuleSlots, FileStatus::TooManyRules, "alert rules", out))
            return;
        AlertRule rule = p.rule;
        rule.unit = QStringView(p.unit).toString();
        out.rules.push_back(std::move(rule));
    } else {
        if (tableFull(out.tasks.size(), kTaskSlots, FileStatus::TooManyTasks, "tasks", out))
            return;
        // A reload mostly reads back what the slot it fills holds: an equal
        // text takes the slot's copy, so that a copy still shared elsewhere
        // (the tables the last alert page was built from) is not held twice.
        const Task &slot = tasks[out.tasks.size()];
        const auto same = [](const QString &held, QString read) {
            return held == read ? held : read;
        };
        Task t = p.numbers;
        t.title = slot.title == p.title ? slot.title : QStringView(p.title).toString();
        t.forWhom = slot.forWhom == p.forWhom ? slot.forWhom : QStringView(p.forWhom).toString();
        t.deleted = same(slot.deleted, deletedMark(p.deleted));
        t.description = same(slot.description, decodeLineBreaks(QStringView(p.description)));
        t.sortKey = same(slot.sortKey, makeSortKey(t));
        if (dueTextsMade)
            t.dueText = same(slot.dueText, out.dueTexts.of(t));
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
    if (line.size() >= 4 && !line[0].isSurrogate() && !line[1].isSurrogate() &&
        !line[2].isSurrogate() && !line[3].isSurrogate())
        return KeyedLine{keyCode(line[0].unicode(), line[1].unicode(), line[2].unicode()),
                         line.mid(4)};
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

// True when the line held a known key.
bool applyLine(QStringView line, Pending &p, Parsed &out)
{
    const std::optional<KeyedLine> keyed = splitKey(line);
    if (!keyed)
        return false;  // too short to hold a key: ignored rather than misread
    const QStringView value = keyed->value;
    auto number16 = [&] { return toInt16(textToNumber(value)); };

    // One switch on the three key characters instead of a chain of string
    // compares: a full file has twelve thousand lines.
    switch (keyed->key) {
    case keyCode(u"ttl"): keep(p.title, value); break;
    case keyCode(u"for"): keep(p.forWhom, value); break;
    case keyCode(u"des"): keep(p.description, value); break;
    case keyCode(u"del"): keep(p.deleted, value); break;
    case keyCode(u"day"): p.numbers.day = number16(); break;
    case keyCode(u"mon"): p.numbers.month = number16(); break;
    case keyCode(u"yea"): p.numbers.year = number16(); break;
    case keyCode(u"hou"): p.numbers.hour = number16(); break;
    case keyCode(u"min"): p.numbers.minute = number16(); break;
    case keyCode(u"sec"): p.numbers.second = number16(); break;
    case keyCode(u"val"): p.rule.interval = number16(); break;
    case keyCode(u"unt"): keep(p.unit, value); break;
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
    default: return false;  // unknown keys are ignored
    }
    return true;
}

// "[Tasks]", "[tasks]", "[Alerts] ; my rules", "[Tasks]" and a tab.
bool isTaskSection(QStringView line)
{
    const qsizetype close = line.indexOf(u']');
    if (close < 0)
        return false;
    const QStringView name = line.mid(1, close - 1).trimmed();
    return name.compare(u"tasks", Qt::CaseInsensitive) == 0 ||
           name.compare(u"alerts", Qt::CaseInsensitive) == 0;
}

// One line, its spaces trimmed: what it adds to the record being read and
// to what the lines look like.
void readLine(QStringView line, Pending &pending, Parsed &out)
{
    if (line.isEmpty() || line[0] == u';')
        return;
    if (line[0] == u'[') {
        if (isTaskSection(line))
            out.taskSection = true;
        else
            ++out.otherLines;
        return;
    }
    const bool known = applyLine(line, pending, out);
    // "actually", "format", "monday": words that begin with a key.
    if (known && !(line.size() > 3 && line[3].isLetter())) {
        ++out.keyLines;
        // Any value commits a record, but only these are a task file's
        // mark: "act=1" is a script's.
        const QStringView act = line.mid(4).trimmed();
        out.records += line.startsWith(u"act") &&
                       (act.isEmpty() || act.compare(u"addtask", Qt::CaseInsensitive) == 0 ||
                        act.compare(u"addalert", Qt::CaseInsensitive) == 0);
    } else if (!line.trimmed().isEmpty()) {
        ++out.otherLines;
    }
}

// The file decoded whole, then split into lines.
Parsed parseText(QStringView text, QChar lineEnd)
{
    Parsed out;
    out.tasks.reserve(64);
    Pending pending;
    // A byte order mark (an editor's UTF-8 "with signature") is no text.
    if (text.startsWith(QChar(0xFEFF)))
        text = text.mid(1);
    const qsizetype n = text.size();
    qsizetype start = 0;
    while (start < n && out.status.ok()) {
        // A line ends at CR LF or a lone CR; a lone LF stays inside it.
        qsizetype end = text.indexOf(lineEnd, start);
        if (end < 0)
            end = n;
        const QStringView line = trimSpaces(text.mid(start, end - start));
        start = end + 1;
        if (lineEnd == u'\r' && start < n && end < n && text[start] == u'\n')
            ++start;
        readLine(line, pending, out);
    }
    return out;
}

// The bytes widened to UTF-16 as far as they are ASCII; whether they all
// were. Nearly every line of a task file is ASCII, and short: the decoder's
// set-up would cost more than the line.
bool widenAscii(QByteArrayView bytes, char16_t *to)
{
    const auto *from = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype size = bytes.size();
    qsizetype i = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= size; i += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + i));
        if (_mm_movemask_epi8(chunk) != 0)
            return false;
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to + i), _mm_unpacklo_epi8(chunk, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to + i + 8), _mm_unpackhi_epi8(chunk, zero));
    }
    if (i + 8 <= size) {
        const __m128i half = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(from + i));
        if (_mm_movemask_epi8(half) != 0)
            return false;
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to + i), _mm_unpacklo_epi8(half, zero));
        i += 8;
    }
#endif
    for (; i < size; ++i) {
        if (from[i] >= 0x80)
            return false;
        to[i] = from[i];
    }
    return true;
}

// The bytes split into lines, each decoded on its own: what parseText makes
// of decodeFile's text, without a UTF-16 copy of the whole file at once.
// The line ends are ASCII, which no UTF-8 sequence holds, so a file is
// valid UTF-8 exactly when each of its lines is. Nothing when a line is
// not, while taken as UTF-8 throughout: then each line is read as
// decodeFile reads it.
std::optional<Parsed> parseLines(QByteArrayView bytes, char lineEnd, bool asUtf8)
{
    Parsed out;
    out.tasks.reserve(64);
    Pending pending;
    // The whole file's decoder drops a byte order mark only at its start;
    // decodeFile's per line, at each line's.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        asUtf8 ? QStringConverter::Flag::Stateless |
                                     QStringConverter::Flag::ConvertInitialBom
                               : QStringConverter::Flag::Stateless);
    QString decoded;
    const qsizetype n = bytes.size();
    qsizetype start = 0;
    bool first = true;
    while (start < n && out.status.ok()) {
        const auto *hit =
            static_cast<const char *>(std::memchr(bytes.data() + start, lineEnd, size_t(n - start)));
        const qsizetype end = hit ? hit - bytes.data() : n;
        // As decodeFile cuts it: from just after the last line end, so that
        // a CR LF's LF begins the piece and a mark after it is not dropped.
        QByteArrayView raw = bytes.sliced(start, end - start);
        const bool afterCr = !first && lineEnd == '\r' && raw.startsWith('\n');
        start = end + 1;
        if (first && asUtf8 && raw.startsWith("\xEF\xBB\xBF"))
            raw = raw.sliced(3);
        QStringView text;
        QString windows;
        if (decoded.size() < raw.size())
            decoded.resize(raw.size());
        if (widenAscii(raw, reinterpret_cast<char16_t *>(decoded.data()))) {
            text = QStringView(decoded.constData(), raw.size());
        } else {
            if (const qsizetype room = utf8.requiredSpace(raw.size()); decoded.size() < room)
                decoded.resize(room);
            utf8.resetState();
            const QChar *to = utf8.appendToBuffer(decoded.data(), raw);
            text = QStringView(decoded.constData(), to - decoded.constData());
        }
        if (utf8.hasError()) {
            if (asUtf8)
                return std::nullopt;
            windows = fromWindows1252(raw);
            text = windows;
        }
        if (afterCr)
            text = text.mid(1);
        // A byte order mark (an editor's UTF-8 "with signature") is no text.
        if (first && text.startsWith(QChar(0xFEFF)))
            text = text.mid(1);
        first = false;
        readLine(trimSpaces(text), pending, out);
    }
    return out;
}

Parsed parse(QByteArrayView bytes, char lineEnd)
{
    if (std::optional<Parsed> read = parseLines(bytes, lineEnd, true))
        return std::move(*read);
    return std::move(*parseLines(bytes, lineEnd, false));
}

// Whether the lines are a task file's, so that a file that is plainly
// something else (a script, a settings file, notes, data) is never taken
// for one and overwritten. Comments, blank lines, task sections and key
// lines are a task file's; a file of nothing else is one, whatever else
// the reader would make of it. So is a file with a record's end
// ("act=addtask", "act=addalert"): no other kind of file has one, while a
// task file edited by hand may hold any stray line. A file with other lines
// and a "[Tasks]" section but no record is one only when its key lines are
// at least as many as the others: another program's settings may have a
// [Tasks] section too. A script or a shopping list that happens to hold a
// "for x" or a "min=5" has neither.
bool isTaskFile(const Parsed &p)
{
    return p.otherLines == 0 || p.records > 0 || (p.taskSection && p.keyLines >= p.otherLines);
}

// Text in UTF-16 (as some Windows editors save) has a zero byte beside
// nearly every ASCII letter: on the even bytes or on the odd ones.
bool isUtf16(QByteArrayView bytes)
{
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF"))
        return true;
    const qsizetype sample = std::min<qsizetype>(bytes.size(), 4096) & ~qsizetype(1);
    if (sample < 4)
        return false;
    qsizetype zeros[2] = {0, 0};
    for (qsizetype i = 0; i < sample; ++i)
        zeros[i & 1] += bytes[i] == 0;
    const qsizetype half = sample / 2;
    return (zeros[0] * 10 > half * 4 && zeros[1] * 20 < half) ||
           (zeros[1] * 10 > half * 4 && zeros[0] * 20 < half);
}

// Written as UTF-8 from the start: a UTF-16 copy of the whole file would
// double what a save holds at once.
void appendLine(QByteArray &out, QStringView line)
{
    out += line.toUtf8();
    out += "\r\n";
}

// Only the description may hold line breaks, and only as "|~": a break in
// any other value would end its line, and the rest would be read as keys of
// its own (a pasted "act=addalert" would become a rule).
void appendField(QByteArray &out, QStringView key, QStringView value, bool keepLf = false)
{
    out += key.toLatin1();
    const qsizetype from = out.size();
    out += value.toUtf8();
    // No byte of a multi-byte UTF-8 sequence is a CR or an LF.
    for (qsizetype i = from; i < out.size(); ++i) {
        if (out[i] == '\r' || (out[i] == '\n' && !keepLf))
            out[i] = ' ';
    }
    out += "\r\n";
}

// The folder the program works in, held from the first use.
struct HeldFolder {
    UniqueFd fd;
    int error = 0;
    QString shown;
};
std::optional<HeldFolder> &heldFolder()
{
    static std::optional<HeldFolder> held;
    return held;
}

// Empty folder: the current one.
struct ChosenList {
    QString folder;
    QByteArray name = kTaskFileName;
};
ChosenList &chosenList()
{
    static ChosenList chosen;
    return chosen;
}

const HeldFolder &taskFolder()
{
    std::optional<HeldFolder> &held = heldFolder();
    if (!held) {
        held.emplace();
        const QString &folder = chosenList().folder;
        held->fd = UniqueFd(::open(folder.isEmpty() ? "." : QFile::encodeName(folder).constData(),
                                   O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        held->error = held->fd.valid() ? 0 : errno;
        // The name as text is for messages; a folder removed before the
        // start has none.
        char buffer[PATH_MAX];
        held->shown = !folder.isEmpty()                 ? folder
                      : ::getcwd(buffer, sizeof buffer) ? QFile::decodeName(buffer)
                                                        : QStringLiteral(".");
    }
    return *held;
}

// A task file reached through an open folder: the held one, or the folder
// of a path given as text (tests, tools).
struct Located {
    UniqueFd owned;
    FolderFile file;
    int error = 0;      // the folder could not be opened
    bool held = false;  // the program's own folder
};

Located locateHeld()
{
    const HeldFolder &held = taskFolder();
    Located l;
    const QByteArray &name = chosenList().name;
    l.file = {held.fd.get(), name, held.shown + QLatin1Char('/') + QFile::decodeName(name)};
    l.error = held.error;
    l.held = true;
    return l;
}

Located locatePath(const QString &path)
{
    const QFileInfo info(path);
    Located l;
    l.owned = UniqueFd(::open(QFile::encodeName(info.absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    l.error = l.owned.valid() ? 0 : errno;
    l.file = {l.owned.get(), QFile::encodeName(info.fileName()), info.absoluteFilePath()};
    return l;
}

QString folderOf(const FolderFile &file) { return file.shown.left(file.shown.lastIndexOf(u'/')); }

// What the file held when this process last read or wrote it, by folder
// identity and name: a save compares before it replaces, so a change made
// elsewhere (a hand edit, a sync tool) is never overwritten. The bytes
// themselves are kept; comparing them costs less than hashing them on
// every load. A file that was refused stays refused while it holds the
// same bytes.
struct KnownContent {
    bool existed = false;
    QByteArray bytes;
    FileStatus refusal;
};
QHash<QByteArray, KnownContent> &knownContents()
{
    static QHash<QByteArray, KnownContent> known;
    return known;
}

QByteArray identityOf(const FolderFile &file)
{
    struct stat st { };
    if (::fstat(file.folder, &st) != 0)
        return {};
    // With the name as text too: a folder removed and another made may get
    // the same inode.
    return QByteArray::number(quint64(st.st_dev)) + ':' + QByteArray::number(quint64(st.st_ino)) +
           '/' + file.name + '|' + file.shown.toUtf8();
}

void remember(const FolderFile &file, bool existed, const QByteArray &bytes,
              const FileStatus &refusal = {})
{
    knownContents().insert(identityOf(file), KnownContent{existed, bytes, refusal});
}

FileStatus changedOutside(const FolderFile &file)
{
    return {FileStatus::ChangedOutside,
            QStringLiteral("%1 was changed outside Quillet since Quillet last read it, so the "
                           "last change was not saved. The file is read again.")
                .arg(file.shown)};
}

FileStatus writeFailure(const FolderFile &file, const QString &why)
{
    return {FileStatus::WriteFailed,
            QStringLiteral("%1 could not be saved: %2").arg(file.shown, why)};
}

// existed: the folder was there when this run first opened it.
FileStatus folderGone(const FolderFile &file, FileStatus::Code code, const char *what,
                      bool existed = true)
{
    return {code, QStringLiteral("%1 could not be %2: its folder %3 %4.")
                      .arg(file.shown, QLatin1String(what), folderOf(file),
                           existed ? QStringLiteral("no longer exists")
                                   : QStringLiteral("does not exist"))};
}

FileStatus notTaskFile(const FolderFile &file, const QString &what)
{
    const ListPlace own = userList();
    const QString ownPath = own.folder + QLatin1Char('/') + own.fileName;
    const QString way = file.shown == ownPath
                            ? QStringLiteral("move it away, or name another list with --file PATH")
                            : QStringLiteral(
                                  "move it away, start Quillet in another folder or "
                                  "name a list with --file PATH (your own list is %1)")
                                  .arg(ownPath);
    return {FileStatus::NotTaskFile,
            QStringLiteral("%1 %2. Quillet did not load it and will not write over it; %3.")
                .arg(file.shown, what, way)};
}

// Read no further: the whole file would cost seconds and hundreds of MB at
// every start, for a file that cannot be a task list.
FileStatus tooLarge(const FolderFile &file)
{
    return notTaskFile(file, QStringLiteral("is larger than any Quillet task file can be "
                                            "(%1 tasks of 64 KB each)")
                                 .arg(kTaskSlots));
}

// What one load read, kept for one more load of the same bytes. The
// texts are shared with the tables, not copied.
struct KeptTables {
    QByteArray identity;
    QByteArray bytes;
    QString locale;  // the due texts follow the locale's formats
    std::vector<Task> tasks;
    std::vector<AlertRule> rules;
};
bool keepNextLoad = false;
std::optional<KeptTables> &keptTables()
{
    static std::optional<KeptTables> kept;
    return kept;
}

// The kept tables back in their slots when they were read from these bytes.
bool takeKept(const FolderFile &file, const QByteArray &bytes)
{
    const std::optional<KeptTables> kept = std::exchange(keptTables(), std::nullopt);
    if (!kept || kept->bytes != bytes || kept->locale != QLocale().name() ||
        kept->identity != identityOf(file))
        return false;
    std::copy(kept->tasks.begin(), kept->tasks.end(), tasks.begin());
    std::copy(kept->rules.begin(), kept->rules.end(), alertRules.begin());
    taskCount = static_cast<qint16>(kept->tasks.size());
    alertRuleCount = static_cast<qint16>(kept->rules.size());
    return true;
}

void keepRead(const FolderFile &file, const QByteArray &bytes)
{
    keepNextLoad = false;
    keptTables() =
        KeptTables{identityOf(file), bytes, QLocale().name(),
                   std::vector<Task>(tasks.begin(), tasks.begin() + taskCount),
                   std::vector<AlertRule>(alertRules.begin(), alertRules.begin() + alertRuleCount)};
}

FileStatus loadFrom(const Located &at)
{
    const FolderFile &file = at.file;
    ReadResult read;
    if (at.error != 0) {
        read.outcome = at.error == ENOENT ? ReadResult::Missing : ReadResult::Failed;
        read.why = systemError(at.error);
    } else {
        read = readRegularFile(file, kLargestTaskFile);
    }
    // An empty list here would read as "all my tasks are gone".
    if (read.outcome == ReadResult::Missing &&
        (at.error != 0 ? at.held : folderRemoved(file.folder)))
        return folderGone(file, FileStatus::Unreadable, "read", at.error == 0);
    if (read.outcome == ReadResult::Missing) {
        taskCount = 0;
        alertRuleCount = 0;
        if (at.error == 0)
            remember(file, false, {});
        return {FileStatus::Missing, QStringLiteral("%1 does not exist yet.").arg(file.shown)};
    }
    if (read.outcome == ReadResult::TooLarge)
        return tooLarge(file);
    if (read.outcome == ReadResult::Failed) {
        return {FileStatus::Unreadable,
                QStringLiteral("%1 could not be read: %2").arg(file.shown, read.why)};
    }
    if (takeKept(file, read.bytes)) {
        remember(file, true, read.bytes);
        return {};
    }
    FileStatus status = readTasks(read.bytes);
    if (status.ok() && keepNextLoad)
        keepRead(file, read.bytes);
    if (status.code == FileStatus::NotTaskFile) {
        status = notTaskFile(file, status.error);
    } else if (!status.ok()) {
        status.error = file.shown + QStringLiteral(": ") + status.error;
    }
    remember(file, true, read.bytes, status);
    return status;
}

// The files this run has saved: only a run's first save keeps a backup,
// so that the backup holds the list as it was before this run.
QSet<QByteArray> &savedThisRun()
{
    static QSet<QByteArray> saved;
    return saved;
}

FileStatus saveTo(const Located &at, bool syncDirectory)
{
    ignoreFileSizeSignal();
    const FolderFile &file = at.file;
    if (at.error != 0) {
        return at.held && at.error == ENOENT
                   ? folderGone(file, FileStatus::WriteFailed, "saved", false)
                   : writeFailure(file, systemError(at.error));
    }
    if (folderRemoved(file.folder))
        return folderGone(file, FileStatus::WriteFailed, "saved");
    const WriteTarget target = resolveForWriting(file);
    if (!target.refused.isEmpty())
        return {FileStatus::WriteFailed, target.refused};
    // What cannot be read is not written over: a folder, a device, a file
    // this user may not read.
    const ReadResult now = readRegularFile(target.file, kLargestTaskFile);
    if (now.outcome == ReadResult::TooLarge)
        return tooLarge(file);
    if (now.outcome == ReadResult::Failed)
        return writeFailure(file, now.why);
    // Nothing to lose when this process never saw the file or it is gone.
    const QByteArray identity = identityOf(file);
    const auto known = knownContents().constFind(identity);
    if (known != knownContents().constEnd() && now.outcome == ReadResult::Read) {
        if (!known->existed || now.bytes != known->bytes)
            return changedOutside(file);
        if (!known->refusal.ok())
            return known->refusal;
    }

    const QByteArray bytes = serializeTables();
    if (bytes.size() > kLargestTaskFile) {
        return writeFailure(file, QStringLiteral("the list would be larger than any task file "
                                                 "can be (%1 tasks of 64 KB each); shorten "
                                                 "the longest descriptions")
                                      .arg(kTaskSlots));
    }
    // A save that is refused writes nothing at all, not even the backup.
    if (now.outcome == ReadResult::Read) {
        if (const QString refused = writeRefusal(target.file); !refused.isEmpty())
            return writeFailure(file, refused);
    }
    if (now.outcome == ReadResult::Read && !savedThisRun().contains(identity)) {
        // A folder that takes no new files (read-only, append-only) gets
        // none; the old bytes still put the file back if its rewrite fails.
        const BackupResult backup = keepBackup(target.file, now.bytes);
        if (!backup.kept && !backup.folderTakesNoNewFiles)
            return writeFailure(file, backup.why);
    }
    const ReplaceResult replaced = saveKeepingFile(target.file, bytes, now, syncDirectory);
    switch (replaced.outcome) {
    case ReplaceResult::Replaced: break;
    case ReplaceResult::ChangedMeanwhile: return changedOutside(file);
    case ReplaceResult::Failed: return writeFailure(file, replaced.why);
    }
    savedThisRun().insert(identity);
    remember(file, true, bytes);
    FileStatus status;
    if (!replaced.notice.isEmpty())
        status.notice = QStringLiteral("%1 was saved, but %2 could not be kept.")
                            .arg(target.file.shown, replaced.notice);
    return status;
}

// Two writers that both compared before either replaced would each drop
// the other's change.
FileStatus saveLocked(const Located &at, bool syncDirectory)
{
    const ListLock lock(at.file.folder, at.file.name, at.file.shown);
    if (!lock.held())
        return {FileStatus::WriteFailed, lock.busyText()};
    return saveTo(at, syncDirectory);
}

}  // namespace

QByteArray serializeTables()
{
    QByteArray out;
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
    return out;
}

QString taskFilePath() { return locateHeld().file.shown; }

void releaseTaskFolder() { heldFolder().reset(); }

void useTaskList(const QString &folder, const QString &fileName)
{
    chosenList() = {folder, QFile::encodeName(fileName)};
    heldFolder().reset();
}

QString taskFileName() { return QFile::decodeName(chosenList().name); }

void forgetThisRun()
{
    knownContents().clear();
    savedThisRun().clear();
}

QString taskFolderAccessPath()
{
    const HeldFolder &held = taskFolder();
    const QString proc = QStringLiteral("/proc/self/fd/%1").arg(held.fd.get());
    // Without /proc the text of the name is the best there is.
    return held.fd.valid() && QFileInfo(proc).isDir() ? proc : held.shown;
}

void ignoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

namespace {

FileStatus readParsed(QByteArrayView bytes,
                      const std::function<Parsed(QByteArrayView, char lineEnd)> &parseWith)
{
    if (isUtf16(bytes))
        return {FileStatus::NotTaskFile,
                QStringLiteral("is a UTF-16 text file, not a Quillet task file")};
    // Files written here always end lines with CR LF; a file without any CR
    // was converted by an editor or a checkout, and its lines end at LF.
    const char lineEnd = bytes.contains('\r') ? '\r' : '\n';
    Parsed parsed = parseWith(bytes, lineEnd);
    if (!parsed.status.ok())
        return parsed.status;
    if (!isTaskFile(parsed))
        return {FileStatus::NotTaskFile, QStringLiteral("is not a Quillet task file")};

    for (size_t i = 0; i < parsed.tasks.size(); ++i)
        tasks[i] = std::move(parsed.tasks[i]);
    for (size_t i = 0; i < parsed.rules.size(); ++i)
        alertRules[i] = std::move(parsed.rules[i]);
    taskCount = static_cast<qint16>(parsed.tasks.size());
    alertRuleCount = static_cast<qint16>(parsed.rules.size());
    return {};
}

}  // namespace

FileStatus readTasks(QByteArrayView bytes) { return readParsed(bytes, parse); }

FileStatus readTasksDecodedWhole(QByteArrayView bytes)
{
    return readParsed(bytes, [](QByteArrayView whole, char lineEnd) {
        return parseText(decodeFile(whole, lineEnd), QLatin1Char(lineEnd));
    });
}

void keepTablesForNextLoad() { keepNextLoad = true; }

void setDueTextsMade(bool made) { dueTextsMade = made; }

FileStatus loadTasks() { return loadFrom(locateHeld()); }

FileStatus loadTasks(const QString &path) { return loadFrom(locatePath(path)); }

bool taskFileAsLastSeen()
{
    const Located at = locateHeld();
    if (at.error != 0)
        return false;
    const auto known = knownContents().constFind(identityOf(at.file));
    if (known == knownContents().constEnd())
        return false;
    const ReadResult now = readRegularFile(at.file, kLargestTaskFile);
    return known->existed ? now.outcome == ReadResult::Read && now.bytes == known->bytes
                          : now.outcome == ReadResult::Missing;
}

FileStatus saveTasks() { return saveLocked(locateHeld(), true); }

FileStatus saveTasks(const QString &path, bool syncDirectory)
{
    return saveLocked(locatePath(path), syncDirectory);
}

ListLock lockTaskList()
{
    const Located at = locateHeld();
    return ListLock(at.file.folder, at.file.name, at.file.shown);
}

}  // namespace Module1
