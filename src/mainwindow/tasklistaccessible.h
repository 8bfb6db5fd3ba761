#pragma once

class QAccessibleInterface;
class QObject;
class QString;
class TaskListCanvas;

// Screen readers see the painted list as Qt's own list views show theirs:
// a list whose items are its rows, each named by its title, for and due
// text; the selected row is the focused item, and the list offers its
// selection through the table interface (one column).
QAccessibleInterface *taskListAccessibleFactory(const QString &className, QObject *object);

// What the canvas tells assistive tools; rows count from 1, 0 is none.
namespace tasklistaccessible {
// Every row was removed: row objects handed out before are gone.
void rowsRebuilt(TaskListCanvas *canvas);
void selectionMoved(TaskListCanvas *canvas, int from, int to);
// The row (or with 0 the list itself) has the keyboard focus.
void focusMoved(TaskListCanvas *canvas, int row);
}  // namespace tasklistaccessible
