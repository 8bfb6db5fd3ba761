#include "mainwindow/splitterbar.h"

#include "common/twips.h"

#include <QMouseEvent>

SplitterBar::SplitterBar(QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("sepa1"));
    setFrameShape(QFrame::Box);
    setFrameShadow(QFrame::Sunken);
    setLineWidth(1);
    setCursor(Qt::SizeVerCursor);
}

void SplitterBar::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    emit pressed();
}

void SplitterBar::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    emit moved(event->position().y() * kTwipsPerPixel);
}

void SplitterBar::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    emit released();
}
