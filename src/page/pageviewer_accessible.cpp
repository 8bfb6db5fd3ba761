// What screen readers see: a list named by the page's heading whose items
// are the task blocks, the focus on the first task in view.
#include "page/pageviewer.h"
#include "page/pageviewer_p.h"

#include "common/itemaccessible.h"

#include <QAccessibleWidget>
#include <QScrollBar>

#include <algorithm>

namespace {

// Line and paragraph breaks and objects read as blanks in a name.
QString oneLine(QString text)
{
    for (QChar &c : text) {
        if (c == QChar::LineSeparator || c == QChar::ParagraphSeparator ||
            c == QChar::ObjectReplacementCharacter || c == u'\n')
            c = u' ';
    }
    return text.simplified();
}

// One task block as a screen reader sees it.
class PageItemAccessible : public ItemAccessible {
public:
    PageItemAccessible(PageViewer *viewer, int block) : ItemAccessible(viewer), m_block(block) { }

    PageViewer *viewer() const { return static_cast<PageViewer *>(m_owner.data()); }
    bool isValid() const override { return m_owner && m_block < viewer()->blockCount(); }
    QString name() const override { return viewer()->blockName(m_block); }
    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect r = viewer()->blockRect(m_block);
        return QRect(viewer()->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s.focusable = true;
        s.focused = viewer()->hasFocus() && viewer()->currentBlock() == m_block;
        s.invisible = !viewer()->isVisible();
        s.offscreen = !viewer()->viewport()->rect().intersects(viewer()->blockRect(m_block));
        return s;
    }

private:
    int m_block;
};

// The viewer as a list named by the page's heading, its items the task
// blocks (the heading itself and the scroll bars are left out).
class PageViewerAccessible : public QAccessibleWidget {
public:
    explicit PageViewerAccessible(PageViewer *viewer) : QAccessibleWidget(viewer, QAccessible::List)
    { }

    PageViewer *viewer() const { return static_cast<PageViewer *>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        QString text = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && text.isEmpty() && viewer()->blockCount() > 0)
            text = viewer()->blockName(0);
        return text;
    }
    int childCount() const override { return std::max(0, viewer()->blockCount() - 1); }
    QAccessibleInterface *child(int index) const override
    {
        const int block = index + 1;
        if (index < 0 || block >= viewer()->blockCount())
            return nullptr;
        return m_items.item(block, [&] { return new PageItemAccessible(viewer(), block); });
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        const int block = m_items.keyOf(child);
        return block > 0 && block < viewer()->blockCount() ? block - 1 : -1;
    }
    QAccessibleInterface *childAt(int x, int y) const override
    {
        const QPoint p = viewer()->viewport()->mapFromGlobal(QPoint(x, y));
        for (int block = 1; block < viewer()->blockCount(); ++block)
            if (viewer()->blockRect(block).contains(p))
                return child(block - 1);
        return nullptr;
    }
    QAccessibleInterface *focusChild() const override
    {
        const int block = viewer()->currentBlock();
        return viewer()->hasFocus() && block > 0 ? child(block - 1) : nullptr;
    }

private:
    mutable ItemAccessibleCache m_items;
};

}  // namespace

namespace pageviewer {

QAccessibleInterface *accessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("PageViewer") && object && object->isWidgetType())
        return new PageViewerAccessible(static_cast<PageViewer *>(object));
    return nullptr;
}

}  // namespace pageviewer

using namespace pageviewer;

QString PageViewer::blockName(int block) const
{
    if (block < 0 || block >= blockCount())
        return {};
    const Slot &s = m_slots[size_t(block)];
    if (s.name.isEmpty()) {
        // Read as the page is read, but never laid out.
        s.name = oneLine(readDocument(m_page.blocks[size_t(block)].name)->toPlainText());
    }
    return s.name;
}

int PageViewer::firstTaskAt(double y) const
{
    if (blockCount() < 2)
        return 0;
    const int k = blocksIn(y, y + 1).first;
    return std::clamp(k, 1, blockCount() - 1);
}

void PageViewer::makeCurrent(int block)
{
    if (block == m_current || block < 1 || block >= blockCount())
        return;
    m_current = block;
    if (hasFocus())
        announceCurrent();
}

void PageViewer::announceCurrent()
{
    if (m_current < 1)
        return;
    QAccessibleEvent event(this, QAccessible::Focus);
    event.setChild(m_current - 1);
    QAccessible::updateAccessibility(&event);
}

void PageViewer::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    // After Qt's own focus event for the viewer, so the item is what is said.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (hasFocus())
                announceCurrent();
        },
        Qt::QueuedConnection);
}
