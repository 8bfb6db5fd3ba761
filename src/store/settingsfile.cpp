#include "store/settingsfile.h"

#include <QList>

namespace Module1 {

namespace {

int hexDigit(char c)
{
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

// A value as QSettings writes it: quotes around what holds ';', ',' or '='
// (or ends in a space), C escapes, \x and \0 taking every hex or octal
// digit that follows. Its first item only: a list is no byte array.
QByteArray unescapeValue(QByteArrayView text)
{
    QByteArray out;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            quoted = !quoted;
            continue;
        }
        if (!quoted && (c == ';' || c == ','))
            break;
        if (c != '\\' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const char e = text[++i];
        switch (e) {
        case 'a': out += '\a'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'v': out += '\v'; break;
        case 'x': {
            int value = 0;
            while (i + 1 < text.size() && hexDigit(text[i + 1]) >= 0)
                value = value * 16 + hexDigit(text[++i]);
            out += char(value);
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                int value = e - '0';
                while (i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '7')
                    value = value * 8 + (text[++i] - '0');
                out += char(value);
            } else {
                out += e;  // \\, \", \', \? and what QSettings passes through
            }
        }
    }
    return out;
}

}  // namespace

std::optional<QByteArray> readSettingsBytes(const QString &path, const QByteArray &group,
                                            const QByteArray &key)
{
    const ReadResult read = readRegularFile(path, kLargestSettingsFile);
    if (read.outcome != ReadResult::Read)
        return std::nullopt;
    QByteArray current;
    for (const QByteArray &raw : read.bytes.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[') && line.endsWith(']')) {
            current = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (current != group || equals < 0 || line.left(equals).trimmed() != key)
            continue;
        const QByteArray value = unescapeValue(line.mid(equals + 1).trimmed());
        if (value.startsWith("@ByteArray(") && value.endsWith(')'))
            return value.mid(11, value.size() - 12);
        return std::nullopt;
    }
    return std::nullopt;
}

OwnFileWrite writeSettingsBytes(const QString &path, const QByteArray &group, const QByteArray &key,
                                const QByteArray &value)
{
    // Every byte as \xHH: each escape ends at the next backslash or at the
    // closing parenthesis, so no digit after it is ever taken into it.
    QByteArray text = '[' + group + "]\n" + key + "=@ByteArray(";
    for (const char c : value)
        text += "\\x" + QByteArray::number(static_cast<unsigned char>(c), 16);
    text += ")\n";
    return writeOwnFile(path, text);
}

}  // namespace Module1
