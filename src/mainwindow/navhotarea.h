#pragma once

#include <QWidget>

// One element of Image1: a transparent area over an item's icon and caption
// that takes the mouse for the whole item and can show a single-line border.
// Screen readers see it as a button named by its caption; the item of the
// view shown (the bold caption) is checked.
class NavHotArea : public QWidget {
    Q_OBJECT
public:
    NavHotArea(int index, QWidget *parent = nullptr);

    int index() const { return m_index; }
    bool hasBorder() const { return m_border; }
    void setBorder(bool on);

    // Items that switch the view can be the current one; "New Task" cannot.
    bool isView() const;
    bool isCurrent() const { return m_current; }
    void setCurrent(bool current);
    // A click as the mouse or the keyboard makes it, after the caller returns.
    void press();

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
    bool m_current = false;
};
