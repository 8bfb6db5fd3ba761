#pragma once

#include <QWidget>

// One element of Image1: a transparent area over an item's icon and caption
// that takes the mouse for the whole item and can show a single-line border.
class NavHotArea : public QWidget {
    Q_OBJECT
public:
    NavHotArea(int index, QWidget *parent = nullptr);

    int index() const { return m_index; }
    bool hasBorder() const { return m_border; }
    void setBorder(bool on);

signals:
    void clicked(int index);
    void hovered(int index);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    int m_index;
    bool m_border = false;
    bool m_pressed = false;
};
