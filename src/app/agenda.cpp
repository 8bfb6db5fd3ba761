#include "app/agenda.h"

#include "app/tasknumbers.h"
#include "app/terminalcommands.h"

#include "store/ordering.h"
#include "store/rules.h"

#include <QDate>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <vector>

#include <sys/ioctl.h>
#include <unistd.h>

using namespace Module1;

namespace {

// East Asian Wide and Fullwidth code points (assigned ones), as Unicode 14
// gives them.
struct Range {
    char32_t first, last;
};
constexpr Range kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
    {0x23F0, 0x23F0},   {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
    {0x2648, 0x2653},   {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
    {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
    {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
    {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},
    {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
    {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2E80, 0x2E99},
    {0x2E9B, 0x2EF3},   {0x2F00, 0x2FD5},   {0x2FF0, 0x2FFB},   {0x3000, 0x303E},
    {0x3041, 0x3096},   {0x3099, 0x30FF},   {0x3105, 0x312F},   {0x3131, 0x318E},
    {0x3190, 0x31E3},   {0x31F0, 0x321E},   {0x3220, 0x3247},   {0x3250, 0x4DBF},
    {0x4E00, 0xA48C},   {0xA490, 0xA4C6},   {0xA960, 0xA97C},   {0xAC00, 0xD7A3},
    {0xF900, 0xFA6D},   {0xFA70, 0xFAD9},   {0xFE10, 0xFE19},   {0xFE30, 0xFE52},
    {0xFE54, 0xFE66},   {0xFE68, 0xFE6B},   {0xFF01, 0xFF60},   {0xFFE0, 0xFFE6},
    {0x16FE0, 0x16FE4}, {0x16FF0, 0x16FF1}, {0x17000, 0x187F7}, {0x18800, 0x18CD5},
    {0x18D00, 0x18D08}, {0x1AFF0, 0x1AFF3}, {0x1AFF5, 0x1AFFB}, {0x1AFFD, 0x1AFFE},
    {0x1B000, 0x1B122}, {0x1B150, 0x1B152}, {0x1B164, 0x1B167}, {0x1B170, 0x1B2FB},
    {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A},
    {0x1F200, 0x1F202}, {0x1F210, 0x1F23B}, {0x1F240, 0x1F248}, {0x1F250, 0x1F251},
    {0x1F260, 0x1F265}, {0x1F300, 0x1F320}, {0x1F32D, 0x1F335}, {0x1F337, 0x1F37C},
    {0x1F37E, 0x1F393}, {0x1F3A0, 0x1F3CA}, {0x1F3CF, 0x1F3D3}, {0x1F3E0, 0x1F3F0},
    {0x1F3F4, 0x1F3F4}, {0x1F3F8, 0x1F43E}, {0x1F440, 0x1F440}, {0x1F442, 0x1F4FC},
    {0x1F4FF, 0x1F53D}, {0x1F54B, 0x1F54E}, {0x1F550, 0x1F567}, {0x1F57A, 0x1F57A},
    {0x1F595, 0x1F596}, {0x1F5A4, 0x1F5A4}, {0x1F5FB, 0x1F64F}, {0x1F680, 0x1F6C5},
    {0x1F6CC, 0x1F6CC}, {0x1F6D0, 0x1F6D2}, {0x1F6D5, 0x1F6D7}, {0x1F6DD, 0x1F6DF},
    {0x1F6EB, 0x1F6EC}, {0x1F6F4, 0x1F6FC}, {0x1F7E0, 0x1F7EB}, {0x1F7F0, 0x1F7F0},
    {0x1F90C, 0x1F93A}, {0x1F93C, 0x1F945}, {0x1F947, 0x1F9FF}, {0x1FA70, 0x1FA74},
    {0x1FA78, 0x1FA7C}, {0x1FA80, 0x1FA86}, {0x1FA90, 0x1FAAC}, {0x1FAB0, 0x1FABA},
    {0x1FAC0, 0x1FAC5}, {0x1FAD0, 0x1FAD9}, {0x1FAE0, 0x1FAE7}, {0x1FAF0, 0x1FAF6},
    {0x20000, 0x2A6DF}, {0x2A700, 0x2B738}, {0x2B740, 0x2B81D}, {0x2B820, 0x2CEA1},
    {0x2CEB0, 0x2EBE0}, {0x2F800, 0x2FA1D}, {0x30000, 0x3134A},
};

int charWidth(char32_t c)
{
    if (c == 0xAD)
        return 1;  // a soft hyphen is shown
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_Enclosing:
    case QChar::Other_Format: return 0;
    default: break;
    }
    const auto r = std::upper_bound(std::begin(kWide), std::end(kWide), c,
                                    [](char32_t v, const Range &w) { return v < w.first; });
    return r != std::begin(kWide) && c <= std::prev(r)->last ? 2 : 1;
}

}  // namespace

int displayWidth(const QString &text)
{
    int width = 0;
    for (const char32_t c : text.toUcs4())
        width += charWidth(c);
    return width;
}

QString cutToWidth(const QString &text, int width)
{
    if (displayWidth(text) <= width)
        return text;
    QString out;
    int used = 0;
    const QList<uint> chars = text.toUcs4();
    for (const uint c : chars) {
        const int w = charWidth(c);
        if (used + w > width - 1)
            break;
        used += w;
        out += QString::fromUcs4(reinterpret_cast<const char32_t *>(&c), 1);
    }
    return width > 0 ? out + QStringLiteral("…") : QString();
}

QString daysLeftLabel(qint64 daysLeft)
{
    if (daysLeft == 1)
        return QStringLiteral("1 day left");
    return daysLeftText(daysLeft);
}

bool TaskFilter::matches(const Task &task, Days today) const
{
    const qint64 left = daysLeft(task, today);
    if (dueWithin && left > *dueWithin)
        return false;
    if (overdue && left >= 0)
        return false;
    if (forWhom && task.forWhom.trimmed().compare(forWhom->trimmed(), Qt::CaseInsensitive) != 0)
        return false;
    for (const QString &word : words) {
        if (!task.title.contains(word, Qt::CaseInsensitive) &&
            !task.description.contains(word, Qt::CaseInsensitive))
            return false;
    }
    return true;
}

int nearest256(Rgb rgb)
{
    // The cube's six levels per channel, then the ramp's 24 greys.
    static const int levels[] = {0, 95, 135, 175, 215, 255};
    const auto level = [](int v) {
        int best = 0;
        for (int i = 1; i < 6; ++i) {
            if (std::abs(levels[i] - v) < std::abs(levels[best] - v))
                best = i;
        }
        return best;
    };
    const auto distance = [&](int r, int g, int b) {
        return (r - rgb.red) * (r - rgb.red) + (g - rgb.green) * (g - rgb.green) +
               (b - rgb.blue) * (b - rgb.blue);
    };
    const int r = level(rgb.red), g = level(rgb.green), b = level(rgb.blue);
    const int cube = 16 + 36 * r + 6 * g + b;
    const int cubeDistance = distance(levels[r], levels[g], levels[b]);
    const int mean = (rgb.red + rgb.green + rgb.blue) / 3;
    const int grey = std::clamp((mean - 8 + 5) / 10, 0, 23);
    const int greyValue = 8 + 10 * grey;
    return distance(greyValue, greyValue, greyValue) < cubeDistance ? 232 + grey : cube;
}

namespace {

double luminance(Rgb rgb)
{
    const auto linear = [](int v) {
        const double c = v / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(rgb.red) + 0.7152 * linear(rgb.green) + 0.0722 * linear(rgb.blue);
}

}  // namespace

double contrastRatio(Rgb a, Rgb b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

bool readableOn(Rgb rgb, bool lightBackground)
{
    // WCAG's least contrast for body text.
    const Rgb background = lightBackground ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
    return contrastRatio(rgb, background) >= 4.5;
}

TextStyle terminalStyle(bool wide)
{
    TextStyle style;
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    // As no-color.org asks: any non-empty value turns colour off.
    style.colour = terminal && qEnvironmentVariableIsEmpty("NO_COLOR");
    const QByteArray colorTerm = qgetenv("COLORTERM");
    style.trueColour = colorTerm == "truecolor" || colorTerm == "24bit";
    // rxvt's "foreground;background" (or "fg;default;bg"): 7 and 9-15 are light.
    const QList<QByteArray> fgbg = qgetenv("COLORFGBG").split(';');
    bool known = false;
    const int background = fgbg.size() >= 2 ? fgbg.constLast().toInt(&known) : -1;
    style.lightBackground = known && (background == 7 || (background >= 9 && background <= 15));
    if (terminal && !wide) {
        winsize size{};
        if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
            style.width = size.ws_col;
        else if (const int columns = qEnvironmentVariableIntValue("COLUMNS"); columns > 0)
            style.width = columns;
    }
    return style;
}

namespace {

// One task's line, its columns as text before they are padded.
struct Row {
    int number = 0;
    QString due, left, title, forWhom;
    QString colour;       // the escape that starts the rule's colour, or empty
    bool marker = false;  // the colour shown beside the text, not on it
    bool bold = false;
};

QString colourEscape(Rgb rgb, bool trueColour)
{
    if (trueColour)
        return QStringLiteral("\x1b[38;2;%1;%2;%3m").arg(rgb.red).arg(rgb.green).arg(rgb.blue);
    return QStringLiteral("\x1b[38;5;%1m").arg(nearest256(rgb));
}

Row rowOf(Task &task, int number, const TextStyle &style, Days today)
{
    Row row;
    row.number = number;
    row.due = dueMomentText(task);
    row.left = daysLeftLabel(daysLeft(task, today));
    row.title = visible(task.title);
    row.forWhom =
        task.forWhom.isEmpty() ? QString() : QStringLiteral("for ") + visible(task.forWhom);
    if (!style.colour)
        return row;
    const RuleMatch match = matchRules(task, today);
    row.bold = match.bold.value_or(false);
    if (match.colored) {
        const Rgb rgb = rgbOf(match.color);
        row.colour = colourEscape(rgb, style.trueColour);
        row.marker = !readableOn(rgb, style.lightBackground);
    }
    return row;
}

QString padded(const QString &text, int width)
{
    return text + QString(std::max(0, width - displayWidth(text)), QLatin1Char(' '));
}

// The rows' lines, in columns as wide as their widest cell; the titles cut
// so that a line fits the terminal.
class Columns {
public:
    Columns(const std::vector<Row> &rows, const TextStyle &style) : m_style(style)
    {
        for (const Row &r : rows) {
            m_number = std::max(m_number, int(QString::number(r.number).size()));
            m_due = std::max(m_due, displayWidth(r.due));
            m_left = std::max(m_left, displayWidth(r.left));
            m_title = std::max(m_title, displayWidth(r.title));
            m_for = std::max(m_for, displayWidth(r.forWhom));
            m_marker = m_marker || r.marker;
        }
        if (style.width > 0) {
            int fixed = m_number + 2 + m_due + 2 + m_left + 2;
            if (m_marker)
                fixed += 2;
            if (m_for > 0)
                fixed += 2 + m_for;
            // A title keeps a few columns even when "for" takes the rest.
            m_title = std::min(m_title, std::max(8, style.width - fixed));
        }
    }
    QString line(const Row &r) const
    {
        QString out = QStringLiteral("%1  ").arg(r.number, m_number);
        if (m_marker)
            out += r.marker ? r.colour + QStringLiteral("●\x1b[0m ") : QStringLiteral("  ");
        QString rest = padded(r.due, m_due) + QStringLiteral("  ") + padded(r.left, m_left) +
                       QStringLiteral("  ");
        const QString title = cutToWidth(r.title, m_title);
        rest += m_for > 0 && !r.forWhom.isEmpty()
                    ? padded(title, m_title) + QStringLiteral("  ") + r.forWhom
                    : title;
        if (m_style.width > 0 && displayWidth(out) + displayWidth(rest) > m_style.width)
            rest = cutToWidth(rest, m_style.width - displayWidth(out));
        QString start = r.marker ? QString() : r.colour;
        if (r.bold)
            start += QStringLiteral("\x1b[1m");
        return out + (start.isEmpty() ? rest : start + rest + QStringLiteral("\x1b[0m")) +
               QLatin1Char('\n');
    }

private:
    TextStyle m_style;
    int m_number = 1, m_due = 0, m_left = 0, m_title = 0, m_for = 0;
    bool m_marker = false;
};

}  // namespace

QString listingText(bool recycled, const TaskFilter &filter, const TextStyle &style, Days today)
{
    const std::vector<int> numbers = taskNumbers();
    std::vector<Row> rows;
    for (int i = 0; i < taskCount; ++i) {
        Task &task = tasks[size_t(i)];
        if (isDeleted(task) == recycled && filter.matches(task, today))
            rows.push_back(rowOf(task, numbers[size_t(i)], style, today));
    }
    const Columns columns(rows, style);
    QString out;
    for (const Row &r : rows)
        out += columns.line(r);
    return out;
}

QString weekText(const TaskFilter &filter, const TextStyle &style, Days today)
{
    const std::vector<int> numbers = taskNumbers();
    // Index 0: overdue; 1-7: today and the six days after.
    std::vector<Row> days[8];
    std::vector<Row> all;
    for (int i = 0; i < taskCount; ++i) {
        Task &task = tasks[size_t(i)];
        if (isDeleted(task) || !filter.matches(task, today))
            continue;
        const qint64 left = daysLeft(task, today);
        if (left > 6)
            continue;
        const Row row = rowOf(task, numbers[size_t(i)], style, today);
        days[left < 0 ? 0 : left + 1].push_back(row);
        all.push_back(row);
    }
    if (all.empty())
        return {};
    const Columns columns(all, style);
    QString out;
    const auto section = [&](const QString &heading, const std::vector<Row> &rows) {
        if (!out.isEmpty())
            out += QLatin1Char('\n');
        out += heading + QLatin1Char('\n');
        for (const Row &r : rows)
            out += columns.line(r);
        if (rows.empty())
            out += QStringLiteral("No tasks\n");
    };
    if (!days[0].empty())
        section(QStringLiteral("Overdue"), days[0]);
    for (int d = 0; d < 7; ++d) {
        const QDate date = toQDate(today + std::chrono::days(d));
        section(QLocale::c().toString(date, QStringLiteral("dddd yyyy-MM-dd")), days[d + 1]);
    }
    return out;
}
