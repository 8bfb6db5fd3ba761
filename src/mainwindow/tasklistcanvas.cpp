#include "mainwindow/tasklistcanvas.h"

#include "common/color.h"
#include "common/itemaccessible.h"
#include "common/twips.h"
#include "mainwindow/tasklistaccessible.h"

#include <QAccessible>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyleOptionFocusRect>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {

QPushButton *makeHeaderButton(const QString &caption, QWidget *parent)
{
    auto *button = new QPushButton(caption, parent);
    button->setFont(sansFont());
    // Header buttons order the list; they need no keyboard default role.
    button->setAutoDefault(false);
    return button;
}

}  // namespace

TaskListCanvas::TaskListCanvas(QWidget *parent)
    : QWidget(parent), m_regular(sansFont()), m_bold(sansFont(8.25, true))
{
    setObjectName(QStringLiteral("lstContainer"));
    installAccessibleFactoryOnce<taskListAccessibleFactory>();
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Base));
    setPalette(pal);
    setFocusPolicy(Qt::StrongFocus);

    // Created in reverse so that cmdDue lies on top, as designed.
    cmdTitle = makeHeaderButton(tr("Title"), this);
    cmdFor = makeHeaderButton(tr("For"), this);
    cmdDue = makeHeaderButton(tr("Due"), this);
    cmdTitle->setObjectName(QStringLiteral("cmdTitle"));
    cmdFor->setObjectName(QStringLiteral("cmdFor"));
    cmdDue->setObjectName(QStringLiteral("cmdDue"));
    // Buttons and columns are placed by the window's layout.
    const FormGeometry design;
    m_columns = {design.lblTitle, design.lblFor, design.lblDue};
    m_rows.reserve(1002);
    m_rows.emplace_back();  // the template: hidden at Top 0 under the header
    m_filling.setSingleShot(true);
    m_filling.setInterval(0);
    connect(&m_filling, &QTimer::timeout, this, &TaskListCanvas::fillSlice);
}

int TaskListCanvas::addRow()
{
    ListRow copy = m_rows.front();
    copy.visible = false;
    if (m_firstPending == m_rows.size())
        ++m_firstPending;
    m_rows.push_back(std::move(copy));
    return elementCount() - 1;
}

void TaskListCanvas::setPending(int k, const DueFields &due)
{
    m_rows.at(static_cast<size_t>(k)).pending = due;
    m_firstPending = std::min(m_firstPending, static_cast<size_t>(k));
}

ListRow &TaskListCanvas::filled(int k) const
{
    ListRow &r = m_rows.at(static_cast<size_t>(k));
    if (r.pending) {
        const DueFields due = *r.pending;
        r.pending.reset();
        if (m_fill)
            m_fill(r, due);
    }
    return r;
}

bool TaskListCanvas::rowsPending() const
{
    while (m_firstPending < m_rows.size() && !m_rows[m_firstPending].pending)
        ++m_firstPending;
    return m_firstPending < m_rows.size();
}

void TaskListCanvas::fillSlice()
{
    // A slice of filling leaves input answered within a frame.
    constexpr qint64 kSliceNs = 4'000'000;
    QElapsedTimer clock;
    clock.start();
    while (m_firstPending < m_rows.size()) {
        filled(int(m_firstPending++));
        if ((m_firstPending & 15) == 0 && clock.nsecsElapsed() >= kSliceNs)
            break;
    }
    if (rowsPending())
        m_filling.start();
}

void TaskListCanvas::removeRows()
{
    const bool hadSelection = m_selectedRow > 0;
    m_selectedRow = 0;
    if (m_rows.size() > 1) {
        m_rows.resize(1);
        m_firstPending = 1;
        m_filling.stop();
        update();
        tasklistaccessible::rowsRebuilt(this);
        if (m_announcedFocus > 0)
            m_announcedFocus = -1;
    }
    if (hadSelection && hasFocus()) {
        // A redraw usually selects the row again; when it does not, the
        // focus of assistive tools falls back to the list.
        QMetaObject::invokeMethod(this, &TaskListCanvas::announceFocus, Qt::QueuedConnection);
        update(focusFrameRect());
    }
}

void TaskListCanvas::setSelectedRow(int k)
{
    if (k == m_selectedRow)
        return;
    const int old = m_selectedRow;
    m_selectedRow = k;
    if (hasFocus() && (old == 0 || k == 0))
        update(focusFrameRect());
    tasklistaccessible::selectionMoved(this, old, k);
    if (hasFocus())
        announceFocus();
}

void TaskListCanvas::announceFocus()
{
    if (!hasFocus() || m_announcedFocus == m_selectedRow)
        return;
    m_announcedFocus = m_selectedRow;
    tasklistaccessible::focusMoved(this, m_selectedRow);
}

void TaskListCanvas::setColumns(const TwipsRect &title, const TwipsRect &forWhom,
                                const TwipsRect &due, double headerHeight)
{
    const std::array<TwipsRect, 3> columns{title, forWhom, due};
    if (columns != m_columns || headerHeight != m_headerHeight) {
        m_columns = columns;
        m_headerHeight = headerHeight;
        update();
    }
}

QRect TaskListCanvas::cellRect(int k, ListColumn c) const
{
    const TwipsRect &col = m_columns[static_cast<int>(c)];
    return twipsRect(col.left, m_rows.at(static_cast<size_t>(k)).top, col.width, col.height);
}

void TaskListCanvas::updateRow(int k)
{
    if (k >= 1 && k < elementCount())
        update(cellRect(k, ListColumn::Title)
                   .united(cellRect(k, ListColumn::For))
                   .united(cellRect(k, ListColumn::Due)));
}

int TaskListCanvas::rowAt(int y) const
{
    const double h = rowHeight();
    const double below = pixelsToTwips(y) - rowTop(1);
    if (h <= 0 || below < 0)
        return -1;
    return static_cast<int>(below / h) + 1;
}

std::pair<int, int> TaskListCanvas::rowsIn(int top, int bottom) const
{
    // A row's text may reach a pixel into its neighbour's: one row of slack.
    const int first = std::max(1, rowAt(top) - 1);
    const int last = std::min(elementCount() - 1, std::max(rowAt(bottom), 0) + 1);
    return {first, last};
}

TaskListCanvas::Hit TaskListCanvas::hitTest(QPoint pos) const
{
    const int k = rowAt(pos.y());
    if (k < 1 || k >= elementCount() || !m_rows[static_cast<size_t>(k)].visible)
        return {};
    // Later columns lie on top where they overlap.
    for (ListColumn c : {ListColumn::Due, ListColumn::For, ListColumn::Title}) {
        if (cellRect(k, c).contains(pos))
            return {k, c};
    }
    return {};
}

bool TaskListCanvas::rowShown(int k) const
{
    if (k < 1 || k >= elementCount() || !m_rows[static_cast<size_t>(k)].visible)
        return false;
    const QRect r = cellRect(k, ListColumn::Title).united(cellRect(k, ListColumn::Due));
    const QWidget *viewport = parentWidget();
    return !viewport || r.intersects(viewport->rect().translated(-pos()));
}

QRect TaskListCanvas::focusFrameRect() const
{
    QRect shown = rect();
    if (const QWidget *viewport = parentWidget())
        shown &= viewport->rect().translated(-pos());
    // Below the header, inside the columns (the scroll bar overlaps the
    // container's right edge).
    shown.setTop(std::max(shown.top(), cmdFor->geometry().bottom() + 1));
    shown.setRight(std::min(shown.right(), cmdDue->geometry().right()));
    return shown;
}

QString TaskListCanvas::cutTextAt(QPoint pos) const
{
    const Hit hit = hitTest(pos);
    if (hit.row < 1)
        return {};
    const ListCell &cell = row(hit.row).cell(hit.column);
    const QFontMetrics metrics(cell.bold ? m_bold : m_regular);
    if (metrics.horizontalAdvance(cell.caption) <= cellRect(hit.row, hit.column).width())
        return {};
    return cell.caption;
}

QString TaskListCanvas::rowAccessibleText(int k) const
{
    const ListRow &r = row(k);
    return tr("%1, for %2, due %3")
        .arg(r.cell(ListColumn::Title).caption.trimmed(), r.cell(ListColumn::For).caption.trimmed(),
             r.cell(ListColumn::Due).caption.trimmed());
}

void TaskListCanvas::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QRect exposed = event->rect();
    const QColor themeText = palette().color(QPalette::Text);
    const auto [first, last] = rowsIn(exposed.top(), exposed.bottom());
    for (int k = first; k <= last; ++k) {
        const ListRow &r = row(k);
        if (!r.visible)
            continue;
        for (ListColumn c : {ListColumn::Title, ListColumn::For, ListColumn::Due}) {
            const QRect rect = cellRect(k, c);
            if (!rect.intersects(exposed) || rect.isEmpty())
                continue;
            const ListCell &cell = r.cell(c);
            if (cell.opaque)
                painter.fillRect(rect, colorFromValue(cell.backColor));
            painter.setClipRect(rect);
            painter.setFont(cell.bold ? m_bold : m_regular);
            // A row no rule colours follows the theme, so that it stays
            // readable on a dark one.
            painter.setPen(cell.themeText && !cell.opaque ? themeText : colorFromValue(cell.color));
            // A label shows one line from its left edge, cut where it ends.
            painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                             cell.caption);
            painter.setClipping(false);
        }
    }
    // The rows not in view, now that the view is on the screen.
    if (rowsPending() && !m_filling.isActive())
        m_filling.start();
    if (showsFocusFrame()) {
        // Nothing is selected, so no row shows where the focus is.
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = focusFrameRect().adjusted(1, 1, -1, -1);
        option.backgroundColor = palette().color(QPalette::Window);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void TaskListCanvas::mousePressEvent(QMouseEvent *event)
{
    const Hit hit = hitTest(event->position().toPoint());
    if (hit.row < 1) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    emit rowPressed(hit.row, event->button(), event->globalPosition().toPoint());
}

void TaskListCanvas::mouseDoubleClickEvent(QMouseEvent *event)
{
    const Hit hit = hitTest(event->position().toPoint());
    if (event->button() == Qt::LeftButton && hit.row >= 1) {
        event->accept();
        // As a press would: the row is selected, then opened.
        emit rowPressed(hit.row, event->button(), event->globalPosition().toPoint());
        emit openRequested();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

bool TaskListCanvas::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        const QString text = cutTextAt(help->pos());
        if (text.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            const Hit hit = hitTest(help->pos());
            QToolTip::showText(help->globalPos(), text, this, cellRect(hit.row, hit.column));
        }
        return true;
    }
    return QWidget::event(event);
}

void TaskListCanvas::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    // Qt tells of the list's own focus after this handler; the selected row
    // follows it, as in item views.
    m_announcedFocus = 0;
    if (m_selectedRow == 0)
        update(focusFrameRect());
    else
        QMetaObject::invokeMethod(this, &TaskListCanvas::announceFocus, Qt::QueuedConnection);
}

void TaskListCanvas::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    m_announcedFocus = -1;
    if (m_selectedRow == 0)
        update(focusFrameRect());
}

void TaskListCanvas::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    // Scrolling moves the canvas; the frame stays on the viewport.
    if (showsFocusFrame())
        update();
}

void TaskListCanvas::keyPressEvent(QKeyEvent *event)
{
    constexpr int kPage = 10;
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: emit openRequested(); break;
    case Qt::Key_Delete: emit deleteRequested(); break;
    case Qt::Key_Up: emit stepRequested(-1); break;
    case Qt::Key_Down: emit stepRequested(1); break;
    case Qt::Key_PageUp: emit stepRequested(-kPage); break;
    case Qt::Key_PageDown: emit stepRequested(kPage); break;
    case Qt::Key_Home: emit stepRequested(-elementCount()); break;
    case Qt::Key_End: emit stepRequested(elementCount()); break;
    case Qt::Key_Menu: emit menuRequested(); break;
    case Qt::Key_F10:
        if (event->modifiers() & Qt::ShiftModifier) {
            emit menuRequested();
            break;
        }
        QWidget::keyPressEvent(event);
        return;
    default: QWidget::keyPressEvent(event); return;
    }
    event->accept();
}
