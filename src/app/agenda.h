#pragma once

// The text --list and --week print: the tasks in columns that line up on a
// terminal, cut to its width, coloured as the rules colour them.
#include "store/dates.h"
#include "store/tables.h"

#include <QString>
#include <QStringList>

#include <optional>

// Which tasks a listing shows; every condition given must hold.
struct TaskFilter {
    std::optional<qint64> dueWithin;  // days from today, overdue included
    bool overdue = false;             // due before today
    std::optional<QString> forWhom;   // the whole "for" field, any case
    QStringList words;                // each in the title or description, any case
    bool matches(const Module1::Task &task, Module1::Days today) const;
};

// How the text is laid out and coloured.
struct TextStyle {
    bool colour = false;
    bool trueColour = false;       // 24-bit escapes, else the 256-colour palette
    bool lightBackground = false;  // the terminal's, for the contrast check
    int width = 0;                 // the terminal's columns; 0: never cut
};
// The style for standard output as this process has it: colour only on a
// terminal without NO_COLOR, its width unless `wide`.
TextStyle terminalStyle(bool wide);

// The columns a text takes on a terminal: East Asian wide and fullwidth
// characters two, combining marks and format characters none.
int displayWidth(const QString &text);
// `text` cut to `width` columns, "…" ending what was cut.
QString cutToWidth(const QString &text, int width);

// "Late!", "Today!", "1 day left", "N days left".
QString daysLeftLabel(qint64 daysLeft);

// The nearest colour of the xterm 256-colour palette's cube and grey ramp
// (16-255), by distance in RGB.
int nearest256(Module1::Rgb rgb);
// The WCAG contrast ratio of two colours, 1 to 21.
double contrastRatio(Module1::Rgb a, Module1::Rgb b);
// Whether text in `rgb` is readable on the terminal's background.
bool readableOn(Module1::Rgb rgb, bool lightBackground);

// The tasks of one view (current or recycled) that `filter` keeps, in the
// tables' order (sorted as the list), each line numbered as the unfiltered
// view numbers it. Empty when none is kept.
QString listingText(bool recycled, const TaskFilter &filter, const TextStyle &style,
                    Module1::Days today);
// The current tasks due in the seven days from today, under a heading per
// day (a day without tasks says so), those overdue first under their own.
// Empty when no task is shown at all.
QString weekText(const TaskFilter &filter, const TextStyle &style, Module1::Days today);
