#pragma once

#include <QFrame>

// sepa1: a thin etched bar that shares the height between the list and the
// description pane. It reports the pointer in twips from its own top edge;
// Qt keeps the mouse on it while a button is held.
class SplitterBar : public QFrame {
    Q_OBJECT
public:
    explicit SplitterBar(QWidget *parent = nullptr);

signals:
    void pressed();
    void moved(double yTwips);
    void released();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
};
