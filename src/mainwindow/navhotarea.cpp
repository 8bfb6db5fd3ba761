#include "mainwindow/navhotarea.h"

#include "common/accessibleevents.h"
#include "common/itemaccessible.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {

constexpr int kViews = 3;  // items 0..2 show a view; item 3 starts a task

class NavItemAccessible : public QAccessibleWidget {
public:
    explicit NavItemAccessible(NavHotArea *item) : QAccessibleWidget(item, QAccessible::Button) { }
    NavHotArea *item() const { return static_cast<NavHotArea *>(widget()); }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        if (item()->isView()) {
            s.checkable = true;
            s.checked = item()->isCurrent();
        }
        return s;
    }
    QStringList actionNames() const override
    {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString &action) override
    {
        if (action == pressAction())
            item()->press();
        else
            QAccessibleWidget::doAction(action);
    }
};

QAccessibleInterface *navItemFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("NavHotArea") && object && object->isWidgetType())
        return new NavItemAccessible(static_cast<NavHotArea *>(object));
    return nullptr;
}

}  // namespace

NavHotArea::NavHotArea(int index, QWidget *parent) : QWidget(parent), m_index(index)
{
    installAccessibleFactoryOnce<navItemFactory>();
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

bool NavHotArea::isView() const { return m_index < kViews; }

void NavHotArea::setCurrent(bool current)
{
    if (m_current == current || !isView())
        return;
    m_current = current;
    if (accessibleevents::listening()) {
        QAccessible::State changed;
        changed.checked = true;
        QAccessibleStateChangeEvent event(this, changed);
        accessibleevents::send(&event);
    }
}

void NavHotArea::press()
{
    // Queued: an assistive tool's call returns before "New Task" opens its
    // modal editor.
    QMetaObject::invokeMethod(
        this, [this] { emit clicked(m_index); }, Qt::QueuedConnection);
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
