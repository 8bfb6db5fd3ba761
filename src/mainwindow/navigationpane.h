#pragma once

#include <QFrame>

#include <array>

class QLabel;
class NavHotArea;

// pctMenu: four items, each a hot area (Image1) over a caption (Label1) and
// an icon (Image2). The pane keeps the hover border and the bold caption;
// what a click does is up to the window.
class NavigationPane : public QFrame {
    Q_OBJECT
public:
    static constexpr int kItems = 4;

    explicit NavigationPane(QWidget *parent = nullptr);

    std::array<NavHotArea *, kItems> Image1{};
    std::array<QLabel *, kItems> Label1{};
    std::array<QLabel *, kItems> Image2{};

    void setCaptionBold(int index, bool bold);
    bool isCaptionBold(int index) const;
    // Only `index` bold.
    void setBoldCaption(int index);
    void clearBorders();
    bool hasBorder(int index) const;

    void Image1_MouseMove(int index);
    void pctMenu_MouseMove();

signals:
    void itemClicked(int index);

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
};
