#pragma once

#include <QAccessible>
#include <QPointer>
#include <QWidget>
#include <QWindow>

// A list item that its owner widget paints, with no widget of its own (a
// row of the task list, a task of the alert page): what every such item
// answers alike. A subclass says whether it still stands, its name, place
// and state.
class ItemAccessible : public QAccessibleInterface {
public:
    explicit ItemAccessible(QWidget *owner) : m_owner(owner) { }

    virtual QString name() const = 0;

    QObject *object() const override { return nullptr; }
    QWindow *window() const override
    {
        return m_owner ? m_owner->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface *parent() const override
    {
        return m_owner ? QAccessible::queryAccessibleInterface(m_owner) : nullptr;
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override
    {
        return isValid() && t == QAccessible::Name ? name() : QString();
    }
    void setText(QAccessible::Text, const QString &) override { }
    QAccessible::Role role() const override { return QAccessible::ListItem; }

protected:
    QPointer<QWidget> m_owner;
};
