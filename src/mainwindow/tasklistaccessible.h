#pragma once

class QAccessibleInterface;
class QObject;
class QString;

// Screen readers see the painted list as a list whose items are its rows,
// each named by its title, for and due text.
QAccessibleInterface *taskListAccessibleFactory(const QString &className, QObject *object);
