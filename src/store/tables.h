#pragma once

#include <QString>
#include <QtGlobal>

#include <array>

namespace Module1 {

struct Task {
    QString title;
    QString forWhom;
    qint16 year = 0;
    qint16 month = 0;
    qint16 day = 0;
    qint16 second = 0;
    qint16 minute = 0;
    qint16 hour = 0;
    QString description;  // line breaks are CR LF
    QString dueText;      // derived on load
    QString sortKey;      // derived on load
    QString deleted;      // exactly "Y" means recycled

    bool operator==(const Task &) const = default;
};

struct AlertRule {
    qint16 interval = 0;
    QString unit;
    qint32 color = 0;  // red in the low byte, then green, then blue
    bool popup = false;

    bool operator==(const AlertRule &) const = default;
};

inline constexpr int kTaskSlots = 1001;
inline constexpr int kRuleSlots = 101;

// Slots past the counts keep whatever they last held: a new task or rule
// starts from its slot's leftover content.
extern std::array<Task, kTaskSlots> tasks;
extern std::array<AlertRule, kRuleSlots> alertRules;
extern qint16 taskCount;
extern qint16 alertRuleCount;
extern qint16 sortMode;

// Every slot back to its never-used state, counts and sortMode to 0.
void resetTables();

// A colour's parts: red + 256 * green + 65536 * blue; the top byte is
// ignored. The one place that splits a stored colour.
struct Rgb {
    int red, green, blue;
};
inline Rgb rgbOf(qint32 color)
{
    const auto v = static_cast<quint32>(color);
    return {int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF)};
}
inline qint32 colorOf(Rgb rgb) { return rgb.red + 256 * rgb.green + 65536 * rgb.blue; }

inline bool isDeleted(const Task &t) { return t.deleted == QLatin1String("Y"); }

// "|~" <-> CR LF, whole pairs only; no escaping of a literal "|~".
QString decodeLineBreaks(const QString &text);
QString decodeLineBreaks(QStringView text);
QString encodeLineBreaks(const QString &text);

}  // namespace Module1
