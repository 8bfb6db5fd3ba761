#pragma once

#include <QAccessible>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <map>

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

// The item interfaces of one list, made on first use and kept by number.
// Registered interfaces belong to QAccessible; this keeps only their ids and
// unregisters them when the list's items change or it goes.
class ItemAccessibleCache {
public:
    ItemAccessibleCache() = default;
    ItemAccessibleCache(const ItemAccessibleCache &) = delete;
    ItemAccessibleCache &operator=(const ItemAccessibleCache &) = delete;
    ~ItemAccessibleCache() { forget(); }

    // The item kept for `key`, or the one `make()` returns, now kept.
    template <typename Make> QAccessibleInterface *item(int key, Make make)
    {
        auto it = m_ids.find(key);
        if (it == m_ids.end())
            it = m_ids.emplace(key, QAccessible::registerAccessibleInterface(make())).first;
        return QAccessible::accessibleInterface(it->second);
    }
    // The key of a kept item, or -1.
    int keyOf(const QAccessibleInterface *item) const
    {
        for (const auto &[key, id] : m_ids)
            if (QAccessible::accessibleInterface(id) == item)
                return key;
        return -1;
    }
    void forget()
    {
        for (const auto &[key, id] : m_ids)
            QAccessible::deleteAccessibleInterface(id);
        m_ids.clear();
    }

private:
    std::map<int, QAccessible::Id> m_ids;
};

// Installs an accessibility factory the first time a widget it serves is
// made (QAccessible keeps every factory it is given, twice over if asked).
template <QAccessible::InterfaceFactory Factory> void installAccessibleFactoryOnce()
{
    static const bool installed = (QAccessible::installFactory(Factory), true);
    Q_UNUSED(installed);
}
