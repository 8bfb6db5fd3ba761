#include "mainwindow/tasklistaccessible.h"

#include "mainwindow/tasklistcanvas.h"

#include <QAccessibleWidget>
#include <QPointer>

#include <map>

namespace {

class RowAccessible : public QAccessibleInterface {
public:
    RowAccessible(TaskListCanvas *canvas, int row) : m_canvas(canvas), m_row(row) { }

    bool isValid() const override { return m_canvas && m_row < m_canvas->elementCount(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override
    {
        return m_canvas ? m_canvas->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface *parent() const override
    {
        return m_canvas ? QAccessible::queryAccessibleInterface(m_canvas) : nullptr;
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override
    {
        if (!isValid() || (t != QAccessible::Name && t != QAccessible::Description))
            return {};
        return m_canvas->rowAccessibleText(m_row);
    }
    void setText(QAccessible::Text, const QString &) override { }
    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect r = m_canvas->cellRect(m_row, ListColumn::Title)
                            .united(m_canvas->cellRect(m_row, ListColumn::Due));
        return QRect(m_canvas->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        s.selectable = true;
        if (isValid())
            s.selected = m_canvas->selectedRow() == m_row;
        else
            s.invalid = true;
        return s;
    }

private:
    QPointer<TaskListCanvas> m_canvas;
    int m_row;
};

class TaskListAccessible : public QAccessibleWidget {
public:
    explicit TaskListAccessible(TaskListCanvas *canvas)
        : QAccessibleWidget(canvas, QAccessible::List, QStringLiteral("Tasks"))
    { }

    TaskListCanvas *canvas() const { return static_cast<TaskListCanvas *>(widget()); }
    int widgetChildren() const { return QAccessibleWidget::childCount(); }
    // Rows 1 .. elementCount-1 follow the header buttons.
    int childCount() const override { return widgetChildren() + canvas()->elementCount() - 1; }
    QAccessibleInterface *child(int index) const override
    {
        const int base = widgetChildren();
        if (index < base)
            return QAccessibleWidget::child(index);
        const int row = index - base + 1;
        if (row < 1 || row >= canvas()->elementCount())
            return nullptr;
        auto it = m_rows.find(row);
        if (it == m_rows.end()) {
            auto *iface = new RowAccessible(canvas(), row);
            // Registered interfaces belong to QAccessible; we keep only the id.
            const QAccessible::Id id = QAccessible::registerAccessibleInterface(iface);
            it = m_rows.emplace(row, id).first;
        }
        return QAccessible::accessibleInterface(it->second);
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        for (const auto &[row, id] : m_rows)
            if (QAccessible::accessibleInterface(id) == child)
                return row < canvas()->elementCount() ? widgetChildren() + row - 1 : -1;
        return QAccessibleWidget::indexOfChild(child);
    }
    ~TaskListAccessible() override
    {
        for (const auto &[row, id] : m_rows)
            QAccessible::deleteAccessibleInterface(id);
    }

private:
    mutable std::map<int, QAccessible::Id> m_rows;
};

}  // namespace

QAccessibleInterface *taskListAccessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("TaskListCanvas") && object && object->isWidgetType())
        return new TaskListAccessible(static_cast<TaskListCanvas *>(object));
    return nullptr;
}
