#pragma once

#include <QtGlobal>

// Geometry of the main window's laid-out controls, in twips. The layout runs
// on this plain struct so that it can be checked without a window; frmMain
// applies it to the widgets afterwards.
struct TwipsRect {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;

    bool operator==(const TwipsRect &) const = default;
};

struct ScrollState {
    TwipsRect rect;
    int maximum = 32767;
    int value = 0;

    bool operator==(const ScrollState &) const = default;
};

struct FormGeometry {
    TwipsRect pctMenu{0, 0, 1335, 6135};
    TwipsRect pctContainer{1320, 0, 6255, 3015};
    TwipsRect txtDescription{1320, 3000, 4575, 1695};
    TwipsRect sepa1{5880, 3360, 1335, 45};
    TwipsRect webBrowser{5040, 3600, 1575, 735};
    TwipsRect lstContainer{0, 0, 3855, 2295};
    ScrollState vscroll{{5880, 0, 255, 1935}};
    TwipsRect cmdTitle{0, 0, 855, 255};
    TwipsRect cmdFor{840, 0, 735, 255};
    TwipsRect cmdDue{1560, 0, 735, 255};
    // Column geometry of the row template; every row copies it.
    TwipsRect lblTitle{0, 0, 975, 255};
    TwipsRect lblFor{960, 0, 855, 255};
    TwipsRect lblDue{1800, 0, 975, 255};

    bool operator==(const FormGeometry &) const = default;
};

struct FormInputs {
    double outerWidth = 0;     // W: the window's width, frame included
    double statusBarTop = 0;   // S: the bottom of the laid-out area
    qint16 splitPercent = 50;  // p
    int taskCount = 0;         // n
};

// The layout steps in order; a step that would give a negative width or
// height is skipped and the control keeps its previous value.
void formResize(FormGeometry &g, const FormInputs &in);

// Where the list stands for a scroll bar value: 15 twips a unit, counted in
// 32 bits, so that long lists scroll past 32767 twips.
double listTopAt(int scrollValue);

// The list as high as every task (whatever the view shows) and two rows
// more, plus one viewport so that its last row can scroll to the top; the
// scroll range follows, as updateScrollRange says.
void fitListHeight(FormGeometry &g, int taskCount, bool fromLayout);

// The scroll range once the list container has its row height. The layout
// (fromLayout) also resets an unscrollable list to the top; the list redraw
// only raises or lowers the maximum, and the scroll bar clamps its value.
void updateScrollRange(FormGeometry &g, bool fromLayout);

// The percentage for a splitter released with its top at barTop. Kept within
// 5 to 95 so the bar stays inside the client area and can be grabbed again;
// with no area to share (S <= 0) the previous value stays.
qint16 splitPercentAt(double barTop, double statusBarTop, qint16 previous);

inline constexpr qint16 kMinSplitPercent = 5;
inline constexpr qint16 kMaxSplitPercent = 95;
