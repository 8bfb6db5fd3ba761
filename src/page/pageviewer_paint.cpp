// Painting: the blocks that meet the exposed part, each inside its own band,
// in the page's own colours; the selection in the desktop's.
#include "page/pageviewer.h"

#include <QAbstractTextDocumentLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

void PageViewer::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    const QRect exposed = event->rect();
    painter.fillRect(exposed, pagePalette().color(QPalette::Base));
    if (m_slots.empty())
        return;
    if (m_width != viewport()->width())
        layOutVisible();
    const double x = horizontalScrollBar()->value();
    const double y = verticalScrollBar()->value();
    const auto [first, last] = blocksIn(y + exposed.top(), y + exposed.bottom() + 1);
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = pagePalette();
    // A selection is the desktop's, in its colours.
    QTextCharFormat selected;
    selected.setBackground(palette().brush(QPalette::Highlight));
    selected.setForeground(palette().brush(QPalette::HighlightedText));
    for (int k = first; k <= last; ++k) {
        const Slot &s = m_slots[size_t(k)];
        if (!s.laidOut || !s.doc)
            continue;
        const QPointF origin(-x, contentTop(k) - s.docTop - y);
        const QRect band = bandRect(k).intersected(exposed);
        painter.save();
        painter.setClipRect(band);
        painter.translate(origin);
        context.clip = QRectF(band).translated(-origin);
        context.selections.clear();
        if (const auto [from, to] = selectedIn(k, *s.doc); from < to) {
            QTextCursor cursor(s.doc.get());
            cursor.setPosition(from);
            cursor.setPosition(to, QTextCursor::KeepAnchor);
            context.selections.append({cursor, selected});
        }
        s.doc->documentLayout()->draw(&painter, context);
        painter.restore();
    }
    // The rest of the page is measured once what is seen is on screen.
    if (!m_measuring.isActive() && !allMeasured())
        m_measuring.start();
}
