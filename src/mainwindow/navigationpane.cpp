#include "mainwindow/navigationpane.h"

#include "common/icons.h"
#include "common/twips.h"
#include "mainwindow/formlayout.h"
#include "mainwindow/navhotarea.h"

#include <QLabel>
#include <QMouseEvent>

namespace {

struct ItemDesign {
    const char *caption;
    const char *picture;  // one of the program's own pictures
    TwipsRect hotArea;
    TwipsRect label;
    TwipsRect icon;
};

const std::array<ItemDesign, NavigationPane::kItems> kItemDesign{{
    {QT_TRANSLATE_NOOP("NavigationPane", "Immideate Attention"),
     "attention",
     {120, 120, 975, 1095},
     {120, 720, 975, 495},
     {360, 240, 480, 480}},
    {QT_TRANSLATE_NOOP("NavigationPane", "All Items"),
     "allitems",
     {120, 1320, 975, 855},
     {120, 1920, 975, 255},
     {360, 1440, 480, 480}},
    {QT_TRANSLATE_NOOP("NavigationPane", "Recycled"),
     "recycled",
     {120, 2280, 975, 855},
     {120, 2880, 975, 255},
     {360, 2400, 480, 480}},
    {QT_TRANSLATE_NOOP("NavigationPane", "New Task"),
     "newtask",
     {120, 3240, 975, 855},
     {120, 3840, 975, 255},
     {360, 3360, 480, 480}},
}};

void place(QWidget *w, const TwipsRect &r) { placeInTwips(w, r.left, r.top, r.width, r.height); }

}  // namespace

NavigationPane::NavigationPane(QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("pctMenu"));
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Sunken);
    setLineWidth(2);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Dark));  // the workspace colour
    setPalette(pal);
    setMouseTracking(true);

    // Created bottom first: the icons, then the captions, then the hot areas.
    for (int k = 0; k < kItems; ++k) {
        const ItemDesign &d = kItemDesign[static_cast<size_t>(k)];
        auto *icon = new QLabel(this);
        icon->setObjectName(QStringLiteral("Image2_%1").arg(k));
        icon->setPixmap(
            icons::navigationPixmap(QString::fromLatin1(d.picture), 32, devicePixelRatioF()));
        icon->setAlignment(Qt::AlignCenter);
        icon->setAttribute(Qt::WA_TransparentForMouseEvents);
        place(icon, d.icon);
        Image2[static_cast<size_t>(k)] = icon;
    }
    for (int k = 0; k < kItems; ++k) {
        const ItemDesign &d = kItemDesign[static_cast<size_t>(k)];
        auto *label = new QLabel(tr(d.caption), this);
        label->setObjectName(QStringLiteral("Label1_%1").arg(k));
        label->setFont(sansFont());
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        label->setWordWrap(true);
        QPalette lp = label->palette();
        lp.setColor(QPalette::WindowText, Qt::white);
        label->setPalette(lp);
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        place(label, d.label);
        Label1[static_cast<size_t>(k)] = label;
    }
    for (int k = 0; k < kItems; ++k) {
        const ItemDesign &d = kItemDesign[static_cast<size_t>(k)];
        auto *hot = new NavHotArea(k, this);
        hot->setAccessibleName(tr(d.caption));
        place(hot, d.hotArea);
        connect(hot, &NavHotArea::hovered, this, &NavigationPane::Image1_MouseMove);
        connect(hot, &NavHotArea::clicked, this, &NavigationPane::itemClicked);
        Image1[static_cast<size_t>(k)] = hot;
    }
    setBoldCaption(1);
}

void NavigationPane::setCaptionBold(int index, bool bold)
{
    QLabel *label = Label1.at(static_cast<size_t>(index));
    if (label->font().bold() != bold)
        label->setFont(sansFont(8.25, bold));
    // The bold caption marks the view shown, for screen readers too.
    Image1.at(static_cast<size_t>(index))->setCurrent(bold);
}

bool NavigationPane::isCaptionBold(int index) const
{
    return Label1.at(static_cast<size_t>(index))->font().bold();
}

void NavigationPane::setBoldCaption(int index)
{
    for (int k = 0; k < kItems; ++k)
        setCaptionBold(k, k == index);
}

void NavigationPane::clearBorders()
{
    for (NavHotArea *hot : Image1)
        hot->setBorder(false);
}

bool NavigationPane::hasBorder(int index) const
{
    return Image1.at(static_cast<size_t>(index))->hasBorder();
}

void NavigationPane::Image1_MouseMove(int index)
{
    // Moves within the item that has the border change nothing.
    if (hasBorder(index))
        return;
    clearBorders();
    Image1.at(static_cast<size_t>(index))->setBorder(true);
}

void NavigationPane::pctMenu_MouseMove() { clearBorders(); }

void NavigationPane::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    pctMenu_MouseMove();
}
