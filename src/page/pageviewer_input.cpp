// Keys, mouse, selection and copying, as in a read-only QTextBrowser.
#include "page/pageviewer.h"
#include "page/pageviewer_p.h"

#include <QAbstractTextDocumentLayout>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <QStyleHints>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace pageviewer;

void PageViewer::keyPressEvent(QKeyEvent *event)
{
    // As a read-only QTextBrowser: the keys scroll the view, whatever task
    // a screen reader is on.
    QScrollBar *v = verticalScrollBar();
    event->accept();
    if (event->matches(QKeySequence::Copy)) {
        copy();
    } else if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        offerSelection();
    } else if (event->key() == Qt::Key_Space) {
        v->triggerAction((event->modifiers() & Qt::ShiftModifier)
                             ? QAbstractSlider::SliderPageStepSub
                             : QAbstractSlider::SliderPageStepAdd);
    } else if (event->key() == Qt::Key_Home && event->modifiers() == Qt::NoModifier) {
        v->triggerAction(QAbstractSlider::SliderToMinimum);
    } else if (event->key() == Qt::Key_End && event->modifiers() == Qt::NoModifier) {
        v->triggerAction(QAbstractSlider::SliderToMaximum);
    } else if ((event->modifiers() & Qt::AltModifier) &&
               (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right ||
                event->key() == Qt::Key_Up)) {
        // The browser's back, forward and home: a page with no history.
    } else {
        QAbstractScrollArea::keyPressEvent(event);
    }
    // A screen reader's item moves task by task among those in view, as in
    // an item view, while the view scrolls by line.
    const bool plain = event->modifiers() == Qt::NoModifier;
    const int next = m_current + (event->key() == Qt::Key_Down ? 1 : -1);
    if (plain && (event->key() == Qt::Key_Down || event->key() == Qt::Key_Up) && next > 0 &&
        next < blockCount() && viewport()->rect().intersects(blockRect(next)))
        makeCurrent(next);
}

void PageViewer::wheelEvent(QWheelEvent *event)
{
    // The wheel moves the bar's position before any action tells of it: the
    // page is measured as far as a turn can go first.
    QScrollBar *v = verticalScrollBar();
    const double turns = std::abs(event->angleDelta().y()) / 120.0;
    const int reach = std::max(v->pageStep(),
                               QGuiApplication::styleHints()->wheelScrollLines() * v->singleStep());
    if (std::abs(event->angleDelta().x()) > std::abs(event->angleDelta().y()))
        measureAll();
    else
        measureDownTo(v->value() + viewport()->height() + std::ceil(turns) * reach);
    QAbstractScrollArea::wheelEvent(event);
}

PageViewer::Place PageViewer::placeAt(QPoint viewportPos) const
{
    if (m_slots.empty())
        return {};
    const double x = horizontalScrollBar()->value() + viewportPos.x();
    const double y =
        verticalScrollBar()->value() + std::clamp(viewportPos.y(), 0, viewport()->height());
    const int block = blocksIn(y, y + 1).first;
    const Slot &s = m_slots[size_t(block)];
    if (!s.laidOut || !s.doc)
        return {block, 0};
    const QPointF inDoc(x, y - (contentTop(block) - s.docTop));
    return {block, std::max(0, s.doc->documentLayout()->hitTest(inDoc, Qt::FuzzyHit))};
}

std::pair<int, int> PageViewer::selectedIn(int block, const QTextDocument &doc) const
{
    const Place first = std::min(m_anchor, m_end);
    const Place last = std::max(m_anchor, m_end);
    if (first == last || block < first.block || block > last.block)
        return {0, 0};
    const int end = doc.characterCount() - 1;
    return {block == first.block ? std::min(first.position, end) : 0,
            block == last.block ? std::min(last.position, end) : end};
}

QString PageViewer::selectedText() const
{
    QStringList parts;
    for (int k = std::min(m_anchor, m_end).block;
         k >= 0 && k <= std::max(m_anchor, m_end).block && k < blockCount(); ++k) {
        // Blocks passed over without being seen are read now.
        const Slot &s = m_slots[size_t(k)];
        std::unique_ptr<QTextDocument> read;
        QTextDocument *doc = s.doc.get();
        if (!doc) {
            read = readDocument(m_page.blockHtml(size_t(k)));
            doc = read.get();
        }
        const auto [from, to] = selectedIn(k, *doc);
        if (from >= to)
            continue;
        QTextCursor cursor(doc);
        cursor.setPosition(from);
        cursor.setPosition(to, QTextCursor::KeepAnchor);
        parts << cursor.selection().toPlainText();
    }
    // Each part ends where its block does: the page's line breaks are in it.
    return parts.join(QString());
}

void PageViewer::copy() const
{
    const QString text = selectedText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

void PageViewer::offerSelection() const
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard->supportsSelection())
        return;
    const QString text = selectedText();
    if (!text.isEmpty())
        clipboard->setText(text, QClipboard::Selection);
}

void PageViewer::selectAll()
{
    if (m_slots.empty())
        return;
    m_anchor = {0, 0};
    m_end = {blockCount() - 1, std::numeric_limits<int>::max()};
    viewport()->update();
}

void PageViewer::selectIn(const Place &from, const Place &to)
{
    m_anchor = from;
    m_end = to;
    viewport()->update();
}

QString PageViewer::anchorAt(QPoint viewportPos) const
{
    if (m_slots.empty())
        return {};
    const double y = verticalScrollBar()->value() + viewportPos.y();
    const int block = blocksIn(y, y + 1).first;
    const Slot &s = m_slots[size_t(block)];
    if (!s.laidOut || !s.doc)
        return {};
    const QPointF inDoc(horizontalScrollBar()->value() + viewportPos.x(),
                        y - (contentTop(block) - s.docTop));
    return s.doc->documentLayout()->anchorAt(inDoc);
}

void PageViewer::mousePressEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    for (int k = 1; k < blockCount(); ++k) {
        if (blockRect(k).contains(pos)) {
            makeCurrent(k);
            break;
        }
    }
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    event->accept();
    const Place place = placeAt(pos);
    const QStyleHints *hints = QGuiApplication::styleHints();
    const bool third = m_sinceDoubleClick.isValid() &&
                       m_sinceDoubleClick.elapsed() < hints->mouseDoubleClickInterval() &&
                       (pos - m_doubleClickAt).manhattanLength() < hints->startDragDistance();
    m_sinceDoubleClick.invalidate();
    if (third && place.block >= 0 && m_slots[size_t(place.block)].doc) {
        // A third click: the paragraph, with its end.
        QTextCursor cursor(m_slots[size_t(place.block)].doc.get());
        cursor.setPosition(place.position);
        cursor.movePosition(QTextCursor::StartOfBlock);
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
        selectIn({place.block, cursor.selectionStart()}, {place.block, cursor.selectionEnd()});
        m_selecting = false;
        offerSelection();
        return;
    }
    if (event->modifiers() & Qt::ShiftModifier)
        m_end = place;
    else
        m_anchor = m_end = place;
    m_selecting = true;
    viewport()->update();
}

void PageViewer::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    event->accept();
    const QPoint pos = event->position().toPoint();
    const Place place = placeAt(pos);
    m_selecting = false;
    m_doubleClickAt = pos;
    m_sinceDoubleClick.start();
    if (place.block < 0 || !m_slots[size_t(place.block)].doc)
        return;
    QTextCursor cursor(m_slots[size_t(place.block)].doc.get());
    cursor.setPosition(place.position);
    cursor.select(QTextCursor::WordUnderCursor);
    if (!cursor.hasSelection())
        return;
    selectIn({place.block, cursor.selectionStart()}, {place.block, cursor.selectionEnd()});
    offerSelection();
}

void PageViewer::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (!m_selecting) {
        viewport()->setCursor(anchorAt(pos).isEmpty() ? Qt::ArrowCursor : Qt::PointingHandCursor);
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    // Dragged past an edge: the page comes along.
    if (pos.y() < 0)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (pos.y() >= viewport()->height())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    const Place end = placeAt(pos);
    if (!(end == m_end)) {
        m_end = end;
        viewport()->update();
    }
    event->accept();
}

void PageViewer::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_selecting && event->button() == Qt::LeftButton) {
        m_selecting = false;
        offerSelection();
        event->accept();
        return;
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void PageViewer::contextMenuEvent(QContextMenuEvent *event)
{
    // QTextBrowser's menu, with the shortcuts named as it names them.
    const auto withKey = [](const QString &text, QKeySequence::StandardKey key) {
        return text + u'\t' + QKeySequence(key).toString(QKeySequence::NativeText);
    };
    QMenu menu(this);
    QAction *copyAction =
        menu.addAction(withKey(tr("&Copy"), QKeySequence::Copy), this, &PageViewer::copy);
    copyAction->setObjectName(QStringLiteral("edit-copy"));
    copyAction->setEnabled(!selectedText().isEmpty());
    const QString link =
        event->reason() == QContextMenuEvent::Mouse ? anchorAt(event->pos()) : QString();
    QAction *linkAction = menu.addAction(tr("Copy &Link Location"), this,
                                         [link] { QGuiApplication::clipboard()->setText(link); });
    linkAction->setObjectName(QStringLiteral("link-copy"));
    linkAction->setEnabled(!link.isEmpty());
    menu.addSeparator();
    QAction *all = menu.addAction(withKey(tr("Select All"), QKeySequence::SelectAll), this,
                                  &PageViewer::selectAll);
    all->setObjectName(QStringLiteral("select-all"));
    all->setEnabled(!m_slots.empty());
    menu.exec(event->globalPos());
}
