#include "mainwindow/tasklistaccessible.h"

#include "common/accessibleevents.h"
#include "common/itemaccessible.h"
#include "mainwindow/tasklistcanvas.h"

#include <QAccessibleWidget>
#include <QPointer>

namespace {

class RowAccessible : public ItemAccessible, public QAccessibleTableCellInterface {
public:
    RowAccessible(TaskListCanvas *canvas, int row) : ItemAccessible(canvas), m_row(row) { }

    TaskListCanvas *canvas() const { return static_cast<TaskListCanvas *>(m_owner.data()); }
    bool isValid() const override { return m_owner && m_row < canvas()->elementCount(); }
    QString name() const override { return canvas()->rowAccessibleText(m_row); }
    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect r = canvas()
                            ->cellRect(m_row, ListColumn::Title)
                            .united(canvas()->cellRect(m_row, ListColumn::Due));
        return QRect(canvas()->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s.selectable = true;
        s.focusable = true;
        s.selected = isSelected();
        s.focused = s.selected && canvas()->hasFocus();
        if (!canvas()->rowShown(m_row)) {
            s.invisible = true;
            s.offscreen = true;
        }
        return s;
    }
    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TableCellInterface)
            return static_cast<QAccessibleTableCellInterface *>(this);
        return nullptr;
    }

    // One column; the rows count from 0 here as in every table.
    bool isSelected() const override { return isValid() && canvas()->selectedRow() == m_row; }
    QList<QAccessibleInterface *> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface *> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return 0; }
    int rowIndex() const override { return m_row - 1; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface *table() const override { return parent(); }

private:
    int m_row;
};

class TaskListAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit TaskListAccessible(TaskListCanvas *canvas)
        : QAccessibleWidget(canvas, QAccessible::List, QStringLiteral("Tasks"))
    { }

    TaskListCanvas *canvas() const { return static_cast<TaskListCanvas *>(widget()); }
    int widgetChildren() const { return QAccessibleWidget::childCount(); }
    int rows() const { return canvas()->elementCount() - 1; }
    // Rows 1 .. elementCount-1 follow the header buttons.
    int indexOfRow(int row) const { return widgetChildren() + row - 1; }

    int childCount() const override { return widgetChildren() + rows(); }
    QAccessibleInterface *child(int index) const override
    {
        const int base = widgetChildren();
        if (index < base)
            return QAccessibleWidget::child(index);
        return rowInterface(index - base + 1);
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        if (const int row = m_rows.keyOf(child); row >= 0)
            return row <= rows() ? indexOfRow(row) : -1;
        return QAccessibleWidget::indexOfChild(child);
    }
    QAccessibleInterface *focusChild() const override
    {
        if (canvas()->hasFocus() && canvas()->selectedRow() > 0)
            return rowInterface(canvas()->selectedRow());
        return QAccessibleWidget::focusChild();
    }
    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    // The table interface: one column, a row per task; at most one selected.
    QAccessibleInterface *caption() const override { return nullptr; }
    QAccessibleInterface *summary() const override { return nullptr; }
    QAccessibleInterface *cellAt(int row, int column) const override
    {
        return column == 0 ? rowInterface(row + 1) : nullptr;
    }
    int selectedCellCount() const override { return selectedRowCount(); }
    QList<QAccessibleInterface *> selectedCells() const override
    {
        if (QAccessibleInterface *row = rowInterface(canvas()->selectedRow()))
            return {row};
        return {};
    }
    QString columnDescription(int) const override { return {}; }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return canvas()->selectedRow() > 0 ? 1 : 0; }
    int columnCount() const override { return 1; }
    int rowCount() const override { return rows(); }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override
    {
        if (canvas()->selectedRow() > 0)
            return {canvas()->selectedRow() - 1};
        return {};
    }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override { return canvas()->selectedRow() == row + 1; }
    bool selectRow(int row) override
    {
        if (row < 0 || row >= rows())
            return false;
        emit canvas()->selectRequested(row + 1);
        return canvas()->selectedRow() == row + 1;
    }
    // One row is always selected once any is: nothing to take away.
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent *) override { forgetRows(); }

private:
    QAccessibleInterface *rowInterface(int row) const
    {
        if (row < 1 || row > rows())
            return nullptr;
        return m_rows.item(row, [&] { return new RowAccessible(canvas(), row); });
    }
    void forgetRows() { m_rows.forget(); }

    mutable ItemAccessibleCache m_rows;
};

TaskListAccessible *listOf(const TaskListCanvas *canvas)
{
    QAccessibleInterface *iface =
        QAccessible::queryAccessibleInterface(const_cast<TaskListCanvas *>(canvas));
    return iface ? dynamic_cast<TaskListAccessible *>(iface) : nullptr;
}

void sendRowEvent(TaskListCanvas *canvas, QAccessible::Event type, int row)
{
    const TaskListAccessible *list = listOf(canvas);
    if (!list || row < 1 || row > list->rows())
        return;
    QAccessibleEvent event(canvas, type);
    event.setChild(list->indexOfRow(row));
    accessibleevents::send(&event);
}

}  // namespace

QAccessibleInterface *taskListAccessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("TaskListCanvas") && object && object->isWidgetType())
        return new TaskListAccessible(static_cast<TaskListCanvas *>(object));
    return nullptr;
}

namespace tasklistaccessible {

void rowsRebuilt(TaskListCanvas *canvas)
{
    if (!accessibleevents::listening())
        return;
    QAccessibleTableModelChangeEvent event(canvas, QAccessibleTableModelChangeEvent::ModelReset);
    accessibleevents::send(&event);
}

void selectionMoved(TaskListCanvas *canvas, int from, int to)
{
    if (!accessibleevents::listening())
        return;
    // As QListView: the row that lost the selection, then the one that took it.
    if (from > 0)
        sendRowEvent(canvas, QAccessible::SelectionRemove, from);
    if (to > 0)
        sendRowEvent(canvas, QAccessible::SelectionAdd, to);
}

void focusMoved(TaskListCanvas *canvas, int row)
{
    if (!accessibleevents::listening())
        return;
    if (row > 0) {
        sendRowEvent(canvas, QAccessible::Focus, row);
        return;
    }
    QAccessibleEvent event(canvas, QAccessible::Focus);
    accessibleevents::send(&event);
}

}  // namespace tasklistaccessible
