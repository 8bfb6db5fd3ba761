#include "mainwindow/formlayout.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kTwipsPerScrollUnit = 15;

// A size assignment the toolkit would refuse: the control keeps its value.
void setSize(double &field, double value)
{
    if (value >= 0 && std::isfinite(value))
        field = value;
}

void setScrollMaximum(ScrollState &s, TwipsRect &lst, int maximum)
{
    s.maximum = maximum;
    // The scroll bar keeps its value within range and moves the list with it.
    if (s.value > s.maximum) {
        s.value = s.maximum;
        lst.top = listTopAt(s.value);
    }
}

}  // namespace

double listTopAt(int scrollValue)
{
    return -kTwipsPerScrollUnit * static_cast<qint32>(scrollValue);
}

void fitListHeight(FormGeometry &g, int taskCount, bool fromLayout)
{
    setSize(g.lstContainer.height, (taskCount + 2) * g.lblFor.height);
    updateScrollRange(g, fromLayout);
    setSize(g.lstContainer.height, g.lstContainer.height + g.pctContainer.height);
}

void updateScrollRange(FormGeometry &g, bool fromLayout)
{
    if (g.lstContainer.height > g.pctContainer.height) {
        const double units =
            std::floor((g.lstContainer.height - g.pctContainer.height) / kTwipsPerScrollUnit);
        setScrollMaximum(g.vscroll, g.lstContainer, static_cast<int>(std::min(units, 32767.0)));
        if (fromLayout)
            g.lstContainer.top = listTopAt(g.vscroll.value);
    } else if (fromLayout) {
        g.lstContainer.top = 0;
        setScrollMaximum(g.vscroll, g.lstContainer, 0);
    }
}

void formResize(FormGeometry &g, const FormInputs &in)
{
    const double W = in.outerWidth;
    const double S = in.statusBarTop;
    const double p = in.splitPercent;

    g.pctContainer.top = 0;
    setSize(g.pctContainer.width, W - 75 - g.pctMenu.width);
    setSize(g.pctContainer.height, S * (p / 100));
    g.txtDescription.top = g.pctContainer.top + g.pctContainer.height + 30;
    setSize(g.txtDescription.height, S * ((100 - p) / 100) - 30);
    setSize(g.txtDescription.width, g.pctContainer.width);
    setSize(g.lstContainer.width, g.pctContainer.width - g.vscroll.rect.width);
    g.sepa1.top = g.txtDescription.top - 30;
    g.sepa1.left = g.pctMenu.width;
    setSize(g.sepa1.width, g.txtDescription.width);
    setSize(g.vscroll.rect.height, g.pctContainer.height);
    g.vscroll.rect.left = g.lstContainer.width - 45;
    g.cmdTitle.left = 0;
    g.cmdTitle.top = 0;
    g.cmdFor.top = 0;
    g.cmdDue.top = 0;
    setSize(g.cmdTitle.width, 0.4 * g.lstContainer.width);
    g.cmdFor.left = g.cmdTitle.width;
    setSize(g.cmdFor.width, 0.25 * g.lstContainer.width);
    g.cmdDue.left = g.cmdFor.left + g.cmdFor.width;
    setSize(g.cmdDue.width, 0.35 * g.lstContainer.width - 90);
    g.lblFor.left = g.cmdFor.left;
    setSize(g.lblFor.width, g.cmdFor.width);
    setSize(g.lblTitle.width, g.cmdTitle.width);
    g.lblDue.left = g.cmdDue.left;
    setSize(g.lblDue.width, g.cmdDue.width);
    fitListHeight(g, in.taskCount, true);
    setSize(g.pctMenu.height, S);
    setSize(g.webBrowser.width, g.txtDescription.width);
    g.webBrowser.left = g.pctMenu.width;
    g.webBrowser.top = 0;
    setSize(g.webBrowser.height, S);
}

qint16 splitPercentAt(double barTop, double statusBarTop, qint16 previous)
{
    if (!(statusBarTop > 0))
        return previous;
    const double percent = std::floor(barTop / statusBarTop * 100);
    if (!std::isfinite(percent))
        return previous;
    return static_cast<qint16>(
        std::clamp(percent, double(kMinSplitPercent), double(kMaxSplitPercent)));
}
