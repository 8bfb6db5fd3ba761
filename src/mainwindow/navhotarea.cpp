#include "mainwindow/navhotarea.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

NavHotArea::NavHotArea(int index, QWidget *parent) : QWidget(parent), m_index(index)
{
    setObjectName(QStringLiteral("Image1_%1").arg(index));
    setMouseTracking(true);
    setAttribute(Qt::WA_TranslucentBackground);
    // Reachable from the keyboard too: Tab to an item, then Space or Enter.
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
}

void NavHotArea::setBorder(bool on)
{
    if (m_border != on) {
        m_border = on;
        update();
    }
}

void NavHotArea::paintEvent(QPaintEvent *)
{
    if (!m_border && !hasFocus())
        return;
    QPainter painter(this);
    painter.setPen(m_border ? QPen(Qt::black) : QPen(Qt::white, 1, Qt::DotLine));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void NavHotArea::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    emit hovered(m_index);
}

void NavHotArea::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    m_pressed = event->button() == Qt::LeftButton;
}

void NavHotArea::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    const bool click = m_pressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    m_pressed = false;
    if (click)
        emit clicked(m_index);
}

void NavHotArea::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        event->accept();
        emit clicked(m_index);
        return;
    }
    QWidget::keyPressEvent(event);
}

void NavHotArea::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    update();
}

void NavHotArea::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    update();
}
