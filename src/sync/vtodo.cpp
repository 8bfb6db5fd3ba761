#include "sync/vtodo.h"

#include <QStringList>

#include <algorithm>
#include <vector>

namespace qsync {

namespace {

QByteArray utcText(const QDateTime &moment)
{
    return moment.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")).toLatin1();
}

QByteArray dueLine(qint64 due)
{
    return "DUE:" + utcText(QDateTime::fromSecsSinceEpoch(due, Qt::UTC));
}

QByteArray statusLine(bool recycled)
{
    return recycled ? QByteArray("STATUS:CANCELLED") : QByteArray("STATUS:NEEDS-ACTION");
}

// A content line as it stands in the file: its physical lines, each with
// its line end, so that an untouched one is copied whole.
struct Logical {
    QByteArray raw;       // as in the file
    QByteArray unfolded;  // without line ends and folds
};

std::vector<Logical> logicalLines(const QByteArray &text)
{
    std::vector<Logical> out;
    qsizetype at = 0;
    while (at < text.size()) {
        qsizetype end = text.indexOf('\n', at);
        end = end < 0 ? text.size() : end + 1;
        const QByteArray physical = text.mid(at, end - at);
        QByteArray bare = physical;
        while (bare.endsWith('\n') || bare.endsWith('\r'))
            bare.chop(1);
        if (!out.empty() && (physical.startsWith(' ') || physical.startsWith('\t'))) {
            out.back().raw += physical;
            out.back().unfolded += bare.mid(1);
        } else {
            out.push_back({physical, bare});
        }
        at = end;
    }
    return out;
}

QByteArray nameOf(const QByteArray &line)
{
    qsizetype end = 0;
    while (end < line.size() && line[end] != ':' && line[end] != ';')
        ++end;
    return line.left(end).trimmed().toUpper();
}

}  // namespace

QByteArray escapeText(const QString &text)
{
    QByteArray out;
    const QByteArray bytes =
        QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")).toUtf8();
    out.reserve(bytes.size());
    for (const char c : bytes) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case ';': out += "\\;"; break;
        case ',': out += "\\,"; break;
        case '\n': out += "\\n"; break;
        case '\r': break;
        default: out += c;
        }
    }
    return out;
}

QByteArray foldLine(const QByteArray &line)
{
    QByteArray out;
    qsizetype width = 0;
    for (qsizetype i = 0; i < line.size();) {
        const auto c = static_cast<unsigned char>(line[i]);
        // A character's bytes stay together, and a line holds 75 octets.
        const qsizetype length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        const qsizetype end = std::min(line.size(), i + length);
        if (width + (end - i) > 75) {
            out += "\r\n ";
            width = 1;
        }
        out += line.mid(i, end - i);
        width += end - i;
        i = end;
    }
    return out;
}

QByteArray newResource(const QString &uid, const Fields &f, const QDateTime &now)
{
    QByteArrayList lines{"BEGIN:VCALENDAR", "VERSION:2.0",
                         "PRODID:-//Quillet//Quillet " QUILLET_VERSION "//EN", "BEGIN:VTODO"};
    lines << "UID:" + escapeText(uid) << "DTSTAMP:" + utcText(now)
          << "LAST-MODIFIED:" + utcText(now) << "SEQUENCE:0"
          << "SUMMARY:" + escapeText(f.title);
    if (!f.forWhom.isEmpty())
        lines << "CONTACT:" + escapeText(f.forWhom);
    if (!f.description.isEmpty())
        lines << "DESCRIPTION:" + escapeText(f.description);
    lines << dueLine(f.due) << statusLine(f.recycled) << "BEGIN:VALARM"
          << "ACTION:DISPLAY"
          << "TRIGGER;RELATED=END:PT0S"
          << "DESCRIPTION:" + escapeText(f.title) << "END:VALARM"
          << "END:VTODO"
          << "END:VCALENDAR";
    QByteArray out;
    for (const QByteArray &line : lines)
        out += foldLine(line) + "\r\n";
    return out;
}

QByteArray patchResource(const QByteArray &resource, const Fields &was, const Fields &now,
                         const QDateTime &stamp)
{
    const std::vector<Logical> lines = logicalLines(resource);
    const QByteArray eol = resource.contains("\r\n") ? "\r\n" : "\n";
    const auto line = [&](const QByteArray &content) {
        QByteArray folded = foldLine(content);
        if (eol != "\r\n")
            folded.replace("\r\n", eol);
        return folded + eol;
    };
    // The properties that change, by name; an empty value removes one.
    struct Change {
        QByteArray name, content;
        bool done = false;
    };
    std::vector<Change> changes;
    const auto set = [&](const char *name, const QByteArray &content) {
        changes.push_back({name, content});
    };
    if (was.title != now.title)
        set("SUMMARY", "SUMMARY:" + escapeText(now.title));
    if (was.forWhom != now.forWhom)
        set("CONTACT", now.forWhom.isEmpty() ? QByteArray() : "CONTACT:" + escapeText(now.forWhom));
    if (was.description != now.description)
        set("DESCRIPTION", now.description.isEmpty()
                               ? QByteArray()
                               : "DESCRIPTION:" + escapeText(now.description));
    if (was.due != now.due)
        set("DUE", dueLine(now.due));
    if (was.recycled != now.recycled) {
        set("STATUS", statusLine(now.recycled));
        // A to-do done on the phone and restored here is open again there.
        if (!now.recycled) {
            set("COMPLETED", {});
            set("PERCENT-COMPLETE", {});
        }
    }
    set("DTSTAMP", "DTSTAMP:" + utcText(stamp));
    set("LAST-MODIFIED", "LAST-MODIFIED:" + utcText(stamp));
    // SEQUENCE one up where it stands, or added.
    {
        qint64 sequence = 0;
        bool inside = false;
        int nested = 0;
        for (const Logical &l : lines) {
            const QByteArray name = nameOf(l.unfolded);
            const QByteArray value = l.unfolded.mid(l.unfolded.indexOf(':') + 1).trimmed();
            if (name == "BEGIN" && !inside && value.toUpper() == "VTODO")
                inside = true;
            else if (inside && name == "BEGIN")
                ++nested;
            else if (inside && name == "END" && nested > 0)
                --nested;
            else if (inside && name == "END")
                break;
            else if (inside && nested == 0 && name == "SEQUENCE")
                sequence = value.toLongLong();
        }
        set("SEQUENCE", "SEQUENCE:" + QByteArray::number(sequence + 1));
    }

    QByteArray out;
    int depth = 0;  // components open inside the to-do
    bool inTodo = false, patched = false;
    for (const Logical &l : lines) {
        const QByteArray name = nameOf(l.unfolded);
        const QByteArray value = l.unfolded.mid(l.unfolded.indexOf(':') + 1).trimmed().toUpper();
        if (!patched && !inTodo && name == "BEGIN" && value == "VTODO") {
            inTodo = true;
            out += l.raw;
            continue;
        }
        if (!inTodo) {
            out += l.raw;
            continue;
        }
        if (name == "BEGIN") {
            ++depth;
        } else if (name == "END" && depth > 0) {
            --depth;
        } else if (name == "END") {
            // What the to-do lacked goes in at its end.
            for (const Change &c : changes) {
                if (!c.done && !c.content.isEmpty())
                    out += line(c.content);
            }
            out += l.raw;
            inTodo = false;
            patched = true;
            continue;
        }
        if (depth > 0) {
            out += l.raw;
            continue;
        }
        bool replaced = false;
        for (Change &c : changes) {
            if (c.name != name)
                continue;
            replaced = true;
            if (!c.done && !c.content.isEmpty())
                out += line(c.content);
            c.done = true;  // a second copy of the property goes
        }
        if (!replaced)
            out += l.raw;
    }
    return out;
}

}  // namespace qsync
